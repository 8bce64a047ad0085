#include "dsp/am_filter.h"

#include <gtest/gtest.h>

#include <cmath>

#include "tests/dsp/tone_probe.h"

namespace qv {
namespace {

using test::db;

// Both sections and the 0.9 trim that follows them in the output stage.
struct Cascade {
    AmSectionState s1{}, s2{};
    double operator()(double x) {
        double other = 0;
        am_filter_section1(s1, x, other);
        am_filter_section2(s2, x, other);
        return x * 0.9;
    }
};

TEST(AmFilter, TablesHoldThePrintedDigits) {
    EXPECT_EQ(kAmSection1Coefs.b[0], -0.0004217965280520592);
    EXPECT_EQ(kAmSection1Coefs.b[5], -0.05237840082682249);
    EXPECT_EQ(kAmSection1Coefs.b[10], 0.0030397507477321123);
    EXPECT_EQ(kAmSection1Coefs.a[0], -7.144031883100494);
    EXPECT_EQ(kAmSection1Coefs.a[4], -50.719232868590076);
    EXPECT_EQ(kAmSection1Coefs.a[9], -0.07729250097946681);
    EXPECT_EQ(kAmSection2Coefs.b[0], -0.011959490468915633);
    EXPECT_EQ(kAmSection2Coefs.b[6], 0.39331538288037826);
    EXPECT_EQ(kAmSection2Coefs.b[10], 0.03324524745625965);
    EXPECT_EQ(kAmSection2Coefs.a[0], -7.744224300034943);
    EXPECT_EQ(kAmSection2Coefs.a[3], 87.06692202267901);
    EXPECT_EQ(kAmSection2Coefs.a[9], 0.19921456691719497);
}

TEST(AmFilter, SilenceStaysExactlyZero) {
    AmSectionState s1{}, s2{};
    for (int n = 0; n < 1000; ++n) {
        double a = 0.0, b = 0.0;
        am_filter_section1(s1, a, b);
        am_filter_section2(s2, a, b);
        ASSERT_EQ(a, 0.0);
        ASSERT_EQ(b, 0.0);
    }
}

TEST(AmFilter, CascadeIsASharpLowPassNearFourAndAHalfKilohertz) {
    const double amp = 10000.0;
    Cascade lows;
    EXPECT_NEAR(db(test::tone_response(100, lows, 44100, amp).gain), -0.9, 0.05);
    Cascade mid;
    const double at_1k = test::tone_response(1000, mid, 44100, amp).gain * amp;
    EXPECT_NEAR(at_1k, 9380.0, 100.0);  // about -0.6 dB
    for (double f : {2000.0, 3000.0, 4000.0}) {
        Cascade c;
        const double d = db(test::tone_response(f, c, 44100, amp).gain);
        EXPECT_LT(d, -0.2) << f;
        EXPECT_GT(d, -1.7) << f;
    }
    Cascade edge;
    EXPECT_LT(db(test::tone_response(4700, edge, 44100, amp).gain), -30.0);
    for (double f : {5000.0, 8000.0, 12000.0}) {
        Cascade c;
        EXPECT_LT(db(test::tone_response(f, c, 44100, amp).gain), -90.0) << f;
    }
    // A 6 kHz sine of 10000 comes out below 1 once settled.
    Cascade six;
    double loudest = 0;
    for (int n = 0; n < 88200; ++n) {
        const double y = six(amp * std::sin(2.0 * 3.141592653589793 * 6000.0 * n / 44100.0));
        if (n >= 44100) loudest = std::fmax(loudest, std::fabs(y));
    }
    EXPECT_LT(loudest, 1.0);
}

TEST(AmFilter, ChannelsAndSectionsKeepSeparateMemories) {
    AmSectionState s1{}, s2{};
    for (int n = 0; n < 500; ++n) {
        double a = 10000.0 * std::sin(0.1 * n), b = 0.0;
        am_filter_section1(s1, a, b);
        am_filter_section2(s2, a, b);
        ASSERT_EQ(b, 0.0);
    }
    // Section 2 alone on a fresh state differs from section 1 alone: separate coefficients.
    AmSectionState x{}, y{};
    double a1 = 1.0, b1 = 0.0, a2 = 1.0, b2 = 0.0;
    am_filter_section1(x, a1, b1);
    am_filter_section2(y, a2, b2);
    EXPECT_EQ(a1, kAmSection1Coefs.b[0]);
    EXPECT_EQ(a2, kAmSection2Coefs.b[0]);
    EXPECT_EQ(x.w[0][0], 1.0);
    EXPECT_EQ(x.w[0][1], 0.0);
}

}  // namespace
}  // namespace qv
