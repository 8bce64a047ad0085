#pragma once
// x^y rounded to nearest (ties to even) for every pair of doubles, the same
// bits on every target: IEEE double additions and multiplications and integer
// operations only. Special cases are those of C's pow: pow(x, +-0) = 1 and
// pow(1, y) = 1 for every x and y (NaN too), NaN otherwise propagates, a
// negative x needs an integer y (odd: the result is negative) or gives NaN,
// zeros and infinities follow C99 Annex F. The result does not depend on the
// MXCSR flush-to-zero and denormals-are-zero bits: subnormal arguments are
// read and subnormal results written as bit patterns.

namespace qv {

double cr_pow(double x, double y);

namespace cr_pow_detail {

// The multiprecision evaluation alone, for tests: x positive and finite,
// 2^-65 <= |y| < 2^64 and |y ln x| < 745.
double accurate_pow(double x, double y);

}  // namespace cr_pow_detail

}  // namespace qv
