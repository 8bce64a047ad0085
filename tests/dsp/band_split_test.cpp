#include "dsp/band_split.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>

#include "tests/dsp/tone_probe.h"

namespace qv {
namespace {

using test::db;

// dB of each band and of the sum with signs +, -, +, -, + at f, on channel 0.
std::array<double, 6> band_db(bool four_bands, double f) {
    BandSplitState s{};
    const auto r = test::tone_responses<6>(f, [&](double x, std::array<double, 6>& out) {
        const double in[2] = {x, 0.0};
        double bands[5][2];
        split_bands(s, four_bands, in, bands);
        out[5] = 0;
        for (int k = 0; k < 5; ++k) {
            out[k] = bands[k][0];
            out[5] += k % 2 ? -bands[k][0] : bands[k][0];
        }
    });
    std::array<double, 6> d{};
    for (int k = 0; k < 6; ++k) d[k] = r[k].gain > 0 ? db(r[k].gain) : -999.0;
    return d;
}

TEST(BandSplit, TablesHoldThePrintedDigits) {
    const FourthOrderCoefs(&a)[5] = kFiveBandCoefs;
    EXPECT_EQ(a[0].b0, 5.25711192e-07);
    EXPECT_EQ(a[0].b3, 1.58344768e-07);
    EXPECT_EQ(a[0].a1, -3.925539750695006);
    EXPECT_EQ(a[1].b1, -1.50715e-05);
    EXPECT_EQ(a[1].b4, 0.007566648902976);
    EXPECT_EQ(a[2].a2, 3.80957762470683);
    EXPECT_EQ(a[3].b0, 0.077717132531623);
    EXPECT_EQ(a[3].a3, -1.010444843315776);
    EXPECT_EQ(a[4].a4, 0.282821461495188);
    const FourthOrderCoefs(&b)[5] = kFourBandCoefs;
    EXPECT_EQ(b[0].b0, 7.9556211012e-05);
    EXPECT_EQ(b[0].a3, -3.92439868312524);
    EXPECT_EQ(b[1].a4, 0.893298035209584);
    EXPECT_EQ(b[2].b2, -0.082182122340451);
    EXPECT_EQ(b[2].a4, 0.51475407568659);
    EXPECT_EQ(b[3].a2, -0.797234350840012);
    const double* band4 = &b[4].b0;
    for (int i = 0; i < 9; ++i) EXPECT_EQ(band4[i], 0.0);
}

TEST(BandSplit, FiveBandShapes) {
    auto at = [](double f) { return band_db(false, f); };
    // Band 0: low-pass, -3 dB near 60 Hz.
    EXPECT_NEAR(at(60)[0], -3.0, 0.3);
    EXPECT_GT(at(20)[0], -1.0);
    EXPECT_LT(at(1000)[0], -50.0);
    // Band 1: -5 dB at 20 Hz, +2 dB peak at 255 Hz, gone above 1.3 kHz.
    const auto f255 = at(255);
    EXPECT_NEAR(at(20)[1], -5.0, 0.3);
    EXPECT_NEAR(f255[1], 2.0, 0.1);
    EXPECT_LT(at(200)[1], f255[1]);
    EXPECT_LT(at(315)[1], f255[1]);
    EXPECT_LT(at(3000)[1], -10.0);
    // Bands 2, 3, 4: unity peaks at 2.5, 7 and 13 kHz, within 3 dB over their ranges.
    const struct {
        int band;
        double low, peak, high, below, above;
    } passes[] = {
        {2, 1500, 2500, 4500, 700, 9000}, {3, 5000, 7000, 9000, 2000, 15000}, {4, 10000, 13000, 15000, 5000, 20000}};
    for (const auto& p : passes) {
        EXPECT_NEAR(at(p.peak)[p.band], 0.0, 0.1) << p.band;
        EXPECT_GT(at(p.low)[p.band], -3.0) << p.band;
        EXPECT_GT(at(p.high)[p.band], -3.0) << p.band;
        EXPECT_LT(at(p.below)[p.band], -15.0) << p.band;
        EXPECT_LT(at(p.above)[p.band], -15.0) << p.band;
    }
}

TEST(BandSplit, FourBandShapesWithSilentTopBand) {
    const struct {
        int band;
        double low, peak, high, below, above;
    } passes[] = {{0, 20, 45, 120, 1, 1000},
                  {1, 150, 315, 600, 45, 4000},
                  {2, 700, 1700, 4000, 200, 13400},
                  {3, 4000, 13400, 20000, 100, 1000}};
    for (const auto& p : passes) {
        EXPECT_NEAR(band_db(true, p.peak)[p.band], 0.0, 0.1) << p.band;
        EXPECT_GT(band_db(true, p.low)[p.band], -3.1) << p.band;
        EXPECT_GT(band_db(true, p.high)[p.band], -3.1) << p.band;
        EXPECT_LT(band_db(true, p.below)[p.band], -20.0) << p.band;
        if (p.above > p.high) {
            EXPECT_LT(band_db(true, p.above)[p.band], -20.0) << p.band;
        }
    }
    // Band 4 is exactly zero whatever the input, even with memories left by the five-band set.
    BandSplitState s{};
    double bands[5][2];
    for (int n = 0; n < 2000; ++n) {
        const double in[2] = {30000.0 * std::sin(0.9 * n), -20000.0 * std::cos(2.1 * n)};
        split_bands(s, n >= 1000, in, bands);
        if (n >= 1000) {
            ASSERT_EQ(bands[4][0], 0.0);
            ASSERT_EQ(bands[4][1], 0.0);
        }
    }
}

TEST(BandSplit, AlternatingSumIsFlat) {
    for (double f : {20,   30,   45,   60,   100,  150,  255,  400,  700,   1000,
                     1500, 1700, 2500, 3000, 4000, 5000, 7000, 9000, 10000, 12000}) {
        const double a = band_db(false, f)[5];
        EXPECT_GE(a, 1.1) << f;
        EXPECT_LE(a, 3.4) << f;
    }
    EXPECT_NEAR(band_db(false, 18000)[5], -13.6, 0.2);
    for (double f : {20, 30, 45, 60, 100, 150, 255, 400, 700, 1000, 1700, 3000, 4000, 7000, 10000, 13400, 18000}) {
        const double b = band_db(true, f)[5];
        EXPECT_GE(b, -0.6) << f;
        EXPECT_LE(b, 3.15) << f;
    }
}

TEST(BandSplit, DcResponse) {
    BandSplitState a{}, b{};
    double out_a[5][2], out_b[5][2];
    const double in[2] = {1000.0, 1000.0};
    for (int n = 0; n < 44100; ++n) {
        split_bands(a, false, in, out_a);
        split_bands(b, true, in, out_b);
    }
    // Five-band set: band 0 passes DC, band 1 at about -5 dB with inverted sign.
    EXPECT_NEAR(out_a[0][0], 974.0, 2.0);
    EXPECT_NEAR(db(-out_a[1][0] / 1000.0), -5.3, 0.1);
    EXPECT_LT(out_a[1][0], 0.0);
    // Four-band set: every numerator vanishes at DC. Band 0's memories grow to about 6e11
    // (its denominator is 1.6e-9 at DC), so only rounding noise, far below one LSB, is left.
    for (int k = 0; k < 5; ++k) EXPECT_LT(std::fabs(out_b[k][0]), 1e-3) << k;
    EXPECT_EQ(out_b[3][0], 0.0);
    EXPECT_EQ(out_a[0][0], out_a[0][1]);
}

TEST(BandSplit, ChannelsAreSeparateAndSwitchingKeepsMemories) {
    BandSplitState s{};
    double bands[5][2];
    for (int n = 0; n < 1000; ++n) {
        const double in[2] = {0.0, 10000.0 * std::sin(0.05 * n)};
        split_bands(s, false, in, bands);
        for (int k = 0; k < 5; ++k) ASSERT_EQ(bands[k][0], 0.0);
    }
    EXPECT_NE(bands[1][1], 0.0);
    // Toggling the set mid-stream continues from the memories: silence still rings.
    const double zero[2] = {0.0, 0.0};
    split_bands(s, true, zero, bands);
    EXPECT_NE(bands[1][1], 0.0);
    EXPECT_EQ(bands[1][0], 0.0);
}

}  // namespace
}  // namespace qv
