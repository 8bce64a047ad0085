#include "settings/conversions.h"

#include <cstdint>
#include <limits>

#include "dsp/cr_pow.h"

namespace qv {

namespace {

// Truncates a non-negative level toward zero, saturating at the int32 range.
std::int32_t level_from_double(double v) {
    if (!(v < 2147483647.0)) return std::numeric_limits<std::int32_t>::max();
    if (v <= -2147483648.0) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(v);
}

}  // namespace

double tc(std::int32_t ms) {
    // ms = 0 makes the exponent minus infinity (result 0); a negative time
    // would give a coefficient above 1, so it freezes nothing and means 0 too.
    if (ms <= 0) return 0.0;
    return cr_pow(2.718281828, (-4.6 / 44100) / (ms * 0.001));
}

std::int32_t lvl20(std::int32_t db) { return level_from_double(32767 * cr_pow(10.0, db * 0.05)); }

std::int32_t lvl200(std::int32_t db10) { return level_from_double(32767 * cr_pow(10.0, db10 * 0.005)); }

std::int32_t samples(std::int32_t ms) {
    // 64-bit product: identical to the 32-bit result wherever that does not
    // overflow (|ms| <= 48695), saturated beyond.
    const std::int64_t n = static_cast<std::int64_t>(ms) * 44100 / 1000;
    if (n > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
    if (n < std::numeric_limits<std::int32_t>::min()) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(n);
}

}  // namespace qv
