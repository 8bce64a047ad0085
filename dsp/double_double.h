#pragma once
// Double-double arithmetic: a value is hi + lo with |lo| <= ulp(hi) / 2, built
// from IEEE additions and multiplications only (no fused multiply-add, which
// -ffp-contract=off keeps the compiler from introducing), so every target
// computes the same bits.

namespace qv {

struct DoubleDouble {
    double hi, lo;
};

// a + b exactly (Knuth).
inline DoubleDouble two_sum(double a, double b) {
    const double s = a + b;
    const double bb = s - a;
    return {s, (a - (s - bb)) + (b - bb)};
}

// a + b exactly when a == 0 or the exponent of a is not below that of b (Dekker).
inline DoubleDouble quick_two_sum(double a, double b) {
    const double s = a + b;
    return {s, b - (s - a)};
}

// a * b exactly (Dekker's product with Veltkamp's splitting) for |a|, |b| below
// 2^995 and a product whose low part is not subnormal.
inline DoubleDouble two_prod(double a, double b) {
    const double split = 134217729.0;  // 2^27 + 1
    const double ta = split * a, a_hi = ta - (ta - a), a_lo = a - a_hi;
    const double tb = split * b, b_hi = tb - (tb - b), b_lo = b - b_hi;
    const double p = a * b;
    return {p, ((a_hi * b_hi - p) + a_hi * b_lo + a_lo * b_hi) + a_lo * b_lo};
}

inline DoubleDouble dd_add(DoubleDouble a, DoubleDouble b) {
    DoubleDouble s = two_sum(a.hi, b.hi);
    const DoubleDouble t = two_sum(a.lo, b.lo);
    s = quick_two_sum(s.hi, s.lo + t.hi);
    return quick_two_sum(s.hi, s.lo + t.lo);
}

inline DoubleDouble dd_mul(DoubleDouble a, DoubleDouble b) {
    const DoubleDouble p = two_prod(a.hi, b.hi);
    return quick_two_sum(p.hi, p.lo + (a.hi * b.lo + a.lo * b.hi));
}

inline DoubleDouble dd_div(DoubleDouble a, double b) {
    const double q1 = a.hi / b;
    const DoubleDouble p = two_prod(q1, b);
    const double q2 = (a.hi - p.hi - p.lo + a.lo) / b;
    return quick_two_sum(q1, q2);
}

}  // namespace qv
