#include "dsp/true_peak_limiter.h"

#include <ebur128.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <numbers>
#include <vector>

#include "tools/demo_programme.h"

namespace qv {
namespace {

constexpr int kRate = 44100;

// Interleaved stereo on the 16-bit scale.
using Signal = std::vector<double>;

struct Limiter {
    TruePeakLimiterCoefs coefs;
    std::unique_ptr<TruePeakLimiterState> state = std::make_unique<TruePeakLimiterState>();
    explicit Limiter(double ceiling_dbtp) : coefs(design_true_peak_limiter(ceiling_dbtp)) {
        reset_true_peak_limiter(*state);
    }
    // The signal followed by the latency's worth of silence, returned aligned
    // with the input.
    Signal run(Signal x) {
        x.resize(x.size() + 2 * kTruePeakLatencyFrames, 0.0);
        true_peak_limit(coefs, *state, x.data(), static_cast<int>(x.size() / 2));
        return Signal(x.begin() + 2 * kTruePeakLatencyFrames, x.end());
    }
};

// libebur128's true peak of the signal written as a 16-bit file, in dBTP.
double true_peak_dbtp(const Signal& x) {
    std::vector<std::int16_t> pcm(x.size());
    for (std::size_t i = 0; i < x.size(); ++i)
        pcm[i] = static_cast<std::int16_t>(std::clamp(std::nearbyint(x[i]), -32768.0, 32767.0));
    ebur128_state* st = ebur128_init(2, kRate, EBUR128_MODE_TRUE_PEAK);
    ebur128_add_frames_short(st, pcm.data(), pcm.size() / 2);
    double peak = 0;
    for (unsigned ch = 0; ch < 2; ++ch) {
        double p;
        ebur128_true_peak(st, ch, &p);
        peak = std::max(peak, p);
    }
    ebur128_destroy(&st);
    return 20 * std::log10(peak);
}

Signal square_wave(int frames) {
    Signal x;
    for (int n = 0; n < frames; ++n) {
        const double v = (n / 50) % 2 ? 32767.0 : -32768.0;
        x.insert(x.end(), {v, v});
    }
    return x;
}

// Full scale, 15 kHz to 22 kHz over the length, the channels in opposite phase.
Signal sweep_near_nyquist(int frames) {
    Signal x;
    double phase = 0;
    for (int n = 0; n < frames; ++n) {
        phase += 2 * std::numbers::pi * (15000.0 + 7000.0 * n / frames) / kRate;
        const double v = std::nearbyint(32767 * std::sin(phase));
        x.insert(x.end(), {v, -v});
    }
    return x;
}

Signal dense_programme(double seconds) {
    const std::vector<std::int16_t> pcm = demo::dense_programme(seconds);
    return Signal(pcm.begin(), pcm.end());
}

TEST(TruePeakLimiter, HoldsTheCeilingOnLoudStimuliAsLibebur128MeasuresIt) {
    struct Case {
        const char* name;
        Signal x;
    };
    const Case cases[] = {{"square", square_wave(4 * kRate)},
                          {"sweep 15-22 kHz", sweep_near_nyquist(10 * kRate)},
                          {"loud programme", dense_programme(24)}};
    for (const Case& c : cases) {
        for (const double ceiling : {-1.0, -6.0}) {
            ASSERT_GT(true_peak_dbtp(c.x), ceiling + 1) << c.name;
            const double out = true_peak_dbtp(Limiter(ceiling).run(c.x));
            EXPECT_LE(out, ceiling + 0.05) << c.name << " at " << ceiling << " dBTP";
            // Not more than the margin and the interpolators' spread below it.
            EXPECT_GT(out, ceiling - 0.4) << c.name << " at " << ceiling << " dBTP";
        }
    }
}

TEST(TruePeakLimiter, DelaysByItsLatencyAndPassesAQuietSignalBitForBit) {
    // Noise about 20 dB under full scale with non-integer values, then an
    // impulse: the output is the input, delayed, to the last bit.
    Signal quiet;
    std::uint32_t seed = 1;
    for (int n = 0; n < kRate; ++n) {
        seed = seed * 1664525u + 1013904223u;
        const double v = (static_cast<double>(seed) / 4294967296.0 - 0.5) * 6000.3;
        quiet.insert(quiet.end(), {v, -0.5 * v});
    }
    quiet[2 * 30000] = 9000;
    Limiter quiet_limiter(-1);
    EXPECT_EQ(quiet_limiter.run(quiet), quiet);
    EXPECT_EQ(quiet_limiter.state->gain, 1.0);

    // A full-scale impulse comes out lowered, still at the reported delay.
    for (const double ceiling : {-6.0, 0.0}) {
        Signal impulse(2 * 400, 0.0);
        impulse[2 * 100] = 32767;
        impulse[2 * 100 + 1] = -32767;
        Limiter l(ceiling);
        impulse.resize(impulse.size() + 2 * kTruePeakLatencyFrames, 0.0);
        true_peak_limit(l.coefs, *l.state, impulse.data(), static_cast<int>(impulse.size() / 2));
        std::size_t loudest = 0;
        for (std::size_t i = 0; i < impulse.size(); i += 2)
            if (std::abs(impulse[i]) > std::abs(impulse[loudest])) loudest = i;
        EXPECT_EQ(loudest / 2, 100u + kTruePeakLatencyFrames) << ceiling;
        EXPECT_LT(impulse[loudest], 32768 * std::pow(10, ceiling / 20)) << ceiling;
        EXPECT_EQ(impulse[loudest + 1], -impulse[loudest]);
    }
}

// The gain of every frame, with the ceiling changed between blocks: -1 dBTP,
// then -6 at 2 s, then 0 at 4 s. No frame's gain differs from the last by
// more than the mean over the attack allows, across the changes too; once the
// new ceiling has passed through the delay line and the attack, it holds.
TEST(TruePeakLimiter, GainMovesSmoothlyAndCeilingChangesApplyWithoutAStep) {
    const Signal x = dense_programme(6);
    Limiter l(-1);
    Signal y = x;
    std::vector<double> gain;
    for (int n = 0; n < static_cast<int>(x.size() / 2); ++n) {
        if (n == 2 * kRate) l.coefs = design_true_peak_limiter(-6);
        if (n == 4 * kRate) l.coefs = design_true_peak_limiter(0);
        true_peak_limit(l.coefs, *l.state, &y[2 * n], 1);
        gain.push_back(l.state->gain);
    }
    double lowest = 1, largest_step = 0;
    for (std::size_t n = 1; n < gain.size(); ++n) {
        lowest = std::min(lowest, gain[n]);
        largest_step = std::max(largest_step, std::abs(gain[n] - gain[n - 1]));
    }
    EXPECT_LT(lowest, 0.6);
    EXPECT_LE(largest_step, (1 - lowest) / kTruePeakAttackFrames);

    const auto section = [&](int from_frame, int to_frame) {
        return Signal(y.begin() + 2 * from_frame, y.begin() + 2 * to_frame);
    };
    const int settled = kTruePeakLatencyFrames + kTruePeakAttackFrames;
    EXPECT_LE(true_peak_dbtp(section(settled, 2 * kRate)), -1 + 0.05);
    EXPECT_LE(true_peak_dbtp(section(2 * kRate + settled, 4 * kRate)), -6 + 0.05);
    EXPECT_LE(true_peak_dbtp(section(4 * kRate + settled, 6 * kRate)), 0 + 0.05);
}

TEST(TruePeakLimiter, OutputDoesNotDependOnBlockSizeOrLayout) {
    const Signal x = dense_programme(3);
    const int frames = static_cast<int>(x.size() / 2);
    const TruePeakLimiterCoefs c = design_true_peak_limiter(-1);
    std::vector<Signal> outputs;
    for (const int block : {1, 7, 4096}) {
        Signal y = x;
        auto s = std::make_unique<TruePeakLimiterState>();
        reset_true_peak_limiter(*s);
        for (int at = 0; at < frames; at += block) true_peak_limit(c, *s, &y[2 * at], std::min(block, frames - at));
        outputs.push_back(y);
    }
    Signal left(frames), right(frames);
    for (int n = 0; n < frames; ++n) {
        left[n] = x[2 * n];
        right[n] = x[2 * n + 1];
    }
    auto s = std::make_unique<TruePeakLimiterState>();
    reset_true_peak_limiter(*s);
    for (int at = 0; at < frames; at += 7) true_peak_limit(c, *s, &left[at], &right[at], std::min(7, frames - at));
    Signal planar(x.size());
    for (int n = 0; n < frames; ++n) {
        planar[2 * n] = left[n];
        planar[2 * n + 1] = right[n];
    }
    ASSERT_NE(outputs[0], x);
    EXPECT_EQ(outputs[1], outputs[0]);
    EXPECT_EQ(outputs[2], outputs[0]);
    EXPECT_EQ(planar, outputs[0]);
}

}  // namespace
}  // namespace qv
