// Input filters, stereo expander, gated AGC, bass EQ, overdrive and
// pre-emphasis, each driven directly on a working pair.
#include <gtest/gtest.h>

#include "chain/bass_eq.h"
#include "chain/overdrive.h"
#include "tests/chain/chain_rig.h"

namespace qv {
namespace {

using test::db;
using test::Rig;
using test::sine_gain;

TEST(InputLowpass, PassesTheBandAndStopsAbove15k) {
    auto gain = [](double hz) {
        InputFilterState st{};
        return sine_gain(hz, [&](double x) {
            double l = x, r = 0;
            input_lowpass(st, l, r);
            return l;
        });
    };
    EXPECT_NEAR(db(gain(1000)), -1.0, 0.05);
    EXPECT_NEAR(db(gain(10000)), 0.0, 0.1);
    EXPECT_NEAR(db(gain(18000)), -33.8, 0.5);
    EXPECT_LT(db(gain(16000)), -20);
}

TEST(InputLowpass, RightIsTheFirstChannel) {
    InputFilterState st{};
    double l = 0, r = 1000;
    input_lowpass(st, l, r);
    EXPECT_EQ(l, 0.0);
    EXPECT_NE(st.lowpass.w1[0], 0.0);
    EXPECT_EQ(st.lowpass.w1[1], 0.0);
}

// ---- stereo expander

struct Expander {
    StereoExpanderState st{};
    Readings r{};
    StereoExpanderParams p{5, 100, true};
    // Returns the injection (change of right) for the frame (left, right).
    double frame(double left, double right) {
        const double l0 = left, r0 = right;
        stereo_expand(st, p, r, left, right);
        EXPECT_DOUBLE_EQ(left - l0, -(right - r0));
        return right - r0;
    }
};

TEST(StereoExpander, ImpulseEchoesAfterTheDelayAndTheDiffuser) {
    Expander e;
    std::vector<double> added;
    added.push_back(e.frame(0, 1000));  // right - left = 1000
    for (int n = 1; n < 600; ++n) added.push_back(e.frame(0, 0));
    for (int n = 0; n < 600; ++n) {
        if (n == 6)
            EXPECT_NEAR(added[n], 700, 1e-9);
        else if (n == 6 + 256)
            EXPECT_NEAR(added[n], 510, 1e-9);  // (1 - 0.7^2) of the impulse
        else if (n == 6 + 512)
            EXPECT_NEAR(added[n], -357, 1e-9);
        else
            EXPECT_EQ(added[n], 0.0) << n;
    }
    EXPECT_EQ(e.r.stereo_activity, 1.0);
}

TEST(StereoExpander, ZeroDepthDelaysOneFrame) {
    Expander e;
    e.p.depth_samples = 0;
    EXPECT_EQ(e.frame(-250, 250), 0.0);
    EXPECT_NEAR(e.frame(0, 0), 350, 1e-9);
    EXPECT_EQ(e.frame(0, 0), 0.0);
}

TEST(StereoExpander, DelayLineRunsWhileTheInjectionIsOff) {
    Expander e;
    e.p.inject = false;
    for (int n = 0; n < 3; ++n) e.frame(0, n == 0 ? 1000 : 0);
    e.p.inject = true;
    for (int n = 3; n < 6; ++n) EXPECT_EQ(e.frame(0, 0), 0.0);
    EXPECT_NEAR(e.frame(0, 0), 700, 1e-9);  // frame 6 after the impulse
}

TEST(StereoExpander, LimiterHoldsTheSideSignalNear4096) {
    Expander e;
    e.p.depth_samples = 0;
    double injected = 0;
    for (int n = 0; n < 4410; ++n) injected = e.frame(-10000, 10000);  // 100 ms
    EXPECT_GT(e.st.stereo_envelope, 4096);
    EXPECT_DOUBLE_EQ(e.r.stereo_activity, 4096 / e.st.stereo_envelope);
    EXPECT_NEAR(injected, 4096, 0.05 * 4096);
    EXPECT_LT(e.r.stereo_activity, 0.25);
}

TEST(StereoExpander, MonoAddsNothingAndIndicesStayInTheirBuffers) {
    Expander e;
    e.p.depth_samples = 100000;  // only a damaged record could hold this
    for (int n = 0; n < 3000; ++n) EXPECT_EQ(e.frame(1234, 1234), 0.0);
    EXPECT_LT(e.st.stereo_delay_index, kStereoDelaySlots);
    EXPECT_EQ(e.r.stereo_activity, 1.0);
    e.st.stereo_delay_line[17] = 5;
    e.st.stereo_diffuser_ring[200] = 3;
    clear_stereo_expander(e.st);
    EXPECT_EQ(e.st.stereo_delay_line[17], 0);
    EXPECT_EQ(e.st.stereo_diffuser_ring[200], 0.0);
}

// ---- gated AGC

struct Agc : Rig {
    AgcState st{};
    Readings& r = c->readings;
    void frame(double peak, double& l, double& rt, bool bypass = false) { gated_agc(st, *s, r, bypass, peak, l, rt); }
};

TEST(GatedAgc, SilenceGatesAndStartsFromTheLargestGain) {
    Agc a;
    EXPECT_EQ(a.s->derived.agc_level_floor, 921.0);
    double l = 0, r = 0;
    a.frame(0, l, r);
    EXPECT_EQ(a.st.gated, 1);
    EXPECT_EQ(a.st.master_envelope, 921.0);
    EXPECT_DOUBLE_EQ(a.r.master_agc_gain, 16384.0 / 921);
    EXPECT_NEAR(a.r.master_agc_gain, 17.79, 0.005);
    EXPECT_DOUBLE_EQ(a.r.bass_agc_gain, 16384.0 / 921);
}

TEST(GatedAgc, GateNeedsTheLevelStrictlyAboveThePeak) {
    Agc a;
    ASSERT_EQ(a.s->derived.gate_level, 327);
    a.st.master_envelope = a.st.bass_envelope = 20000;
    double l = 0, r = 0;
    a.frame(327, l, r);  // not gated: the release branch leaves the flag
    EXPECT_EQ(a.st.gated, 0);
    EXPECT_DOUBLE_EQ(a.st.master_envelope, a.s->derived.master_release_coef * 20000);
    const double env = a.st.master_envelope;
    a.frame(326.99, l, r);
    EXPECT_EQ(a.st.gated, 1);
    EXPECT_DOUBLE_EQ(a.st.master_envelope, 0.99999988 * env);
    l = r = 30000;  // attack in both bands clears the flag
    a.frame(30000, l, r);
    EXPECT_EQ(a.st.gated, 0);
}

TEST(GatedAgc, BandLinkPullsOnlyTheBassGain) {
    for (int pct : {0, 50, 100}) {
        Agc a;
        a.g().agc_band_link_pct = pct;
        a.derive();
        a.st.master_envelope = 16384;  // gM about 1
        a.st.bass_envelope = 4096;     // gB about 4
        double l = 0, r = 0;
        a.frame(0, l, r);
        const double gm = 16384 / a.st.master_envelope;
        const double gb = 16384 / a.st.bass_envelope;
        EXPECT_EQ(a.r.master_agc_gain, gm);
        EXPECT_DOUBLE_EQ(a.r.bass_agc_gain, (gb * (100 - pct) + gm * pct) * 0.01) << pct;
    }
}

TEST(GatedAgc, WithoutAgcThePairIsTrimmedAndUnderBypassLeftAlone) {
    Agc a;
    a.g().agc_on = 0;
    double l = 1000, r = -2000;
    a.frame(2000, l, r);
    EXPECT_EQ(l, 1000 * 0.63);
    EXPECT_EQ(r, -2000 * 0.63);
    EXPECT_GT(a.r.master_agc_gain, 0.0);

    a.g().agc_on = 1;
    a.st.master_envelope = 20000;
    const double env = a.st.master_envelope;
    l = 1000, r = -2000;
    a.frame(2000, l, r, true);
    EXPECT_EQ(l, 1000.0);
    EXPECT_EQ(r, -2000.0);
    EXPECT_EQ(a.r.master_agc_gain, 0.0);
    EXPECT_EQ(a.r.bass_agc_gain, 0.0);
    EXPECT_NE(a.st.master_envelope, env);  // the detectors keep running
}

TEST(GatedAgc, EqualGainsGiveAFlatHalfAmplitudeRecombination) {
    auto gain = [](double hz) {
        Agc a;
        a.g().agc_max_gain_db = 0;  // floor 16383: both gains held at 16384 / 16383
        a.g().bass_clip_threshold = 30;
        a.derive();
        return sine_gain(hz, [&](double x) {
            double l = x, r = x;
            a.frame(std::fabs(x), l, r);
            return l;
        });
    };
    EXPECT_NEAR(gain(1000), 0.5 * 16384 / 16383, 1e-3);
    EXPECT_NEAR(gain(50), 0.5 * 16384 / 16383, 1e-3);
}

// ---- bass EQ, overdrive, pre-emphasis

TEST(BassEq, ZeroGainLeavesThePairBitIdentical) {
    Rig rig;
    rig.g().bass_eq_gain_db = 0;
    rig.s->derived.bass_eq_coefs = {0.5, 0.1, 0.2, 0.3, 0.1};  // never used at 0 dB
    for (std::int32_t options : {0, option::bass_eq_high_q, option::am_filter}) {
        double l = 1234.5678, r = -0.001;
        bass_eq(rig.c->bass_eq, *rig.s, options, l, r);
        EXPECT_EQ(l, 1234.5678);
        EXPECT_EQ(r, -0.001);
    }
}

TEST(BassEq, HighQIsTheFourthPowerOfOneSection) {
    Rig rig;
    rig.g().bass_eq_gain_db = 9;
    rig.g().option_flags = option::bass_eq_high_q;  // each section 3 dB
    rig.derive();
    auto gain = [&](double hz, std::int32_t options) {
        rig.c->bass_eq = BassEqState{};
        return sine_gain(hz, [&](double x) {
            double l = x, r = -x;
            bass_eq(rig.c->bass_eq, *rig.s, options, l, r);
            return r;
        });
    };
    for (double hz : {40.0, 65.0, 100.0}) {
        const double one = db(gain(hz, 0));
        EXPECT_NEAR(db(gain(hz, option::bass_eq_high_q)), 4 * one, 0.01) << hz;
    }
    EXPECT_NEAR(db(gain(65, 0)), 3.0, 0.02);  // peaking: G at the centre
}

// Switching the shape with High Q on restarts all four cascaded sections:
// none rings through the other shape's coefficients.
TEST(BassEq, ShapeSwitchWithHighQStaysWithinSteadyShelving) {
    auto peak_after = [](bool switch_shape) {
        Rig rig;
        rig.g().bass_eq_gain_db = 15;
        rig.g().option_flags = option::bass_eq_high_q | (switch_shape ? 0 : option::bass_eq_shelving);
        rig.derive();
        double peak = 0;
        for (int n = 0; n < 4 * 44100; ++n) {
            if (n == 2 * 44100 && switch_shape) {
                rig.g().option_flags |= option::bass_eq_shelving;
                design_bass_eq(*rig.s, rig.g().bass_eq_gain_db, rig.g().bass_eq_freq_hz);
                apply_requests(*rig.s, *rig.c);  // the next block boundary
            }
            double l = 8000 * std::sin(2 * std::numbers::pi * 60 * n / 44100), r = l;
            bass_eq(rig.c->bass_eq, *rig.s, rig.g().option_flags, l, r);
            // Steady shelving is measured from its own start from silence.
            if (n >= 2 * 44100 || !switch_shape) peak = std::max(peak, std::fabs(l));
        }
        return peak;
    };
    EXPECT_LE(peak_after(true), 1.01 * peak_after(false));
}

TEST(Overdrive, ZeroDbIsJustBelowUnity) {
    Rig rig;
    rig.g().overdrive_db = 0;
    rig.derive();
    double l = 32768, r = -32768;
    apply_overdrive(*rig.s, l, r);
    EXPECT_EQ(l, 32767.0);
    EXPECT_EQ(r, -32767.0);
}

TEST(PreEmphasis, DcGainOfEachSetAndItsChoice) {
    auto settle = [](int on, int fifty) {
        GlobalParams g{};
        g.preemphasis_on = on;
        g.preemphasis_50us = fifty;
        EmphasisState st{};
        double l = 0, r = 0;
        for (int n = 0; n < 200; ++n) {
            l = r = 1000;
            pre_emphasis(st, g, l, r);
        }
        EXPECT_EQ(l, r);
        return l;
    };
    EXPECT_NEAR(settle(0, 1), 1015.9, 0.05);
    EXPECT_NEAR(settle(1, 1), 1015.9, 0.05);
    EXPECT_NEAR(settle(0, 0), 1015.9, 0.05);  // 75 us only for an emphasised output
    EXPECT_NEAR(settle(1, 0), 997.6, 0.05);
}

TEST(PreEmphasis, FiftyMicrosecondCurve) {
    GlobalParams g{};
    g.preemphasis_50us = 1;
    EmphasisState st{};
    auto step = [&](double x) {
        double l = x, r = 0;
        pre_emphasis(st, g, l, r);
        return l;
    };
    EXPECT_NEAR(db(sine_gain(5000, step)), 6.05, 0.1);
    EXPECT_NEAR(db(sine_gain(15000, step)), 14.4, 0.1);
}

}  // namespace
}  // namespace qv
