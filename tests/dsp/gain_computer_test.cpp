#include "dsp/gain_computer.h"

#include <gtest/gtest.h>

#include <cmath>

namespace qv {
namespace {

// Sections with thresholds of 1000 and ratio 2:1 in the multiband bands and the
// dual bands alike, all envelopes at rest (the state after a recompute).
struct Rig {
    BandGains g{};
    SectionCoefs sec[kBands][kSections]{};
    std::int32_t band_active[kBands];
    GainInputs in{};

    Rig() {
        for (int k = 0; k < kBands; ++k) {
            band_active[k] = 1;
            for (int s = 0; s < kSections; ++s) {
                SectionCoefs& st = sec[k][s];
                st.attack1_coef = 0.9;
                st.release1_coef = 0.999;
                st.attack2_coef = 0.99;
                st.release2_coef = 0.9999;
                st.threshold_level = 1000;
                st.hold_samples = k < kMultibandBands ? 100 : 500;
                st.ratio_exponent = s == kExpander ? 0.5 : -0.5;
            }
        }
        in.gate_level = 100;
        in.compressor_on = 1;
        in.band_active = band_active;
    }
    void run(int band, double level, int samples = 1) {
        for (int n = 0; n < samples; ++n) {
            g.band_level[band] = level;
            load_thresholds(g, sec);
            compute_band_gains(g, sec, in, band, band);
        }
    }
    SectionMemory& co(int k) { return g.section[k][kCompressor]; }
    SectionMemory& mem(int k, int s) { return g.section[k][s]; }
};

TEST(GainComputer, SilenceFromResetGivesUnityAtOnce) {
    Rig r;
    r.run(0, 0.0);
    EXPECT_EQ(r.g.band_composite_gain[0], 1.0);
    EXPECT_EQ(slow_detector_gain(r.g.slow_envelope[0], r.sec[0][kCompressor]), 1.0);
    EXPECT_EQ(r.g.slow_envelope[0], 1000.0);
    EXPECT_EQ(r.co(0).envelope, 1000.0);
}

TEST(GainComputer, CompressorAndExpanderSettleOnTheirCurves) {
    Rig r;
    r.run(0, 2000.0, 20000);
    EXPECT_NEAR(r.co(0).gain, std::sqrt(0.5), 1e-9);
    EXPECT_NEAR(r.g.band_composite_gain[0], std::sqrt(0.5), 1e-9);
    EXPECT_NEAR(slow_detector_gain(r.g.slow_envelope[0], r.sec[0][kCompressor]), std::sqrt(0.5), 1e-9);

    Rig e;
    e.in.compressor_on = 0;
    e.in.expander_on = 1;
    e.run(1, 500.0, 2000);
    EXPECT_NEAR(e.mem(1, kExpander).gain, std::sqrt(0.5), 1e-9);
    EXPECT_NEAR(e.g.band_composite_gain[1], std::sqrt(0.5), 1e-9);
    EXPECT_EQ(e.co(1).gain, 1.0);
}

TEST(GainComputer, ExpanderAndLimiterHoldFiveHundredSamples) {
    Rig r;
    r.in.compressor_on = 0;
    r.in.expander_on = 1;
    r.sec[0][kExpander].attack1_coef = 0.5;
    r.run(0, 800.0);  // one attack sample: envelope 400
    const double held = r.mem(0, kExpander).envelope;
    EXPECT_EQ(held, 400.0);
    const double limiter_held = r.mem(0, kLimiter).envelope;
    for (int n = 0; n < 500; ++n) {
        r.run(0, 0.0);
        ASSERT_EQ(r.mem(0, kExpander).envelope, held) << n;
        ASSERT_EQ(r.mem(0, kLimiter).envelope, limiter_held) << n;
    }
    r.run(0, 0.0);
    EXPECT_EQ(r.mem(0, kExpander).envelope, 0.999 * held);
    EXPECT_LT(r.mem(0, kLimiter).envelope, limiter_held);
}

TEST(GainComputer, ReattackDuringHoldIsSlowedAndReloadsAFifth) {
    Rig r;
    SectionMemory& c = r.co(0);
    r.run(0, 0.0);  // envelopes rest on the threshold
    r.run(0, 5000.0);
    EXPECT_EQ(c.envelope, (1.0 - 0.9) * 5000.0 + 0.9 * 1000.0);
    EXPECT_EQ(c.hold_counter, 100u);
    const double before = c.envelope;
    r.run(0, 5000.0);
    const double slowed = 1.0 - (1.0 - 0.9) * 0.2;
    EXPECT_EQ(c.envelope, (1.0 - slowed) * 5000.0 + slowed * before);
    EXPECT_EQ(c.hold_counter, 20u);
    const double frozen = c.envelope;
    for (int n = 0; n < 20; ++n) r.run(0, 0.0);
    EXPECT_EQ(c.envelope, frozen);
    EXPECT_EQ(c.hold_counter, 0u);
    r.run(0, 0.0);
    EXPECT_EQ(c.envelope, 0.999 * frozen);
    // Hold run down: the next attack is a full one with the full hold.
    r.run(0, 5000.0);
    EXPECT_EQ(c.envelope, (1.0 - 0.9) * 5000.0 + 0.9 * (0.999 * frozen));
    EXPECT_EQ(c.hold_counter, 100u);
    // A counter of 1 still counts as run down, 2 does not; the counter compares unsigned.
    for (std::uint32_t counter : {1u, 2u, 0x80000000u}) {
        c.envelope = 1000.0;
        c.hold_counter = counter;
        r.run(0, 5000.0);
        EXPECT_EQ(c.hold_counter, counter < 2 ? 100u : 20u) << counter;
    }
    // hold_samples / 5 is an integer division.
    r.sec[0][kCompressor].hold_samples = 14;
    c.hold_counter = 3;
    c.envelope = 1000.0;
    r.run(0, 5000.0);
    EXPECT_EQ(c.hold_counter, 2u);
}

TEST(GainComputer, GateFreezesReleasesStrictly) {
    const double freeze = 0.9999988;
    Rig r;
    SectionMemory& c = r.co(0);
    r.in.independent_gate = 1;
    r.in.gate_level = 1500;
    c.envelope = 3000.0;
    r.g.slow_envelope[0] = 3000.0;
    r.run(0, 1499.0);
    EXPECT_EQ(c.envelope, (1.0 - freeze) * 1499.0 + freeze * 3000.0);
    EXPECT_EQ(r.g.slow_envelope[0], (1.0 - freeze) * 1499.0 + freeze * 3000.0);
    c.envelope = 3000.0;
    r.g.slow_envelope[0] = 3000.0;
    r.run(0, 1500.0);  // equal to the gate level: normal release
    EXPECT_EQ(c.envelope, (1.0 - 0.999) * 1500.0 + 0.999 * 3000.0);
    EXPECT_EQ(r.g.slow_envelope[0], (1.0 - 0.9999) * 1500.0 + 0.9999 * 3000.0);

    // Following the AGC's gate: frozen whatever the level, unless independent.
    r.in.independent_gate = 0;
    r.in.agc_gated = 1;
    c.envelope = 3000.0;
    r.run(0, 2000.0);
    EXPECT_EQ(c.envelope, (1.0 - freeze) * 2000.0 + freeze * 3000.0);
    // An attack overrides the gate in both detectors.
    r.in.gate_level = 30000;
    r.g.slow_envelope[0] = 1000.0;
    c.envelope = 1000.0;
    r.run(0, 2000.0);
    EXPECT_EQ(r.g.slow_envelope[0], (1.0 - 0.99) * 2000.0 + 0.99 * 1000.0);
    EXPECT_EQ(c.envelope, (1.0 - 0.9) * 2000.0 + 0.9 * 1000.0);
}

TEST(GainComputer, LimiterCapsAfterTheOtherSections) {
    Rig r;
    r.in.compressor_on = 0;
    r.sec[0][kLimiter].attack1_coef = 0.0;
    r.run(0, 4000.0);
    EXPECT_EQ(r.mem(0, kLimiter).envelope, 4000.0);  // tracked while switched off
    EXPECT_EQ(r.g.band_composite_gain[0], 1.0);
    r.in.limiter_on = 1;
    r.run(0, 4000.0);
    EXPECT_EQ(r.g.band_composite_gain[0], 0.25);
}

TEST(GainComputer, DualBandsIgnoreTheSwitches) {
    for (int on = 0; on < 2; ++on) {
        Rig r;
        r.in.compressor_on = r.in.expander_on = r.in.limiter_on = on;
        for (int k = 0; k < kBands; ++k) {
            r.sec[k][kExpander].threshold_level = 30000;  // would expand hard if it ran
            r.sec[k][kLimiter].threshold_level = 1;       // would limit hard if it applied
        }
        for (int n = 0; n < 20000; ++n) {
            for (int k = 0; k < kBands; ++k) r.g.band_level[k] = 2000.0;
            load_thresholds(r.g, r.sec);
            compute_band_gains(r.g, r.sec, r.in, 0, 4);
            compute_band_gains(r.g, r.sec, r.in, 5, 6);
        }
        for (int k : {5, 6}) {
            EXPECT_NEAR(r.g.band_composite_gain[k], std::sqrt(0.5), 1e-9) << k;
            EXPECT_EQ(r.mem(k, kExpander).gain, 1.0);
            EXPECT_EQ(r.mem(k, kLimiter).gain, 1.0);
        }
        if (on) {
            EXPECT_LT(r.g.band_composite_gain[0], 1e-3);
        } else {
            EXPECT_EQ(r.g.band_composite_gain[0], 1.0);
        }
    }
}

TEST(GainComputer, MutedBandReportsTinyGainAndKeepsRunning) {
    Rig r;
    r.band_active[2] = 0;
    r.run(2, 2000.0, 3);
    EXPECT_EQ(r.g.band_composite_gain[2], 1e-6);
    EXPECT_GT(r.co(2).envelope, 1000.0);
    EXPECT_LT(r.co(2).gain, 1.0);
}

TEST(GainComputer, BandRangeIsRespected) {
    Rig r;
    for (int k = 0; k < kBands; ++k) r.g.band_level[k] = 5000.0;
    load_thresholds(r.g, r.sec);
    compute_band_gains(r.g, r.sec, r.in, 4, 3);
    for (int k = 0; k < kBands; ++k) EXPECT_EQ(r.co(k).envelope, 0.0) << k;
    compute_band_gains(r.g, r.sec, r.in, 1, 2);
    for (int k = 0; k < kBands; ++k) EXPECT_EQ(r.co(k).envelope != 0.0, k == 1 || k == 2) << k;
    compute_band_gains(r.g, r.sec, r.in, -5, 99);  // clamped to the seven bands
    for (int k = 0; k < kBands; ++k) EXPECT_NE(r.co(k).envelope, 0.0) << k;
}

TEST(GainComputer, RunOverFramesEqualsFrameByFrame) {
    // Every switch on, one band muted, a gate flag and levels that cross the
    // thresholds both ways; 300 frames cross the run's pieces of 128.
    for (int independent = 0; independent < 2; ++independent) {
        Rig a, b;
        for (Rig* r : {&a, &b}) {
            r->in.expander_on = r->in.limiter_on = 1;
            r->in.independent_gate = independent;
            r->band_active[3] = 0;
            load_thresholds(r->g, r->sec);
        }
        constexpr int kFrames = 300;
        double level[kBands][kFrames], want[kBands][kFrames], got[kFrames];
        std::int32_t gated[kFrames];
        std::uint32_t seed = 99;
        for (int n = 0; n < kFrames; ++n) {
            seed = seed * 1664525u + 1013904223u;
            gated[n] = (seed >> 30) & 1;
            // Loud with random dips for 80 frames, then quiet around the gate level: attacks,
            // re-attacks, holds, and releases long enough for the gate flag to matter.
            for (int k = 0; k < kBands; ++k) {
                const double dip = (seed >> (k + 8) & 1) ? 1.0 : 0.3;
                level[k][n] = n < 80 ? 3000.0 * (1 + k) * dip : 40.0 * (1 + (seed >> (k + 20) & 3));
            }
            for (int k = 0; k < kBands; ++k) a.g.band_level[k] = level[k][n];
            a.in.agc_gated = gated[n];
            compute_band_gains(a.g, a.sec, a.in, 0, kBands - 1);
            for (int k = 0; k < kBands; ++k) want[k][n] = a.g.band_composite_gain[k];
        }
        for (int k = 0; k < kBands; ++k) {
            compute_band_gain_run(b.g, b.sec, b.in, k, level[k], gated, got, kFrames);
            for (int n = 0; n < kFrames; ++n) ASSERT_EQ(got[n], want[k][n]) << "band " << k << " frame " << n;
            for (int s = 0; s < kSections; ++s) {
                EXPECT_EQ(b.mem(k, s).gain, a.mem(k, s).gain) << k << " " << s;
                EXPECT_EQ(b.mem(k, s).envelope, a.mem(k, s).envelope) << k << " " << s;
                EXPECT_EQ(b.mem(k, s).hold_counter, a.mem(k, s).hold_counter) << k << " " << s;
            }
            EXPECT_EQ(b.g.slow_envelope[k], a.g.slow_envelope[k]);
            EXPECT_EQ(b.g.band_composite_gain[k], a.g.band_composite_gain[k]);
        }
    }
}

}  // namespace
}  // namespace qv
