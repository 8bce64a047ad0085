#include "settings/conversions.h"

#include <cmath>
#include <cstdint>
#include <limits>

namespace qv {

namespace {

// Truncates a non-negative level toward zero, saturating at the int32 range.
std::int32_t level_from_double(double v) {
    if (!(v < 2147483647.0)) return std::numeric_limits<std::int32_t>::max();
    if (v <= -2147483648.0) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(v);
}

// Double-double arithmetic (a value is hi + lo, |lo| <= ulp(hi) / 2) from
// IEEE additions and multiplications only, so that every target computes the
// same bits.
struct DoubleDouble {
    double hi, lo;
};

DoubleDouble two_sum(double a, double b) {
    const double s = a + b;
    const double bb = s - a;
    return {s, (a - (s - bb)) + (b - bb)};
}

DoubleDouble quick_two_sum(double a, double b) {
    const double s = a + b;
    return {s, b - (s - a)};
}

// Exact product of two doubles (Dekker's splitting; no fused multiply-add).
DoubleDouble two_prod(double a, double b) {
    const double split = 134217729.0;  // 2^27 + 1
    const double ta = split * a, a_hi = ta - (ta - a), a_lo = a - a_hi;
    const double tb = split * b, b_hi = tb - (tb - b), b_lo = b - b_hi;
    const double p = a * b;
    return {p, ((a_hi * b_hi - p) + a_hi * b_lo + a_lo * b_hi) + a_lo * b_lo};
}

DoubleDouble dd_add(DoubleDouble a, DoubleDouble b) {
    DoubleDouble s = two_sum(a.hi, b.hi);
    const DoubleDouble t = two_sum(a.lo, b.lo);
    s = quick_two_sum(s.hi, s.lo + t.hi);
    return quick_two_sum(s.hi, s.lo + t.lo);
}

DoubleDouble dd_mul(DoubleDouble a, DoubleDouble b) {
    const DoubleDouble p = two_prod(a.hi, b.hi);
    return quick_two_sum(p.hi, p.lo + (a.hi * b.lo + a.lo * b.hi));
}

DoubleDouble dd_div(DoubleDouble a, double b) {
    const double q1 = a.hi / b;
    const DoubleDouble p = two_prod(q1, b);
    const double q2 = (a.hi - p.hi - p.lo + a.lo) / b;
    return quick_two_sum(q1, q2);
}

// ln(2.718281828) (the double nearest that literal) as hi + lo, good to 1e-35.
constexpr DoubleDouble kLnBase = {0x1.fffffffe8ca4cp-1, -0x1.3938d9ee0a15bp-59};

}  // namespace

double tc(std::int32_t ms) {
    // ms = 0 makes the exponent minus infinity (result 0); a negative time
    // would give a coefficient above 1, so it freezes nothing and means 0 too.
    if (ms <= 0) return 0.0;
    // pow(2.718281828, x), correctly rounded. The C libraries' pow differ in
    // the last bit for a few times (mingw-w64's is one unit off at 3619 ms,
    // for one), so the power is evaluated here: x * ln(base) and its
    // exponential in double-double (Taylor series, |x * ln(base)| <= 0.1044
    // for ms >= 1), then rounded once to double.
    const double x = (-4.6 / 44100) / (ms * 0.001);
    const DoubleDouble p = two_prod(x, kLnBase.hi);
    const DoubleDouble t = quick_two_sum(p.hi, p.lo + x * kLnBase.lo);
    DoubleDouble sum = {1.0, 0.0};
    DoubleDouble term = {1.0, 0.0};
    for (int k = 1; k <= 20; ++k) {
        term = dd_div(dd_mul(term, t), k);
        sum = dd_add(sum, term);
    }
    return sum.hi + sum.lo;
}

std::int32_t lvl20(std::int32_t db) { return level_from_double(32767 * std::pow(10.0, db * 0.05)); }

std::int32_t lvl200(std::int32_t db10) { return level_from_double(32767 * std::pow(10.0, db10 * 0.005)); }

std::int32_t samples(std::int32_t ms) {
    // 64-bit product: identical to the 32-bit result wherever that does not
    // overflow (|ms| <= 48695), saturated beyond.
    const std::int64_t n = static_cast<std::int64_t>(ms) * 44100 / 1000;
    if (n > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
    if (n < std::numeric_limits<std::int32_t>::min()) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(n);
}

}  // namespace qv
