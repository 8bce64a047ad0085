#include "settings/conversions.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

namespace qv {
namespace {

constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();

TEST(Conversions, TimeConstants) {
    // The leading digits of each value.
    auto digits = [](double v) { return std::floor(v * 1e6) / 1e6; };
    EXPECT_DOUBLE_EQ(digits(tc(1)), 0.900947);
    EXPECT_DOUBLE_EQ(digits(tc(10)), 0.989623);
    EXPECT_DOUBLE_EQ(digits(tc(1000)), 0.999895);
    EXPECT_DOUBLE_EQ(digits(tc(20000)), 0.999994);
    EXPECT_EQ(tc(0), 0.0);
    // The base is the literal 2.718281828, not e: the difference shows in the
    // last bits, and an independent extended-precision evaluation agrees.
    const long double exact = std::pow(2.718281828L, -4.6L / 44100 / 0.001L);
    EXPECT_NEAR(tc(1), static_cast<double>(exact), 4e-16);
    EXPECT_GT(std::fabs(tc(1) - std::exp(-4.6 / 44.1)), 1e-12);
}

TEST(Conversions, TimeConstantsAreCorrectlyRounded) {
    // Times where a C library's pow is one unit off in the last place; both
    // targets must derive the correctly rounded coefficient.
    EXPECT_EQ(tc(3619), 0x1.fffc38e4bdeb1p-1);
    EXPECT_EQ(tc(9318), 0x1.fffe886252bcbp-1);
    EXPECT_EQ(tc(11305), 0x1.fffeca67336d7p-1);
    EXPECT_EQ(tc(16958), 0x1.ffff319b9c4e9p-1);
    EXPECT_EQ(tc(17072), 0x1.ffff32fc6e07fp-1);
}

TEST(Conversions, TimeConstantsStayInUnitInterval) {
    EXPECT_EQ(tc(-1), 0.0);
    EXPECT_EQ(tc(kMin), 0.0);
    EXPECT_LT(tc(kMax), 1.0);
    EXPECT_GT(tc(kMax), 0.999999);
}

TEST(Conversions, Levels) {
    EXPECT_EQ(lvl200(-60), 16422);
    EXPECT_EQ(lvl200(0), 32767);
    EXPECT_EQ(lvl200(120), 130447);
    EXPECT_EQ(lvl20(-25), 1842);
    EXPECT_EQ(lvl20(-40), 327);
    EXPECT_EQ(lvl20(0), 32767);
    EXPECT_EQ(lvl20(10), 103618);
}

TEST(Conversions, LevelsSaturateInsteadOfOverflowing) {
    // 32767 * 10^(t/200) passes 2^31 - 1 between t = 963 and 964.
    EXPECT_LT(lvl200(963), kMax);
    EXPECT_GT(lvl200(963), 2100000000);
    EXPECT_EQ(lvl200(964), kMax);
    EXPECT_EQ(lvl200(kMax), kMax);
    EXPECT_EQ(lvl20(kMax), kMax);
    EXPECT_EQ(lvl20(97), kMax);
    EXPECT_EQ(lvl200(kMin), 0);
    EXPECT_EQ(lvl20(kMin), 0);
    EXPECT_EQ(lvl20(-100), 0);  // 0.33 truncates to 0
}

TEST(Conversions, Samples) {
    EXPECT_EQ(samples(10), 441);
    EXPECT_EQ(samples(20), 882);
    EXPECT_EQ(samples(0), 0);
    EXPECT_EQ(samples(12), 529);  // 529.2 truncated
    EXPECT_EQ(samples(-10), -441);
    EXPECT_EQ(samples(-12), -529);  // toward zero
    EXPECT_EQ(samples(48695), 2147449);
    // Beyond 48695 ms the 32-bit product would wrap; the result stays right.
    EXPECT_EQ(samples(100000), 4410000);
    EXPECT_EQ(samples(kMax), kMax);
    EXPECT_EQ(samples(kMin), kMin);
}

}  // namespace
}  // namespace qv
