// Throughput of the whole chain: a processor on ten seconds of a
// programme-like stereo signal in 4096-frame blocks, as a host would call it,
// on a dense, loud programme (every band busy on every frame, as on loud
// real material, which calls the gain computers' pow far more often), and on
// digital silence after programme; and the dense programme with the
// true-peak ceiling after the chain (-1 dBTP), to be read against
// BM_DefaultProcessDense of the same run. Reports frames per second, the
// realtime factor at 44.1 kHz and the microseconds one second of audio costs.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <numbers>
#include <vector>

#include "bench/bench_common.h"
#include "chain/sample_loop.h"

namespace {

using namespace qv;
using namespace qv::bench;

constexpr int kSignalFrames = 10 * kRate;

// Bass line, chords and hi-hat-like noise with a level ride and phrases of
// near-silence, different in each channel, so that every detector, gate and
// envelope takes all its branches.
std::vector<std::int16_t> make_signal() {
    std::vector<std::int16_t> v(2 * static_cast<std::size_t>(kSignalFrames));
    std::uint32_t seed = 12345;
    const double k = 2 * std::numbers::pi / kRate;
    for (int n = 0; n < kSignalFrames; ++n) {
        seed = seed * 1664525u + 1013904223u;
        const double noise = static_cast<double>(seed) / 2147483648.0 - 1.0;
        const double beat = std::exp(-static_cast<double>(n % 11025) / 1500);
        const double ride = 0.5 + 0.4 * std::sin(k * 0.25 * n);
        const double pause = (n / 33075) % 5 == 4 ? 0.003 : 1.0;
        const double bass = 8000 * beat * std::sin(k * (55 + 27.5 * ((n / 22050) % 3)) * n);
        const double chord = 3000 * (std::sin(k * 261.6 * n) + std::sin(k * 329.6 * n) + std::sin(k * 392 * n));
        const double hats = 2500 * noise * std::exp(-static_cast<double>(n % 5512) / 400);
        const double l = pause * ride * (bass + chord + hats);
        const double r = pause * ride * (bass + 0.8 * chord - 0.6 * hats + 1500 * std::sin(k * 3520 * n));
        v[2 * n] = static_cast<std::int16_t>(std::lrint(std::fmax(-32768, std::fmin(32767, l))));
        v[2 * n + 1] = static_cast<std::int16_t>(std::lrint(std::fmax(-32768, std::fmin(32767, r))));
    }
    return v;
}

const std::vector<std::int16_t>& synthetic_signal() {
    static const std::vector<std::int16_t> signal = make_signal();
    return signal;
}

void run_chain(benchmark::State& state, const std::vector<std::int16_t>& signal, void (*configure)(GlobalParams&),
               const ProcessorOptions& options = {}) {
    auto m = make(configure, options);
    std::vector<std::int16_t> block(2 * kBlockFrames);
    std::size_t at = 0;
    std::int64_t frames = 0;
    for (auto _ : state) {
        if (at + block.size() > signal.size()) at = 0;
        std::memcpy(block.data(), signal.data() + at, block.size() * sizeof(std::int16_t));
        at += block.size();
        processor_run(*m, block.data(), kBlockFrames, 2);
        benchmark::DoNotOptimize(block.data());
        frames += kBlockFrames;
    }
    count_frames(state, frames);
}

// Digital silence after loud programme: the recursive filters decay toward
// zero, through subnormal numbers unless the chain's floating-point mode
// flushes them. Each 60 s of silence follows 10 s of programme (not timed).
// with_chain_mode false runs the chain in the host's default mode, to show
// what the mode saves.
void run_silence_after_programme(benchmark::State& state, bool with_chain_mode) {
    const std::vector<std::int16_t>& signal = synthetic_signal();
    auto m = make([](GlobalParams&) {});
    std::vector<std::int16_t> block(2 * kBlockFrames);
    auto run = [&](std::int16_t* data) {
        if (with_chain_mode)
            processor_run(*m, data, kBlockFrames, 2);
        else
            modify_samples(m->channel, m->chain, data, kBlockFrames, 16, 2, kRate);
    };
    auto programme = [&] {
        for (std::size_t at = 0; at + block.size() <= signal.size(); at += block.size()) {
            std::memcpy(block.data(), signal.data() + at, block.size() * sizeof(std::int16_t));
            run(block.data());
        }
    };
    constexpr int kSilentBlocks = 60 * kRate / kBlockFrames;
    programme();
    int silent = 0;
    std::int64_t frames = 0;
    for (auto _ : state) {
        if (silent == kSilentBlocks) {
            state.PauseTiming();
            programme();
            silent = 0;
            state.ResumeTiming();
        }
        std::fill(block.begin(), block.end(), 0);
        run(block.data());
        benchmark::DoNotOptimize(block.data());
        ++silent;
        frames += kBlockFrames;
    }
    count_frames(state, frames);
}

// 15 kHz input LPF, AM filter, Track RMS, band expanders and limiters, the
// output FIR (pre-emphasis on) and the stereo expander's injection.
void heaviest_switches(GlobalParams& g) {
    g.option_flags |= option::input_lpf_15k | option::am_filter | option::track_rms;
    g.expander_on = 1;
    g.limiter_on = 1;
    g.preemphasis_on = 1;
    g.stereo_level_pct = 50;
    g.stereo_depth_ms = 12;
}

void BM_DefaultProcess(benchmark::State& state) { run_chain(state, synthetic_signal(), default_process); }
void BM_HeaviestSwitches(benchmark::State& state) { run_chain(state, synthetic_signal(), heaviest_switches); }
void BM_DefaultProcessDense(benchmark::State& state) { run_chain(state, dense_signal(), default_process); }
void BM_HeaviestSwitchesDense(benchmark::State& state) { run_chain(state, dense_signal(), heaviest_switches); }
void BM_DefaultProcessDenseCeiling(benchmark::State& state) {
    run_chain(state, dense_signal(), default_process, ProcessorOptions{true, -1.0});
}
void BM_SilenceAfterProgramme(benchmark::State& state) { run_silence_after_programme(state, true); }
void BM_SilenceAfterProgrammeHostFpMode(benchmark::State& state) { run_silence_after_programme(state, false); }

BENCHMARK(BM_DefaultProcess)->Unit(benchmark::kMicrosecond)->MinTime(2.0);
BENCHMARK(BM_HeaviestSwitches)->Unit(benchmark::kMicrosecond)->MinTime(2.0);
BENCHMARK(BM_DefaultProcessDense)->Unit(benchmark::kMicrosecond)->MinTime(2.0);
BENCHMARK(BM_HeaviestSwitchesDense)->Unit(benchmark::kMicrosecond)->MinTime(2.0);
BENCHMARK(BM_DefaultProcessDenseCeiling)->Unit(benchmark::kMicrosecond)->MinTime(2.0);
BENCHMARK(BM_SilenceAfterProgramme)->Unit(benchmark::kMicrosecond)->MinTime(2.0);
BENCHMARK(BM_SilenceAfterProgrammeHostFpMode)->Unit(benchmark::kMicrosecond)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
