// Throughput of the plug-in core as a host drives it: ten seconds of a
// stereo programme-like float signal in 512-frame blocks, at 44.1 kHz
// (straight through the chain) and at 48 kHz (through the resamplers).
// realtime_x is seconds of audio processed per second.
#include <benchmark/benchmark.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "plugins/plugin_core.h"

namespace {

using namespace qv::plugin;

constexpr int kHostBlock = 512;

void run_at(benchmark::State& state, double rate) {
    const int frames = static_cast<int>(10 * rate);
    std::vector<float> in_l(frames), in_r(frames), out_l(kHostBlock), out_r(kHostBlock);
    const double k = 2 * std::numbers::pi / rate;
    for (int n = 0; n < frames; ++n) {
        const double ride = 0.3 + 0.25 * std::sin(k * 0.25 * n);
        const double beat = std::exp(-std::fmod(n, rate / 4) / (rate / 30));
        in_l[n] = static_cast<float>(ride * (0.5 * beat * std::sin(k * 55 * n) + 0.2 * std::sin(k * 440 * n)));
        in_r[n] = static_cast<float>(ride * (0.5 * beat * std::sin(k * 55 * n) + 0.2 * std::sin(k * 660 * n)));
    }
    auto core = core_create(rate, LogSink{});
    float zero = 0.0f, latency = 0.0f;
    for (int p = kProcess; p < kLatency; ++p) core->port[p] = &zero;
    core->port[kLatency] = &latency;
    core_activate(*core);
    core->port[kOutLeft] = out_l.data();
    core->port[kOutRight] = out_r.data();
    for (auto _ : state) {
        for (int done = 0; done + kHostBlock <= frames; done += kHostBlock) {
            core->port[kInLeft] = in_l.data() + done;
            core->port[kInRight] = in_r.data() + done;
            core_run(*core, kHostBlock);
        }
        benchmark::DoNotOptimize(out_l.data());
    }
    const double seconds = static_cast<double>(frames / kHostBlock * kHostBlock) / rate;
    state.counters["realtime_x"] =
        benchmark::Counter(seconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["latency_frames"] = latency;
}

void BM_Plugin44k1(benchmark::State& state) { run_at(state, 44100.0); }
void BM_Plugin48k(benchmark::State& state) { run_at(state, 48000.0); }
BENCHMARK(BM_Plugin44k1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Plugin48k)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
