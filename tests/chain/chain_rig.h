#pragma once
// A fresh module-sized chain for tests: settings loaded like Init loads them,
// the Init-built tables, deterministic stimuli and an output checksum. Whole
// blocks run in the chain's floating-point mode, as the host entry points
// run them.
#include <cmath>
#include <cstdint>
#include <memory>
#include <numbers>
#include <vector>

#include "chain/sample_loop.h"
#include "platform/fp_mode.h"
#include "settings/derive.h"
#include "settings/startup.h"

namespace qv::test {

struct Rig {
    std::unique_ptr<Settings> s = std::make_unique<Settings>();
    std::unique_ptr<ParamChannel> ch = std::make_unique<ParamChannel>();
    std::unique_ptr<ChainState> c = std::make_unique<ChainState>();
    GlobalParams& g() { return s->live.global; }

    // Defaults, derived as the startup load and Init's recomputation do.
    Rig() {
        fill_defaults(s->live);
        derive();
        build_test_tone_table(c->tone);
        build_fir_taps(c->output);
        clear_stereo_expander(c->expander);
    }
    // Re-derives everything after a test changed parameters, and restarts
    // the memories at the next block (what Load does).
    void derive() {
        clamp_ratios(s->live);
        derive_all_sections(s->live, s->section_coefs, s->band_gain_level);
        recompute_all(*s);
        reset_switches(*s);
        request_memory_reset(*s);
        apply_requests(*s, *c);  // at once, for tests that drive single stages
        load_thresholds(c->bands, s->section_coefs);
    }
    // Every run plays the settings as the test left them.
    int run(std::vector<std::int16_t>& block, int nch = 2, int srate = 44100) {
        const int frames = static_cast<int>(block.size()) / nch;
        publish_params(*ch, *s);
        const platform::ChainFpMode mode;
        return modify_samples(*ch, *c, block.data(), frames, 16, nch, srate);
    }
    // Runs the stream in blocks of at most block_frames.
    void run_in_blocks(std::vector<std::int16_t>& stream, int block_frames, int nch = 2) {
        const int frames = static_cast<int>(stream.size()) / nch;
        publish_params(*ch, *s);
        const platform::ChainFpMode mode;
        for (int at = 0; at < frames; at += block_frames) {
            const int n = frames - at < block_frames ? frames - at : block_frames;
            modify_samples(*ch, *c, stream.data() + static_cast<std::ptrdiff_t>(at) * nch, n, 16, nch, 44100);
        }
    }
};

// Deterministic 32-bit LCG (Numerical Recipes constants).
struct Lcg {
    std::uint32_t state;
    std::uint32_t next() { return state = state * 1664525u + 1013904223u; }
    // Uniform in [-1, 1).
    double uniform() { return static_cast<double>(next()) / 2147483648.0 - 1.0; }
};

inline std::int16_t to_pcm(double x) {
    if (x > 32767) return 32767;
    if (x < -32768) return -32768;
    return static_cast<std::int16_t>(std::lrint(x));
}

// Interleaved stereo stimuli.
inline std::vector<std::int16_t> full_scale_noise(int frames, std::uint32_t seed) {
    Lcg rng{seed};
    std::vector<std::int16_t> v(2 * static_cast<std::size_t>(frames));
    for (auto& x : v) x = static_cast<std::int16_t>(rng.next() >> 16);
    return v;
}

inline std::vector<std::int16_t> square_wave(int frames, int period, std::int16_t amp) {
    std::vector<std::int16_t> v(2 * static_cast<std::size_t>(frames));
    for (int n = 0; n < frames; ++n) {
        const std::int16_t x = (n % period) < period / 2 ? amp : static_cast<std::int16_t>(-amp);
        v[2 * n] = x;
        v[2 * n + 1] = static_cast<std::int16_t>(-x / 2);
    }
    return v;
}

// Programme-like material: bass, mid and treble tones with a slow level
// ride, a different mix per channel, noise bursts and a quiet passage.
inline std::vector<std::int16_t> programme(int frames, std::uint32_t seed) {
    Lcg rng{seed};
    std::vector<std::int16_t> v(2 * static_cast<std::size_t>(frames));
    const double k = 2 * std::numbers::pi / 44100;
    for (int n = 0; n < frames; ++n) {
        const double ride = 0.55 + 0.45 * std::sin(k * 0.7 * n);
        const double quiet = (n / 11025) % 4 == 3 ? 0.01 : 1.0;
        const double burst = (n / 2205) % 7 == 2 ? 3000 * rng.uniform() : 0;
        const double bass = 9000 * std::sin(k * 55 * n);
        const double mid = 6000 * std::sin(k * 440 * n + 0.3 * std::sin(k * 3 * n));
        const double high = 2500 * std::sin(k * 6300 * n);
        v[2 * n] = to_pcm(quiet * (ride * (bass + mid + high) + burst));
        v[2 * n + 1] = to_pcm(quiet * (ride * (bass + 0.7 * mid - high) + 0.5 * burst));
    }
    return v;
}

// FNV-1a over the 16-bit samples, low byte first.
inline std::uint64_t fnv1a(const std::vector<std::int16_t>& v) {
    std::uint64_t h = 1469598103934665603ull;
    for (std::int16_t x : v) {
        const auto u = static_cast<std::uint16_t>(x);
        for (int b = 0; b < 2; ++b) {
            h ^= (u >> (8 * b)) & 0xFF;
            h *= 1099511628211ull;
        }
    }
    return h;
}

// Steady-state amplitude of a sine through step(x) -> y, by correlation over
// whole periods after settle samples.
template <class Step>
double sine_gain(double freq_hz, Step&& step, int settle = 22050, double amp = 1000.0) {
    constexpr int kMeasure = 44100;
    const double w = 2 * std::numbers::pi * freq_hz / 44100;
    double sn = 0, cs = 0;
    for (int n = 0; n < settle + kMeasure; ++n) {
        const double y = step(amp * std::sin(w * n));
        if (n < settle) continue;
        sn += y * std::sin(w * n);
        cs += y * std::cos(w * n);
    }
    return std::hypot(sn, cs) * 2 / kMeasure / amp;
}

inline double db(double gain) { return 20 * std::log10(gain); }

}  // namespace qv::test
