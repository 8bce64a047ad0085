// Multiband processor, dual-band compressor, clippers and output stages,
// each driven directly on a working pair.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>

#include "tests/chain/chain_rig.h"

namespace qv {
namespace {

using test::db;
using test::Lcg;
using test::Rig;
using test::sine_gain;

constexpr double kUnityLevel = 32767 * 3.051850947599719e-05;  // 0 dB band gain times 1/32767

// One frame through the chunk-level stages.
void multiband_frame(Rig& rig, bool bypass, double& left, double& right) {
    Chunk x{};
    x.left[0] = left;
    x.right[0] = right;
    multiband(rig.c->multiband, rig.c->bands, rig.c->delay, *rig.s, 0, bypass, x, 1);
    left = x.left[0];
    right = x.right[0];
    if (!bypass) {
        EXPECT_EQ(x.ring_slot[0], rig.c->delay.ring_index);
    }
}

void dual_band_frame(Rig& rig, double& left, double& right) {
    Chunk x{};
    x.left[0] = left;
    x.right[0] = right;
    x.ring_slot[0] = rig.c->delay.ring_index;
    dual_band(rig.c->dual_band, rig.c->bands, rig.c->delay, *rig.s, rig.c->readings, x, 1);
    left = x.left[0];
    right = x.right[0];
}

// ---- multiband

struct Multiband : Rig {
    Readings& r = c->readings;
    BandSplitState reference{};  // the same band filters, fed the same input
    Multiband(int lookahead_ms) {
        g().multiband_pct = 0;  // every band gain exactly 1
        g().lookahead_ms = lookahead_ms;
        for (int b = 0; b < kMultibandBands; ++b) s->live.section[b][kCompressor].band_gain_db10 = 0;
        derive();
        for (int n = 0; n < 1000; ++n) frame(0, 0);  // smoothed gains settle at 1
    }
    // Returns the stage's output pair and the undelayed alternating band sum.
    void frame(double left, double right, double* out = nullptr, double* direct = nullptr) {
        const double in[2] = {0.8 * right, 0.8 * left};
        double bands[5][2];
        split_bands(reference, false, in, bands);
        multiband_frame(*this, false, left, right);
        ASSERT_LE(c->delay.ring_index, kMaxLookaheadSamples);
        if (out) out[0] = right, out[1] = left;
        for (int ch = 0; ch < 2 && direct; ++ch)
            direct[ch] = bands[0][ch] - bands[1][ch] + bands[2][ch] - bands[3][ch] + bands[4][ch];
    }
    // Feeds noise and checks that the output is the band sum delayed by delay frames.
    void expect_delay(int delay) {
        Lcg rng{7};
        std::vector<std::array<double, 2>> direct;
        for (int n = 0; n < delay + 300; ++n) {
            double out[2], d[2];
            frame(10000 * rng.uniform(), 10000 * rng.uniform(), out, d);
            direct.push_back({d[0], d[1]});
            for (int ch = 0; ch < 2; ++ch) {
                const double expected = n >= delay ? kUnityLevel * direct[n - delay][ch] : 0.0;
                ASSERT_NEAR(out[ch], expected, 1e-9 * 10000) << "frame " << n << " channel " << ch;
            }
        }
    }
};

TEST(Multiband, DelaysTheBandSumByLookaheadPlusOne) {
    Multiband m(10);
    ASSERT_EQ(m.s->derived.lookahead_samples, 441);
    m.expect_delay(442);
}

TEST(Multiband, ZeroLookaheadDelaysOneFrame) {
    Multiband m(0);
    m.expect_delay(1);
}

TEST(Multiband, StoredLookaheadBeyondTheRingPlaysAsTheLongest) {
    Multiband m(0);
    m.s->derived.lookahead_samples = 1 << 20;  // as a damaged record or a careless writer could leave it
    m.expect_delay(kRingSlots);
    m.s->derived.lookahead_samples = -5;
    m.frame(0, 0);
    EXPECT_EQ(m.c->delay.ring_index, 0);
}

TEST(Multiband, ShorterLookaheadWrapsTheIndex) {
    Multiband m(10);
    while (m.c->delay.ring_index != 300) m.frame(0, 0);
    m.s->derived.lookahead_samples = 100;
    m.frame(0, 0);
    EXPECT_EQ(m.c->delay.ring_index, 0);
}

TEST(Multiband, BypassAllRunsOnlyTheAnalysis) {
    Multiband m(10);
    const std::int32_t index = m.c->delay.ring_index;
    double l = 5000, r = -7000;
    multiband_frame(m, true, l, r);
    EXPECT_EQ(l, 5000.0);
    EXPECT_EQ(r, -7000.0);
    EXPECT_EQ(m.c->delay.ring_index, index);
    EXPECT_GT(m.c->bands.band_level[1], 0.0);
}

TEST(Multiband, LinkRunsOutwardFromBandOne) {
    Rig rig;
    BandGains& b = rig.c->bands;
    // Loud band 1 only: the link pulls its neighbours' gains down in turn.
    for (int n = 0; n < 4000; ++n) {
        double l = 0, r = 30000 * std::sin(2 * 3.14159265358979 * 250 * n / 44100);
        multiband_frame(rig, false, l, r);
    }
    const double g1 = b.band_composite_gain[1];
    ASSERT_LT(g1, 0.9);
    EXPECT_LT(b.band_composite_gain[0], 1.0);
    EXPECT_GT(b.band_composite_gain[0], g1);
    EXPECT_GT(b.band_composite_gain[3], b.band_composite_gain[2]);
}

// ---- dual band and clippers

TEST(DualBand, LowToneComesOutDelayedAndAlmostUnchanged) {
    Rig rig;
    rig.g().clip_drive = 100;
    derive_limited_percentages(*rig.s);
    rig.s->derived.density_gain = 1;
    const int delay = rig.s->derived.lookahead_samples + 1;
    std::vector<double> in, out;
    double worst = 0;
    for (int n = 0; n < 20000; ++n) {
        const double x = 1000 * std::sin(2 * 3.14159265358979 * 100 * n / 44100);
        double l = x, r = x;
        advance_ring(rig.c->delay, rig.s->derived.lookahead_samples);
        dual_band_frame(rig, l, r);
        EXPECT_EQ(l, r);
        in.push_back(x);
        out.push_back(l);
        if (n > 10000) worst = std::max(worst, std::fabs(out[n] - in[n - delay]));
    }
    EXPECT_LT(worst, 30);  // the crossover difference's phase: about 1.4 degrees at 100 Hz
    EXPECT_NEAR(rig.c->readings.clip_peak_in, 1000, 2);
}

TEST(Clippers, NoClipperLeavesOnlyTheFilters) {
    Rig rig;
    rig.g().no_clipper = 1;
    ClipperState reference{};
    Lcg rng{3};
    for (int n = 0; n < 2000; ++n) {
        double l = 90000 * rng.uniform(), r = 90000 * rng.uniform();
        double lol = l, lor = r, hil = l, hir = r;
        process_fourth_order(kClipperSplitLow, reference.split_low, lor, lol);
        process_fourth_order(kClipperSplitHigh, reference.split_high, hir, hil);
        process_fourth_order(kClipperSplitLow, reference.refilter_low, lor, lol);
        process_fourth_order(kClipperSplitHigh, reference.refilter_high, hir, hil);
        clippers(rig.c->clippers, *rig.s, rig.c->readings, l, r);
        ASSERT_EQ(l, hil + lol);
        ASSERT_EQ(r, hir + lor);
    }
    EXPECT_EQ(rig.c->readings.bass_clip_peak, 0.0);
    EXPECT_GT(rig.c->readings.clip_peak_out, 32767);
}

TEST(Clippers, SquareWaveStaysBelowTheLowBandCeiling) {
    for (int thr : {-60, 0, 120}) {
        Rig rig;
        rig.s->live.section[6][kCompressor].band_gain_db10 = thr;
        rig.derive();
        const double ceiling = rig.s->band_gain_level[6] + rig.s->derived.soft_clip_knee;
        double peak = 0;
        for (int n = 0; n < 8000; ++n) {
            double l = (n / 40) % 2 ? 60000 : -60000, r = -l;
            clippers(rig.c->clippers, *rig.s, rig.c->readings, l, r);
            peak = std::max({peak, std::fabs(l), std::fabs(r)});
        }
        EXPECT_LT(peak, ceiling) << thr;
        if (thr < 0) {
            EXPECT_GT(rig.c->readings.bass_clip_peak, 0.0);
        }
    }
}

TEST(Clippers, LowBandThresholdChangesOnlyTheFinalClipper) {
    auto run = [](int low_thr, double& out_peak) {
        Rig rig;
        rig.s->live.section[6][kCompressor].band_gain_db10 = low_thr;
        rig.derive();
        double last = 0;
        for (int n = 0; n < 4000; ++n) {
            double l = 50000 * std::sin(n * 0.05), r = l;
            clippers(rig.c->clippers, *rig.s, rig.c->readings, l, r);
            last = l;
        }
        out_peak = rig.c->readings.clip_peak_out;
        return last;
    };
    double peak_a, peak_b;
    const double a = run(0, peak_a), b = run(-60, peak_b);
    EXPECT_EQ(peak_a, peak_b);
    EXPECT_NE(a, b);
}

// ---- output stages

TEST(OutputFilter, IntegerTapsFromTheTable) {
    OutputFilterState st{};
    build_fir_taps(st);
    const std::int32_t expected[kFirTaps] = {78,   219, 2,     -123, 173,  -104, -86,   302, -369,
                                             133,  428, -1158, 1777, 5480, 1777, -1158, 428, 133,
                                             -369, 302, -86,   -104, 173,  -123, 2,     219, 78};
    for (int j = 0; j < kFirTaps; ++j) EXPECT_EQ(st.fir_coef[j], expected[j]) << j;
}

TEST(OutputFilter, FirDcGainAndFloorShift) {
    auto settle = [](double x) {
        OutputFilterState st{};
        build_fir_taps(st);
        double l = 0, r = 0;
        for (int n = 0; n < 40; ++n) {
            l = r = x;
            output_filter(st, true, l, r);
        }
        EXPECT_EQ(l, r);
        return l;
    };
    EXPECT_EQ(settle(1000), 979 * 0.8);    // (1000 * 8024) >> 13 = 979
    EXPECT_EQ(settle(1000.9), 979 * 0.8);  // the input is truncated first
    EXPECT_EQ(settle(-1), -1 * 0.8);       // -8024 >> 13 = -1, not 0
}

TEST(OutputFilter, HotSignalSaturatesInsteadOfWrapping) {
    for (double hot : {3e9, 1e300}) {
        OutputFilterState st{};
        build_fir_taps(st);
        double l = 0, r = 0;
        for (int n = 0; n < 40; ++n) {
            l = hot;
            r = -hot;
            output_filter(st, true, l, r);
        }
        const double expected = static_cast<double>((std::int64_t{2147483647} * 8024) >> 13) * 0.8;
        EXPECT_EQ(l, expected);
        EXPECT_LT(r, -expected * 0.999);
    }
    EXPECT_EQ(saturate_to_int32(std::nan("")), 0);
    EXPECT_EQ(saturate_to_int32(-12.9), -12);
}

TEST(OutputFilter, DeemphasisAndBranchMemories) {
    OutputFilterState st{};
    build_fir_taps(st);
    auto step = [&](double x) {
        double l = x, r = 0;
        output_filter(st, false, l, r);
        return l;
    };
    EXPECT_NEAR(db(sine_gain(20, step)), -0.13, 0.02);
    EXPECT_NEAR(db(sine_gain(15000, step)), -12.2, 0.1);
    // The FIR's history is left as it was while the de-emphasis runs.
    EXPECT_EQ(st.fir_history[0][0], 0.0);
    const double m = st.deemphasis_state[1];
    double l = 1000, r = 1000;
    output_filter(st, true, l, r);
    EXPECT_EQ(st.deemphasis_state[1], m);
}

TEST(OutputLevel, SoftClipLevelAndAmFilter) {
    Rig rig;
    double l = 40000, r = -40000;
    final_soft_clip(*rig.s, l, r);
    EXPECT_DOUBLE_EQ(l, 32760 + 7240.0 * 2148 / 9388);
    EXPECT_DOUBLE_EQ(r, -l);
    rig.g().no_clipper = 1;
    l = 40000;
    final_soft_clip(*rig.s, l, r);
    EXPECT_EQ(l, 40000.0);

    rig.g().output_level_pct = 0;
    derive_limited_percentages(*rig.s);
    l = 12345, r = -3;
    output_level_and_am(rig.c->output_level, *rig.s, 0, l, r);
    EXPECT_EQ(l, 0.0);
    EXPECT_EQ(r, 0.0);

    rig.g().output_level_pct = 100;
    derive_limited_percentages(*rig.s);
    auto am = [&](double hz) {
        return sine_gain(
            hz,
            [&](double x) {
                double a = x, b = x;
                output_level_and_am(rig.c->output_level, *rig.s, option::am_filter, a, b);
                return a;
            },
            22050, 10000);
    };
    EXPECT_NEAR(am(1000) * 10000, 9300, 100);
    EXPECT_LT(am(6000) * 10000, 1);
}

}  // namespace
}  // namespace qv
