#include "dsp/soft_clip.h"

#include <gtest/gtest.h>

namespace qv {
namespace {

constexpr std::int32_t kKnee = 2148;

double clip(std::int32_t t, double x) {
    soft_clip(t, x, kKnee, 0);
    return x;
}

TEST(SoftClip, KneeValues) {
    EXPECT_EQ(clip(32760, 32760.0), 32760.0);
    EXPECT_EQ(clip(32760, -32760.0), -32760.0);
    EXPECT_EQ(clip(32760, 1000.0), 1000.0);
    EXPECT_EQ(clip(32760, 32760.0 + 2148.0), 33834.0);
    EXPECT_EQ(clip(32760, -40000.0), -(32760 + 7240.0 * 2148 / 9388));
    EXPECT_NEAR(clip(32760, -40000.0), -34416.5, 0.1);
    EXPECT_LT(clip(32760, 1e12), 32760.0 + kKnee);
    // Slope 1 at the threshold: no corner.
    EXPECT_NEAR(clip(32760, 32761.0) - 32760.0, 1.0, 1e-3);
}

TEST(SoftClip, ZeroThresholdLimitsEverySampleSmoothly) {
    EXPECT_EQ(clip(0, 0.0), 0.0);
    EXPECT_EQ(clip(0, 2148.0), 1074.0);
    EXPECT_EQ(clip(0, -2148.0), -1074.0);
    EXPECT_NEAR(clip(0, 1e-6), 1e-6, 1e-15);
    EXPECT_NEAR(clip(0, -1e-6), -1e-6, 1e-15);
}

TEST(SoftClip, NoClipperSwitchAffectsOnlyTheSingleForm) {
    for (std::int32_t t : {0, 1000, 32760}) {
        double x = -40000.0;
        soft_clip(t, x, kKnee, 1);
        EXPECT_EQ(x, -40000.0);
    }
    double a = 40000.0, b = -35000.0;
    soft_clip_pair(32760, a, b, kKnee);
    EXPECT_EQ(a, clip(32760, 40000.0));
    EXPECT_EQ(b, clip(32760, -35000.0));
}

}  // namespace
}  // namespace qv
