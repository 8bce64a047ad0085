// Throughput of the whole chain: modify_samples on ten seconds of a
// programme-like stereo signal in 4096-frame blocks, as a host would call it.
// Reports frames per second and the realtime factor at 44.1 kHz.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <numbers>
#include <vector>

#include "chain/sample_loop.h"
#include "settings/derive.h"
#include "settings/startup.h"

namespace {

using namespace qv;

constexpr int kRate = 44100;
constexpr int kBlockFrames = 4096;
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

struct Module {
    std::unique_ptr<Settings> s = std::make_unique<Settings>();
    std::unique_ptr<ChainState> c = std::make_unique<ChainState>();
};

void run_chain(benchmark::State& state, void (*configure)(GlobalParams&)) {
    static const std::vector<std::int16_t> signal = make_signal();
    Module m;
    fill_defaults(m.s->live);
    configure(m.s->live.global);
    clamp_ratios(m.s->live);
    derive_all_sections(m.s->live, m.s->section_state, m.s->band_gain_level);
    recompute_all(*m.s);
    build_test_tone_table(m.c->tone);
    build_fir_taps(m.c->output);
    clear_stereo_expander(m.c->expander);

    std::vector<std::int16_t> block(2 * kBlockFrames);
    std::size_t at = 0;
    std::int64_t frames = 0;
    for (auto _ : state) {
        if (at + block.size() > signal.size()) at = 0;
        std::memcpy(block.data(), signal.data() + at, block.size() * sizeof(std::int16_t));
        at += block.size();
        modify_samples(*m.s, *m.c, block.data(), kBlockFrames, 16, 2, kRate);
        benchmark::DoNotOptimize(block.data());
        frames += kBlockFrames;
    }
    state.counters["frames/s"] = benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
    state.counters["realtime_x"] = benchmark::Counter(static_cast<double>(frames) / kRate, benchmark::Counter::kIsRate);
}

void default_process(GlobalParams&) {}

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

void BM_DefaultProcess(benchmark::State& state) { run_chain(state, default_process); }
void BM_HeaviestSwitches(benchmark::State& state) { run_chain(state, heaviest_switches); }

BENCHMARK(BM_DefaultProcess)->Unit(benchmark::kMicrosecond)->MinTime(2.0);
BENCHMARK(BM_HeaviestSwitches)->Unit(benchmark::kMicrosecond)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
