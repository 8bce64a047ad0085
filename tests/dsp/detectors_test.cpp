#include "dsp/detectors.h"

#include <gtest/gtest.h>

#include <cmath>

namespace qv {
namespace {

TEST(Detectors, PeakIsTheLargerMagnitude) {
    EXPECT_EQ(peak_level(3.0, -5.0), 5.0);
    EXPECT_EQ(peak_level(-7.0, 2.0), 7.0);
    EXPECT_EQ(peak_level(-4.0, 4.0), 4.0);
    EXPECT_FALSE(std::signbit(peak_level(-0.0, -0.0)));
}

TEST(Detectors, RmsCoefficientsAreThePrintedOnes) {
    const double want[5] = {0.99, 0.95, 0.79277, 0.68842, 0.5};
    for (int k = 0; k < 5; ++k) {
        EXPECT_EQ(kRmsCoefs[k], want[k]) << k;
        // One sample of 1000 after silence: sqrt(1000^2 * (1 - c)).
        double state = 0;
        EXPECT_DOUBLE_EQ(rms_level(1000.0, 0.0, state, k), std::sqrt(1e6 * (1.0 - want[k]))) << k;
    }
    double state = 0;
    EXPECT_NEAR(rms_level(1000.0, 0.0, state, 4), 707.1, 0.05);
}

TEST(Detectors, RmsFollowsTheLargerChannelNotTheMean) {
    for (int k : {0, 2}) {
        double state = 0, level = 0;
        for (int n = 0; n < 5000; ++n) level = rms_level(3000.0, 4000.0, state, k);
        EXPECT_NEAR(level, 4000.0, 1e-6);
        for (int n = 0; n < 5000; ++n) level = rms_level(4000.0, 3000.0, state, k);
        EXPECT_NEAR(level, 4000.0, 1e-6);
    }
}

TEST(Detectors, RmsOutOfRangeBandUsesNearestDetector) {
    double s1 = 0, s2 = 0;
    EXPECT_EQ(rms_level(1000.0, 0.0, s1, 9), rms_level(1000.0, 0.0, s2, 4));
    EXPECT_EQ(rms_level(1000.0, 0.0, s1, -1), rms_level(1000.0, 0.0, s2, 0));
}

TEST(Detectors, LinkOnlyLowersTowardTheSmallerGain) {
    double target = 1.0;
    link_gains(0.5, target, 50);
    EXPECT_DOUBLE_EQ(target, 0.75);
    for (int pct : {0, 20, 50, 100}) {
        double t = 0.5;
        link_gains(1.0, t, pct);
        EXPECT_DOUBLE_EQ(t, 0.5) << pct;
    }
    target = 0.8;
    link_gains(0.2, target, 100);
    EXPECT_DOUBLE_EQ(target, 0.2);
    target = 0.8;
    link_gains(0.2, target, 0);
    EXPECT_DOUBLE_EQ(target, 0.8);
}

}  // namespace
}  // namespace qv
