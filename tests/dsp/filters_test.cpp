#include "dsp/filters.h"

#include <gtest/gtest.h>

#include <cmath>

#include "tests/dsp/tone_probe.h"

namespace qv {
namespace {

using test::db;
using test::tone_response;

TEST(FilterSections, BiquadUnityPassesAndKeepsInputHistory) {
    const BiquadCoefs unity{1.0, 0.0, 0.0, 0.0, 0.0};
    BiquadState s{};
    for (double x : {3.0, -7.0, 11.0}) {
        double a = x, b = -2 * x;
        process_biquad(unity, s, a, b);
        EXPECT_EQ(a, x);
        EXPECT_EQ(b, -2 * x);
    }
    EXPECT_EQ(s.w1[0], 11.0);
    EXPECT_EQ(s.w2[0], -7.0);
    EXPECT_EQ(s.w1[1], -22.0);
    EXPECT_EQ(s.w2[1], 14.0);
}

TEST(FilterSections, ImpulseResponsesFollowDirectFormTwo) {
    // b1 is stored before b0: {b1 = 0, b0 = 1, a1 = -0.5} is a one-pole low-pass.
    const FirstOrderCoefs pole{0.0, 1.0, -0.5};
    // {b1 = 1, b0 = 0, a1 = 0} is a one-sample delay.
    const FirstOrderCoefs delay{1.0, 0.0, 0.0};
    // A two-sample delay through the biquad; y[n] = x[n-4] + 0.5 y[n-4] through the fourth order.
    const BiquadCoefs delay2{0.0, 0.0, 1.0, 0.0, 0.0};
    const FourthOrderCoefs comb{0.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0, -0.5};
    FirstOrderState s1{}, s2{};
    BiquadState s3{};
    FourthOrderState s4{};
    const double want_pole[] = {1, 0.5, 0.25, 0.125, 0.0625, 0.03125, 0.015625, 0.0078125, 0.00390625};
    const double want_comb[] = {0, 0, 0, 0, 1, 0, 0, 0, 0.5};
    for (int n = 0; n < 9; ++n) {
        const double x = n == 0 ? 1.0 : 0.0;
        double p = x, d = x, q = x, c = x, unused = 0;
        process_first_order(pole, s1, p, unused);
        process_first_order(delay, s2, d, unused);
        process_biquad(delay2, s3, q, unused);
        process_fourth_order(comb, s4, c, unused);
        EXPECT_EQ(p, want_pole[n]) << n;
        EXPECT_EQ(d, n == 1 ? 1.0 : 0.0) << n;
        EXPECT_EQ(q, n == 2 ? 1.0 : 0.0) << n;
        EXPECT_EQ(c, want_comb[n]) << n;
    }
}

TEST(FilterSections, ChannelsNeverShareMemory) {
    const FirstOrderCoefs fo{0.3, 0.2, -0.9};
    const BiquadCoefs bq{0.1, 0.2, 0.1, -1.6, 0.8};
    const FourthOrderCoefs fr{0.01, 0.02, 0.03, 0.02, 0.01, -2.0, 1.8, -0.9, 0.2};
    for (int tone_channel = 0; tone_channel < 2; ++tone_channel) {
        FirstOrderState s1{};
        BiquadState s2{};
        FourthOrderState s4{};
        double loudest = 0;
        for (int n = 0; n < 500; ++n) {
            const double tone = 10000.0 * std::sin(0.1 * n);
            double v[3][2] = {};
            for (auto& pair : v) pair[tone_channel] = tone;
            process_first_order(fo, s1, v[0][0], v[0][1]);
            process_biquad(bq, s2, v[1][0], v[1][1]);
            process_fourth_order(fr, s4, v[2][0], v[2][1]);
            for (auto& pair : v) {
                ASSERT_EQ(pair[1 - tone_channel], 0.0) << n;
                loudest = std::fmax(loudest, std::fabs(pair[tone_channel]));
            }
        }
        EXPECT_GT(loudest, 100.0);
    }
}

TEST(PhaseRotator, CountOneOrLessChangesNothing) {
    PhaseRotatorState s{};
    s.lp[0][0] = 5.0;
    s.lp[2][1] = -3.0;
    const PhaseRotatorState before = s;
    for (int count : {1, 0, -4}) {
        double a = 1234.5, b = -321.0;
        phase_rotate(s, a, b, count);
        EXPECT_EQ(a, 1234.5);
        EXPECT_EQ(b, -321.0);
    }
    for (int ch = 0; ch < 2; ++ch)
        for (int i = 0; i < kPhaseRotatorMaxStages; ++i) EXPECT_EQ(s.lp[i][ch], before.lp[i][ch]);
}

TEST(PhaseRotator, InputWeightIsOneMinusPoleInDoubleArithmetic) {
    PhaseRotatorState s{};
    double a = 1.0, b = 0.0;
    phase_rotate(s, a, b, 2);
    EXPECT_EQ(s.lp[0][0], 1.0 - 0.95);
    EXPECT_NE(s.lp[0][0], 0.05);
    EXPECT_EQ(a, 2.0 * (1.0 - 0.95) - 1.0);
    EXPECT_EQ(b, 0.0);
    EXPECT_EQ(s.lp[0][1], 0.0);
}

TEST(PhaseRotator, UnityAtDcAndAboutMinusHalfDbPerStageAtHighs) {
    PhaseRotatorState dc{};
    double a = 0, b = 0;
    for (int n = 0; n < 3000; ++n) {
        a = 1000.0;
        b = -250.0;
        phase_rotate(dc, a, b, 4);
    }
    EXPECT_NEAR(a, 1000.0, 1e-9);
    EXPECT_NEAR(b, -250.0, 1e-9);

    for (double f : {5000.0, 10000.0, 15000.0}) {
        PhaseRotatorState one{}, three{};
        const auto r1 = tone_response(f, [&](double x) {
            double y = 0;
            phase_rotate(one, x, y, 2);
            return x;
        });
        const auto r3 = tone_response(f, [&](double x) {
            double y = 0;
            phase_rotate(three, x, y, 4);
            return x;
        });
        EXPECT_NEAR(db(r1.gain), -0.46, 0.01) << f;
        EXPECT_NEAR(db(r3.gain), 3 * -0.457, 0.02) << f;
    }
    // One stage turns the phase by -90 degrees near 400 Hz.
    PhaseRotatorState one{};
    const auto r = tone_response(400.0, [&](double x) {
        double y = 0;
        phase_rotate(one, x, y, 2);
        return x;
    });
    EXPECT_NEAR(r.phase_deg, -94.5, 1.0);
}

TEST(PhaseRotator, ExcessCountIsBoundedByTheMemories) {
    PhaseRotatorState s{};
    double a = 100.0, b = 100.0;
    phase_rotate(s, a, b, 1000);
    PhaseRotatorState ref{};
    double ra = 100.0, rb = 100.0;
    phase_rotate(ref, ra, rb, kPhaseRotatorMaxStages + 1);
    EXPECT_EQ(a, ra);
    EXPECT_EQ(b, rb);
}

}  // namespace
}  // namespace qv
