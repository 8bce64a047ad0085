// Cost of the true-peak limiter at -1 dBTP: alone on the default chain's
// output of the dense programme (what it will see on air), and after the
// chain on the dense programme, to be read against BM_DefaultProcessDense of
// the same run (same signal, blocks and processor). Both convert the chain's
// 16-bit samples to doubles and round the limiter's output back, as a front
// end will. Reports frames per second, the realtime factor at 44.1 kHz and
// the microseconds one second of stereo audio costs.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "dsp/true_peak_limiter.h"
#include "engine/processor.h"
#include "settings/startup.h"
#include "tools/demo_programme.h"

namespace {

using namespace qv;

constexpr int kRate = 44100;
constexpr int kBlockFrames = 4096;

std::unique_ptr<Processor> default_processor() {
    ProcessParams p;
    fill_defaults(p);
    return make_processor(p);
}

const std::vector<std::int16_t>& dense_signal() {
    static const std::vector<std::int16_t> signal = demo::dense_programme(24);
    return signal;
}

const std::vector<std::int16_t>& chain_output() {
    static const std::vector<std::int16_t> out = [] {
        std::vector<std::int16_t> v = dense_signal();
        auto m = default_processor();
        for (std::size_t at = 0; at + 2 * kBlockFrames <= v.size(); at += 2 * kBlockFrames)
            processor_run(*m, v.data() + at, kBlockFrames, 2);
        return v;
    }();
    return out;
}

struct Ceiling {
    TruePeakLimiterCoefs coefs = design_true_peak_limiter(-1.0);
    std::unique_ptr<TruePeakLimiterState> state = std::make_unique<TruePeakLimiterState>();
    double samples[2 * kBlockFrames];
    Ceiling() { reset_true_peak_limiter(*state); }
    void run(std::int16_t* block) {
        for (int i = 0; i < 2 * kBlockFrames; ++i) samples[i] = block[i];
        true_peak_limit(coefs, *state, samples, kBlockFrames);
        for (int i = 0; i < 2 * kBlockFrames; ++i) block[i] = static_cast<std::int16_t>(std::lrint(samples[i]));
    }
};

void count_frames(benchmark::State& state, std::int64_t frames) {
    state.counters["frames/s"] = benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
    state.counters["realtime_x"] = benchmark::Counter(static_cast<double>(frames) / kRate, benchmark::Counter::kIsRate);
    state.counters["us_per_audio_s"] = benchmark::Counter(static_cast<double>(frames) / kRate * 1e-6,
                                                          benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// with_chain: the processor runs first on each block, the limiter on its output.
void run(benchmark::State& state, bool with_chain) {
    const std::vector<std::int16_t>& signal = with_chain ? dense_signal() : chain_output();
    auto m = default_processor();
    auto ceiling = std::make_unique<Ceiling>();
    std::vector<std::int16_t> block(2 * kBlockFrames);
    std::size_t at = 0;
    std::int64_t frames = 0;
    for (auto _ : state) {
        if (at + block.size() > signal.size()) at = 0;
        std::memcpy(block.data(), signal.data() + at, block.size() * sizeof(std::int16_t));
        at += block.size();
        if (with_chain) processor_run(*m, block.data(), kBlockFrames, 2);
        ceiling->run(block.data());
        benchmark::DoNotOptimize(block.data());
        frames += kBlockFrames;
    }
    count_frames(state, frames);
}

void BM_TruePeakLimiterOnChainOutput(benchmark::State& state) { run(state, false); }
void BM_DefaultProcessDenseCeiling(benchmark::State& state) { run(state, true); }

BENCHMARK(BM_TruePeakLimiterOnChainOutput)->Unit(benchmark::kMicrosecond)->MinTime(2.0);
BENCHMARK(BM_DefaultProcessDenseCeiling)->Unit(benchmark::kMicrosecond)->MinTime(2.0);

}  // namespace
