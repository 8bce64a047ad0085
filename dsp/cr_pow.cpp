#include "dsp/cr_pow.h"

#include <bit>
#include <cstdint>

#include "dsp/cr_pow_tables.h"
#include "dsp/double_double.h"

// x^y = exp(y ln x), with x = 2^k z, z in [0.6748, 1.3496), r = z invc - 1
// exact and |r| <= 2^-9 (table of 256), ln x = k ln2 - ln(invc) + log1p(r), and
// exp(z) = 2^K 2^(j/256) exp(r') with |r'| <= 2^-9.49. Each try ends in a
// rounding test: hi + lo within eps (hi + lo) of x^y rounds one way whatever
// the error, or the next try runs. The test's own additions move its bounds
// by at most 2^-72 (2^-62.5 in the first try), inside the margins below.
//
// 1. Double precision after the exact first terms: log1p(r) - r as one series
//    in double (relative error 6.1 * 2^-53 on r^2/2, hence 2^-60.4 |r|); the
//    sum k ln2 + logc_hi + rhi exact, rlo (< 2^-36, 0 in the subinterval of 1)
//    in the low part (2^-72 more). ln x within 2^-59 relative when k = 0
//    (2^-60.2 in the subinterval of 1, where |ln x| >= |r|; twice that plus
//    2^-62 next to it, where |ln x| >= 2^-10 and |r| <= 2^-9), 2^-67.2
//    otherwise (|ln x| >= ln2 - 0.3934). y ln x from 26-bit halves
//    (2^-76 |z|). exp(r') in double: five roundings of 2^-53 |r'|, 2^-60.2
//    relative. Bound used:
//        eps = 2^-59.5 + |z| (2^-58.5 if k = 0, else 2^-66.5).
//    It decides all but about 1.6 % of the chain's calls.
// 2. Double-double: r and r^2 exact, r^3 onwards in double, series to r^8:
//    ln x within 2^-68.4 when k = 0 (r^3 term 7.6 roundings of 2^-53 on
//    |r|^3/3, 2^-69.7 |r|; its addition 2^-72.6 |r|; tail 2^-75.2 |r|),
//    2^-76.6 otherwise (the table's logc, within 2^-96, adds at most 2^-86).
//    z = y ln x exact to 2^-104 |z|. exp(r') to r'^6 with r' as hi + lo:
//    2^-69.88 (series 2^-71.04, four roundings 2^-73..2^-72, reduction
//    2^-86.3 |z| + 2^-95). Bound used:
//        eps = 2^-69.4 + |z| (2^-68 if k = 0, else 2^-76).
//    Results in the subnormal range are rounded here on their coarser grid.
// 3. When that cannot decide either, the arguments whose power is a dyadic
//    number of at most 63 bits (every exact result and every half-way case)
//    are rounded exactly in integers: x = 2^e, or y a positive integer with
//    mx^y < 2^63 (mx the odd part of x), or y = m / 2^s (s <= 5) with mx a
//    perfect 2^s-th power. No other positive x^y is a double or a half-way
//    point (at most 54 significant bits): the others either have more bits
//    (an odd mx^y >= 2^63) or are no dyadic rational at all (y < 0 with
//    mx > 1, or y with a larger power of 2 in its denominator than mx allows).
// 4. Otherwise (one call in 10000 to 50000) a fixed-point evaluation with 384
//    fraction bits, then 1248 if ever needed: ln x by Newton's iteration on
//    exp from the value of step 2, z = y ln x, exp(z), with an error bound of
//    2^-(F - 96) relative (see accurate()).
//
// Subnormal intermediates never occur in steps 1 and 2 (|y| >= 2^-65 and
// x != 1 keep every nonzero term above 2^-250); subnormal x is normalised and
// subnormal results are assembled as bit patterns, so MXCSR's FTZ and DAZ bits
// change nothing.

namespace qv {

namespace {

namespace tab = cr_pow_tables;

constexpr std::uint64_t kSignBit = 0x8000000000000000ull;
constexpr std::uint64_t kInfBits = 0x7ff0000000000000ull;
constexpr std::uint64_t kOneBits = 0x3ff0000000000000ull;
constexpr std::uint64_t kMantMask = 0x000fffffffffffffull;

inline std::uint64_t bits_of(double d) { return std::bit_cast<std::uint64_t>(d); }
inline double from_bits(std::uint64_t b) { return std::bit_cast<double>(b); }

// ---------------------------------------------------------------------------
// Steps 1 and 2.

constexpr std::uint64_t kLogOff = 0x3fe5980000000000ull;
constexpr double kLn2Hi = 0x1.62e42fefa3800p-1;  // 42 bits: k * kLn2Hi exact for |k| < 2^11
constexpr double kLn2Lo = 0x1.ef35793c76730p-45;
constexpr double kShift = 0x1.8p52;                // adding and subtracting it rounds to an integer
constexpr double kInvLn2N = 0x1.71547652b82fep+8;  // 256 / ln 2
constexpr double kLn2NHi = 0x1.62e42fef80000p-9;   // ln2 / 256, 34 bits: kd * kLn2NHi exact for |kd| < 2^19
constexpr double kLn2NLo = 0x1.1cf79abc9e3b4p-44;

constexpr double kExpErr = 0x1.8p-70;  // 2^-69.4
constexpr double kLogErrNear1 = 0x1p-68;
constexpr double kLogErrFar = 0x1p-76;
constexpr double kFirstExpErr = 0x1.6a09e667f3bcdp-60;       // 2^-59.5
constexpr double kFirstLogErrNear1 = 0x1.6a09e667f3bcdp-59;  // 2^-58.5
constexpr double kFirstLogErrFar = 0x1.6a09e667f3bcdp-67;    // 2^-66.5

struct Log {
    double hi, lo;
    int k;
};

constexpr int kIndexOfOne = 166;  // the subinterval holding z = 1, where invc = 1 and logc = 0

// x = 2^k z, z in [0.6748, 1.3496), and r = z invc - 1 = rhi + rlo exactly.
struct Reduced {
    const tab::LogEntry* e;
    double rhi, rlo;
    int k;
};

// For the bit pattern ix of a positive normal double times 2^kadj.
inline Reduced reduce(std::uint64_t ix, int kadj) {
    const std::uint64_t tmp = ix - kLogOff;
    const int i = static_cast<int>((tmp >> 44) & 255);
    const tab::LogEntry* e = &tab::kLog[i];
    const int k = static_cast<int>(static_cast<std::int64_t>(tmp) >> 52) + kadj;
    const std::uint64_t iz = ix - (tmp & (0xfffull << 52));
    const double z = from_bits(iz);
    // zhi has 37 significant bits and invc 16: zhi * invc is exact, and within
    // a factor 2 of 1, so subtracting 1 is exact too; zlo * invc has 32 bits.
    // Where invc = 1, zhi = z: r = z - 1 in one double and rlo = 0.
    const double zhi = from_bits(i == kIndexOfOne ? iz : iz & ~0xffffull);
    const double zlo = z - zhi;
    return {e, zhi * e->invc - 1.0, zlo * e->invc, k};
}

inline Log log_dd(const Reduced& red) {
    const tab::LogEntry& e = *red.e;
    const int k = red.k;
    const DoubleDouble r = two_sum(red.rhi, red.rlo);
    const DoubleDouble p = two_prod(r.hi, r.hi);
    const double kd = k;
    const double t1 = kd * kLn2Hi + e.logc_hi;                 // exact: multiples of 2^-42 below 2^10
    const DoubleDouble s1 = quick_two_sum(r.hi, -0.5 * p.hi);  // |r| >= r^2 / 2
    const DoubleDouble t2 = two_sum(t1, s1.hi);
    // log1p(r) - r + r^2 / 2 = r^3 (1/3 - r/4 + ... - r^5/8)
    const double rr = r.hi;
    const double poly =
        0x1.5555555555555p-2 +
        rr * (-0x1p-2 +
              rr * (0x1.999999999999ap-3 + rr * (-0x1.5555555555555p-3 + rr * (0x1.2492492492492p-3 + rr * -0x1p-3))));
    const double small = t2.lo + s1.lo + kd * kLn2Lo + e.logc_lo + r.lo + (-0.5 * p.lo - rr * r.lo);
    const double lo = small + p.hi * rr * poly;
    const DoubleDouble l = quick_two_sum(t2.hi, lo);
    return {l.hi, l.lo, k};
}

struct Exp {
    double hi, lo;  // 2^-K exp(z), in [0.998, 2.003)
    int K;
};

// exp(zh + zl) for -746 < zh < 710, |zl| <= 2^-52 |zh|.
inline Exp exp_dd(double zh, double zl) {
    double kd = zh * kInvLn2N + kShift;
    kd -= kShift;
    const int ki = static_cast<int>(kd);
    // t is exact: kd * kLn2NHi has at most 53 bits, and when kd != 0, zh is
    // within half of it (Sterbenz).
    const double t = zh - kd * kLn2NHi;
    const double v = zl - kd * kLn2NLo;
    const DoubleDouble r = two_sum(t, v);
    const double rh = r.hi;
    const double q =
        rh * rh *
        (0.5 + rh * (0x1.5555555555555p-3 +
                     rh * (0x1.5555555555555p-5 + rh * (0x1.1111111111111p-7 + rh * 0x1.6c16c16c16c17p-10))));
    const double s = q + (r.lo + rh * r.lo);  // exp(r) - 1 - rh
    const tab::ExpEntry& e = tab::kExp[ki & 255];
    const DoubleDouble a = two_prod(e.hi, rh);
    const double lo = (a.lo + (e.lo + e.lo * rh)) + e.hi * s;
    const DoubleDouble h = quick_two_sum(e.hi, a.hi);
    return {h.hi, h.lo + lo, ki >> 8};
}

// Rounds (hi + lo) 2^K to a double, hi in [0.99, 2.01] and hi + lo within err
// of the exact value; false when that interval holds a rounding boundary.
inline bool round_test(double hi, double lo, double err, int K, double& out) {
    const double up = hi + (lo + err);
    const double dn = hi + (lo - err);
    if (up != dn) {
        // Only an exactly half-way value or a very close one lands here, and
        // ones below the normal range, whose boundaries are coarser.
        if (!(K < -1000)) return false;
    } else {
        const int field = static_cast<int>(bits_of(up) >> 52) + K;
        if (field >= 2047) {
            out = from_bits(kInfBits);
            return true;
        }
        if (field >= 1) {
            out = from_bits(bits_of(up) + (static_cast<std::uint64_t>(static_cast<std::int64_t>(K)) << 52));
            return true;
        }
    }
    // Subnormal range: round (hi + lo) 2^(K + 1074) to an integer, which is
    // then the bit pattern (2^52 being the smallest normal number). The
    // scaling by 2^s, -5 <= s <= 53, is exact and stays normal.
    const int s = K + 1074;
    if (s < -5 || s > 53) return false;
    const double scale = from_bits(static_cast<std::uint64_t>(1023 + s) << 52);
    const double hs = hi * scale, ls = lo * scale;
    // err in units of the last place, plus the roundings of f and f +- es
    // (at most 2^-53 * 1.5 each)
    const double es = err * scale + 0x1p-51;
    const DoubleDouble v = quick_two_sum(hs, ls);  // |v.lo| <= 1/4 below
    if (!(v.hi < 0x1p52)) return false;
    const double n0 = (v.hi + 0x1p52) - 0x1p52;
    const double f = (v.hi - n0) + v.lo;
    const double fl = f - es, fh = f + es;
    int dl, dh;
    if (fl > 0.5)
        dl = 1;
    else if (fl < -0.5)
        dl = -1;
    else if (fl < 0.5 && fl > -0.5)
        dl = 0;
    else
        return false;
    if (fh > 0.5)
        dh = 1;
    else if (fh < -0.5)
        dh = -1;
    else if (fh < 0.5 && fh > -0.5)
        dh = 0;
    else
        return false;
    if (dl != dh) return false;
    out = from_bits(static_cast<std::uint64_t>(static_cast<std::int64_t>(n0)) + static_cast<std::uint64_t>(dl));
    return true;
}

// ---------------------------------------------------------------------------
// Exact and half-way results.

// The double nearest p * 2^e (ties to even), p > 0.
double round_dyadic(std::uint64_t p, int e) {
    const int msb = 63 - std::countl_zero(p);
    const int ev = msb + e;  // p 2^e in [2^ev, 2^(ev+1))
    if (ev > 1023) return from_bits(kInfBits);
    const int q = ev - 52 > -1074 ? ev - 52 : -1074;  // exponent of the last place
    const int sh = q - e;                             // bits of p below the last place
    std::uint64_t mant;
    if (sh <= 0) {
        mant = p << -sh;
    } else if (sh > 64) {
        mant = 0;
    } else {
        mant = sh == 64 ? 0 : p >> sh;
        const std::uint64_t rem = sh == 64 ? p : p & ((std::uint64_t{1} << sh) - 1);
        const std::uint64_t half = std::uint64_t{1} << (sh - 1);
        if (rem > half || (rem == half && (mant & 1))) ++mant;
    }
    const std::uint64_t b = (static_cast<std::uint64_t>(q + 1074) << 52) + mant;
    return from_bits(b >= kInfBits ? kInfBits : b);
}

// p^n if it stays below 2^63.
bool small_power(std::uint64_t p, std::uint64_t n, std::uint64_t& out) {
    std::uint64_t v = 1;
    for (std::uint64_t i = 0; i < n; ++i) {
        if (v > (std::uint64_t{1} << 63) / p) return false;
        v *= p;
    }
    out = v;
    return true;
}

std::uint64_t isqrt(std::uint64_t v) {
    std::uint64_t r = 0;
    for (int b = 31; b >= 0; --b) {
        const std::uint64_t t = r | (std::uint64_t{1} << b);
        if (t * t <= v) r = t;
    }
    return r;
}

// x^y when it is a dyadic rational of at most 63 bits; ax, ay are the bit
// patterns of x > 0 and y (finite, nonzero).
bool exact_pow(std::uint64_t ax, std::uint64_t iy, double& out) {
    std::uint64_t mx = ax & kMantMask;
    int ex = static_cast<int>(ax >> 52);
    if (ex == 0)
        ex = -1074;
    else {
        mx |= std::uint64_t{1} << 52;
        ex -= 1075;
    }
    const int tzx = std::countr_zero(mx);
    mx >>= tzx;
    ex += tzx;
    const std::uint64_t ay = iy & ~kSignBit;
    std::uint64_t my = (ay & kMantMask) | (std::uint64_t{1} << 52);
    int ey = static_cast<int>(ay >> 52) - 1075;
    const int tzy = std::countr_zero(my);
    my >>= tzy;
    ey += tzy;
    const bool yneg = (iy & kSignBit) != 0;

    if (mx == 1) {
        // 2^(ex y): dyadic only when ex y is an integer; |y| < 2^64 here.
        long long n;
        if (ey >= 0) {
            if (ey > 40 || my > (1ull << 20)) {
                n = 1 << 20;  // beyond any exponent range, only the sign matters
            } else {
                n = static_cast<long long>(my << ey);
                if (n > (1 << 20)) n = 1 << 20;
            }
            n *= ex;
        } else {
            if (-ey > 11 || (ex & ((1 << -ey) - 1)) != 0) return false;
            if (my > (1ull << 20)) return false;  // |ex y| < 2^11: my <= 2^11
            n = static_cast<long long>(ex >> -ey) * static_cast<long long>(my);
        }
        if (yneg) n = -n;
        if (n > 2000) n = 2000;
        if (n < -2000) n = -2000;
        out = round_dyadic(1, static_cast<int>(n));
        return true;
    }
    if (yneg) return false;
    std::uint64_t base = mx;
    std::uint64_t n = my;
    if (ey >= 0) {
        if (ey > 6) return false;
        n <<= ey;
        if (n > 64) return false;
    } else {
        if (-ey > 5) return false;
        for (int i = 0; i < -ey; ++i) {
            const std::uint64_t s = isqrt(base);
            if (s * s != base) return false;
            base = s;
        }
        if ((ex & ((1 << -ey) - 1)) != 0) return false;
        ex >>= -ey;
        if (n > 64) return false;
    }
    std::uint64_t p;
    if (!small_power(base, n, p)) return false;
    out = round_dyadic(p, ex * static_cast<int>(n));
    return true;
}

// ---------------------------------------------------------------------------
// Multiprecision path: signed fixed point, N 32-bit words in two's complement,
// least significant first, F = 32 (N - 1) fraction bits. Products truncate.

template <int N>
struct Fix {
    std::uint32_t w[N];
};

template <int N>
constexpr int kFrac = 32 * (N - 1);

template <int N>
Fix<N> fix_int(std::int32_t v) {
    Fix<N> a{};
    a.w[N - 1] = static_cast<std::uint32_t>(v);
    return a;
}

template <int N>
bool is_neg(const Fix<N>& a) {
    return (a.w[N - 1] >> 31) != 0;
}

template <int N>
bool is_zero(const Fix<N>& a) {
    for (int i = 0; i < N; ++i)
        if (a.w[i]) return false;
    return true;
}

template <int N>
Fix<N> add(const Fix<N>& a, const Fix<N>& b) {
    Fix<N> c;
    std::uint64_t carry = 0;
    for (int i = 0; i < N; ++i) {
        carry += static_cast<std::uint64_t>(a.w[i]) + b.w[i];
        c.w[i] = static_cast<std::uint32_t>(carry);
        carry >>= 32;
    }
    return c;
}

template <int N>
Fix<N> neg(const Fix<N>& a) {
    Fix<N> c;
    std::uint64_t carry = 1;
    for (int i = 0; i < N; ++i) {
        carry += static_cast<std::uint32_t>(~a.w[i]);
        c.w[i] = static_cast<std::uint32_t>(carry);
        carry >>= 32;
    }
    return c;
}

template <int N>
Fix<N> sub(const Fix<N>& a, const Fix<N>& b) {
    return add(a, neg(b));
}

template <int N>
Fix<N> abs_fix(const Fix<N>& a) {
    return is_neg(a) ? neg(a) : a;
}

template <int N>
Fix<N> mul(const Fix<N>& a, const Fix<N>& b) {
    const bool negative = is_neg(a) != is_neg(b);
    const Fix<N> x = abs_fix(a), y = abs_fix(b);
    std::uint32_t t[2 * N] = {};
    for (int i = 0; i < N; ++i) {
        if (!x.w[i]) continue;
        std::uint64_t carry = 0;
        for (int j = 0; j < N; ++j) {
            carry += static_cast<std::uint64_t>(x.w[i]) * y.w[j] + t[i + j];
            t[i + j] = static_cast<std::uint32_t>(carry);
            carry >>= 32;
        }
        t[i + N] = static_cast<std::uint32_t>(carry);
    }
    Fix<N> c;
    for (int i = 0; i < N; ++i) c.w[i] = t[i + N - 1];
    return negative ? neg(c) : c;
}

template <int N>
Fix<N> mul_u32(const Fix<N>& a, std::uint32_t k) {
    const Fix<N> x = abs_fix(a);
    Fix<N> c;
    std::uint64_t carry = 0;
    for (int i = 0; i < N; ++i) {
        carry += static_cast<std::uint64_t>(x.w[i]) * k;
        c.w[i] = static_cast<std::uint32_t>(carry);
        carry >>= 32;
    }
    return is_neg(a) ? neg(c) : c;
}

template <int N>
Fix<N> div_u32(const Fix<N>& a, std::uint32_t k) {
    const Fix<N> x = abs_fix(a);
    Fix<N> c;
    std::uint64_t rem = 0;
    for (int i = N - 1; i >= 0; --i) {
        rem = (rem << 32) | x.w[i];
        c.w[i] = static_cast<std::uint32_t>(rem / k);
        rem %= k;
    }
    return is_neg(a) ? neg(c) : c;
}

// a * 2^-s, rounded toward minus infinity (arithmetic shift).
template <int N>
Fix<N> shr(const Fix<N>& a, int s) {
    const std::uint32_t fill = is_neg(a) ? 0xffffffffu : 0u;
    const int words = s / 32, b = s % 32;
    Fix<N> c;
    for (int i = 0; i < N; ++i) {
        const std::uint32_t lo = i + words < N ? a.w[i + words] : fill;
        const std::uint32_t hi = i + words + 1 < N ? a.w[i + words + 1] : fill;
        c.w[i] = b == 0 ? lo : (lo >> b) | (hi << (32 - b));
    }
    return c;
}

template <int N>
Fix<N> shl(const Fix<N>& a, int s) {
    const int words = s / 32, b = s % 32;
    Fix<N> c;
    for (int i = N - 1; i >= 0; --i) {
        const std::uint32_t hi = i - words >= 0 ? a.w[i - words] : 0u;
        const std::uint32_t lo = i - words - 1 >= 0 ? a.w[i - words - 1] : 0u;
        c.w[i] = b == 0 ? hi : (hi << b) | (lo >> (32 - b));
    }
    return c;
}

// Adds m 2^(pos - F) to a (m < 2^53, 0 <= pos, the bits not yet set).
template <int N>
void place(Fix<N>& a, std::uint64_t m, int pos) {
    const int idx = pos / 32, off = pos % 32;
    const std::uint32_t part[3] = {static_cast<std::uint32_t>(m << off),
                                   static_cast<std::uint32_t>(off ? m >> (32 - off) : m >> 32),
                                   static_cast<std::uint32_t>(off ? m >> (64 - off) : 0)};
    for (int i = 0; i < 3; ++i)
        if (idx + i < N) a.w[idx + i] |= part[i];
}

// The double d exactly, or truncated below 2^-F.
template <int N>
Fix<N> fix_from_double(double d) {
    const std::uint64_t b = bits_of(d);
    std::uint64_t m = b & kMantMask;
    int e = static_cast<int>((b >> 52) & 0x7ff);
    if (e == 0)
        e = -1074;
    else {
        m |= std::uint64_t{1} << 52;
        e -= 1075;
    }
    Fix<N> a{};
    int pos = e + kFrac<N>;  // bit position of m's lowest bit
    if (pos < 0) {
        if (pos <= -64) return a;
        m >>= -pos;
        pos = 0;
    }
    place(a, m, pos);
    return (b & kSignBit) ? neg(a) : a;
}

template <int N>
double approx_double(const Fix<N>& a) {
    return static_cast<std::int32_t>(a.w[N - 1]) + a.w[N - 2] * 0x1p-32 + a.w[N - 3] * 0x1p-64;
}

template <int N>
Fix<N> ln2_fix() {
    Fix<N> a{};
    for (int i = 0; i < N - 1; ++i) a.w[N - 2 - i] = tab::kLn2Fraction[i];
    return a;
}

// exp(w) = 2^K E, E in [0.7, 1.42], for |w| < 2^20. Relative error of E at
// most 2^(S + 6 - F) + (|K| + 2) 2^-F: the series sums about 20 truncated
// terms, each squaring doubles the relative error and adds 2^-F.
template <int N>
Fix<N> exp_fix(const Fix<N>& w, int& K) {
    constexpr int S = N <= 13 ? 16 : 32;
    double kd = approx_double(w) * 0x1.71547652b82fep0 + kShift;
    kd -= kShift;
    K = static_cast<int>(kd);
    const Fix<N> kln2 = mul_u32(ln2_fix<N>(), static_cast<std::uint32_t>(K < 0 ? -K : K));
    const Fix<N> r = shr(K < 0 ? add(w, kln2) : sub(w, kln2), S);
    Fix<N> sum = fix_int<N>(1), term = fix_int<N>(1);
    for (std::uint32_t n = 1; n < 1000; ++n) {
        term = div_u32(mul(term, r), n);
        if (is_zero(term)) break;
        sum = add(sum, term);
    }
    for (int i = 0; i < S; ++i) sum = mul(sum, sum);
    return sum;
}

// The bit pattern of the double nearest X 2^(K - F), X > 0.
template <int N>
std::uint64_t round_fix(const Fix<N>& x, int K) {
    int top = N - 1;
    while (top > 0 && x.w[top] == 0) --top;
    const int msb = 32 * top + 31 - std::countl_zero(x.w[top]);
    auto bit = [&](int i) -> std::uint64_t { return i < 0 || i >= 32 * N ? 0 : (x.w[i / 32] >> (i % 32)) & 1; };
    const int ev = msb - kFrac<N> + K;
    if (ev > 1023) return kInfBits;
    const int q = ev - 52 > -1074 ? ev - 52 : -1074;
    const int sh = q - K + kFrac<N>;  // position of the last place in x; >= 1 here
    std::uint64_t mant = 0;
    for (int i = 53; i >= 0; --i) mant = (mant << 1) | bit(sh + i);
    const bool round = bit(sh - 1) != 0;
    bool sticky = false;
    for (int i = 0; i < sh - 1 && !sticky; ++i) sticky = bit(i) != 0;
    if (round && (sticky || (mant & 1))) ++mant;
    const std::uint64_t b = (static_cast<std::uint64_t>(q + 1074) << 52) + mant;
    return b >= kInfBits ? kInfBits : b;
}

// x = mx 2^(xe - 52) with mx in [2^52, 2^53), y finite with 2^-65 <= |y| < 2^64,
// (lh, ll) within 2^-58 of ln x, |y ln x| < 746.
//
// Error: exp_fix is within 2^(S + 6 - F) + (|K| + 2) 2^-F. The Newton steps
// L <- L + x exp(-L) - 1 square the error (and halve it) until that
// dominates: L within 2^(S + 7 - F). y ln x multiplies it by |y| < 2^64 and
// adds 2^(53 - F) from the scaling of L by y's exponent; the last exponential
// adds its own. In all below 2^(S + 72 - F) relative: 2^(88 - F) for N = 13
// (S = 16), 2^(104 - F) for N = 40 (S = 32); the bounds used, 2^96 and 2^160
// units of 2^-F on E < 1.42, are 2^(95.5 - F) and 2^(159.5 - F) at least.
template <int N>
bool accurate(std::uint64_t mx, int xe, double y, double lh, double ll, std::uint64_t& out) {
    constexpr int F = kFrac<N>;
    Fix<N> L = add(fix_from_double<N>(lh), fix_from_double<N>(ll));
    Fix<N> M{};
    place(M, mx, F - 52);  // mx / 2^52, in [1, 2)
    const Fix<N> one = fix_int<N>(1);
    for (int precision = 58; precision < F; precision = 2 * precision + 1) {
        int K;
        const Fix<N> E = exp_fix(neg(L), K);
        Fix<N> W = mul(M, E);
        const int d = xe + K;
        W = d >= 0 ? shl(W, d) : shr(W, -d);
        L = add(L, sub(W, one));
    }
    const std::uint64_t ab = bits_of(y) & ~kSignBit;
    const std::uint64_t my = (ab & kMantMask) | (std::uint64_t{1} << 52);
    const int ey = static_cast<int>(ab >> 52) - 1075;
    const Fix<N> Ls = ey >= 0 ? shl(L, ey) : shr(L, -ey);
    Fix<N> z = add(shl(mul_u32(Ls, static_cast<std::uint32_t>(my >> 32)), 32),
                   mul_u32(Ls, static_cast<std::uint32_t>(my & 0xffffffffu)));
    if (bits_of(y) & kSignBit) z = neg(z);
    int K;
    const Fix<N> E = exp_fix(z, K);
    Fix<N> err{};
    const int eb = N <= 13 ? 96 : 160;
    err.w[eb / 32] = 1u << (eb % 32);
    const std::uint64_t lo = round_fix(sub(E, err), K);
    const std::uint64_t hi = round_fix(add(E, err), K);
    out = hi;
    return lo == hi;
}

double pow_careful(std::uint64_t ax, std::uint64_t iy, double y, std::uint64_t ix, int kadj);

// x^y for x > 0 finite (bit pattern ax, subnormal allowed) and y finite, nonzero.
inline double first_try(std::uint64_t ix, int kadj, std::uint64_t ax, std::uint64_t iy, double y);

// Bounds of the common case: x positive and normal, 2^-65 <= |y| < 2^64.
constexpr std::uint64_t kMinNormalBits = 0x0010000000000000ull;
constexpr std::uint64_t kSmallYBits = 0x3be0000000000000ull;
constexpr std::uint64_t kLargeYBits = 0x43f0000000000000ull;

// x^y for x > 0 finite (bit pattern ax, subnormal allowed) and y finite, nonzero.
double pow_positive(std::uint64_t ax, std::uint64_t iy, double y) {
    const std::uint64_t ay = iy & ~kSignBit;
    if (ax == kOneBits) return 1.0;
    // |y ln x| <= 745 * 2^-65 < 2^-54: exp of it rounds to 1.
    if (ay < kSmallYBits) return 1.0;
    // |y ln x| >= 2^64 * 2^-53: certainly beyond the range.
    if (ay >= kLargeYBits) return ((ax > kOneBits) == !(iy & kSignBit)) ? from_bits(kInfBits) : 0.0;
    if (ax >= kMinNormalBits) return first_try(ax, 0, ax, iy, y);
    // Subnormal: the same significand with an exponent 64 higher.
    const int nlz = std::countl_zero(ax) - 11;
    const std::uint64_t ix = (static_cast<std::uint64_t>(65) << 52) | ((ax << nlz) & kMantMask);
    return first_try(ix, -64 - nlz, ax, iy, y);
}

// Step 1 for the normal bit pattern ix of x 2^-kadj (ax the pattern of x).
inline double first_try(std::uint64_t ix, int kadj, std::uint64_t ax, std::uint64_t iy, double y) {
    const Reduced red = reduce(ix, kadj);
    const double kd = red.k;
    {
        // First try: ln x with the series after r in double, y ln x from
        // 26-bit halves, exp(r) in double (see the error bounds above).
        const tab::LogEntry& le = *red.e;
        const double t1 = kd * kLn2Hi + le.logc_hi;          // exact
        const DoubleDouble t2 = quick_two_sum(t1, red.rhi);  // |t1| >= 2^-6.97 > |rhi| unless t1 = 0
        const double rr = red.rhi + red.rlo, r2 = rr * rr;
        // log1p(r) - r = r^2 (-1/2 + r/3 - ... + r^5/7), in Estrin's order for a shorter chain
        const double poly =
            (-0.5 + rr * 0x1.5555555555555p-2) +
            r2 * ((-0x1p-2 + rr * 0x1.999999999999ap-3) + r2 * (-0x1.5555555555555p-3 + rr * 0x1.2492492492492p-3));
        const double lo = (t2.lo + red.rlo + kd * kLn2Lo + le.logc_lo) + r2 * poly;
        // y (t2 + lo): the high product waits for t2 only, so the reduction
        // of the exponential overlaps the series.
        const double yhi = from_bits(iy & ~0x7ffffffull);
        const double lsplit = t2.hi * 134217729.0;  // Veltkamp: lhi keeps 26 bits, without leaving the FP registers
        const double lhi = lsplit - (lsplit - t2.hi);
        const double zh = yhi * lhi;  // exact: 26 bits each
        const double zl = (y - yhi) * lhi + y * ((t2.hi - lhi) + lo);
        if (zh > 712.0) return from_bits(kInfBits);
        if (zh < -748.0) return 0.0;
        double ekd = zh * kInvLn2N + kShift;
        ekd -= kShift;
        const int ki = static_cast<int>(ekd);
        const double er = (zh - ekd * kLn2NHi) + (zl - ekd * kLn2NLo);
        const double er2 = er * er;
        const double s =
            er + er2 * ((0.5 + er * 0x1.5555555555555p-3) + er2 * (0x1.5555555555555p-5 + er * 0x1.1111111111111p-7));
        const tab::ExpEntry& ee = tab::kExp[ki & 255];
        const double elo = ee.hi * s + ee.lo;
        const double az = zh < 0 ? -zh : zh;
        const double err = (kFirstExpErr + az * (red.k == 0 ? kFirstLogErrNear1 : kFirstLogErrFar)) * ee.hi;
        const double up = ee.hi + (elo + err);
        if (up == ee.hi + (elo - err)) {
            const int field = static_cast<int>(bits_of(up) >> 52) + (ki >> 8);
            if (field >= 1 && field < 2047)
                return from_bits(bits_of(up) + (static_cast<std::uint64_t>(static_cast<std::int64_t>(ki >> 8)) << 52));
        }
    }

    return pow_careful(ax, iy, y, ix, kadj);
}

// Steps 2 to 4, out of line so that the first try stays compact (and keeps
// nothing in memory for them).
[[gnu::noinline]] double pow_careful(std::uint64_t ax, std::uint64_t iy, double y, std::uint64_t ix, int kadj) {
    double out;
    const Log l = log_dd(reduce(ix, kadj));
    const DoubleDouble p = two_prod(y, l.hi);
    const double zh = p.hi, zl = p.lo + y * l.lo;
    if (zh > 710.0) return from_bits(kInfBits);
    if (zh < -746.0) return 0.0;
    const Exp e = exp_dd(zh, zl);
    const double az = zh < 0 ? -zh : zh;
    const double eps = kExpErr + az * (l.k == 0 ? kLogErrNear1 : kLogErrFar);
    if (round_test(e.hi, e.lo, eps * e.hi, e.K, out)) return out;
    if (exact_pow(ax, iy, out)) return out;

    const std::uint64_t mx = (ix & kMantMask) | (std::uint64_t{1} << 52);
    const int xe = static_cast<int>(ix >> 52) - 1023 + kadj;
    std::uint64_t b;
    if (accurate<13>(mx, xe, y, l.hi, l.lo, b)) return from_bits(b);
    accurate<40>(mx, xe, y, l.hi, l.lo, b);
    return from_bits(b);
}

// 0: y is not an integer, 1: odd integer, 2: even integer (y finite, nonzero).
int integer_kind(std::uint64_t ay) {
    const int e = static_cast<int>(ay >> 52);
    if (e < 1023) return 0;
    if (e > 1023 + 52) return 2;
    const int shift = 1023 + 52 - e;
    if (shift > 0 && (ay & ((std::uint64_t{1} << shift) - 1))) return 0;
    return ((ay | (std::uint64_t{1} << 52)) >> shift) & 1 ? 1 : 2;
}

}  // namespace

double cr_pow(double x, double y) {
    const std::uint64_t ix = bits_of(x), iy = bits_of(y);
    const std::uint64_t ax = ix & ~kSignBit, ay = iy & ~kSignBit;
    // The common case first (x = 1 gives 1 there too).
    if (ix - kMinNormalBits < kInfBits - kMinNormalBits && ay - kSmallYBits < kLargeYBits - kSmallYBits)
        return first_try(ix, 0, ix, iy, y);
    if (ay == 0 || ix == kOneBits) return 1.0;
    if (ax > kInfBits || ay > kInfBits) return x + y;
    const bool yneg = (iy & kSignBit) != 0;
    if (ay == kInfBits) {
        if (ax == kOneBits) return 1.0;  // x = -1
        return ((ax > kOneBits) == !yneg) ? from_bits(kInfBits) : 0.0;
    }
    const int kind = integer_kind(ay);
    const bool xneg = (ix & kSignBit) != 0;
    const std::uint64_t sign = xneg && kind == 1 ? kSignBit : 0;
    if (ax == 0) return from_bits(sign | (yneg ? kInfBits : 0));
    if (ax == kInfBits) return from_bits(sign | (yneg ? 0 : kInfBits));
    if (xneg && kind == 0) return from_bits(0x7ff8000000000000ull);
    return from_bits(sign | bits_of(pow_positive(ax, iy, y)));
}

namespace cr_pow_detail {

double accurate_pow(double x, double y) {
    std::uint64_t ix = bits_of(x);
    int kadj = 0;
    if (ix < 0x0010000000000000ull) {
        const int nlz = std::countl_zero(ix) - 11;
        ix = (static_cast<std::uint64_t>(65) << 52) | ((ix << nlz) & kMantMask);
        kadj = -64 - nlz;
    }
    const Log l = log_dd(reduce(ix, kadj));
    const std::uint64_t mx = (ix & kMantMask) | (std::uint64_t{1} << 52);
    const int xe = static_cast<int>(ix >> 52) - 1023 + kadj;
    std::uint64_t b;
    if (!accurate<13>(mx, xe, y, l.hi, l.lo, b)) accurate<40>(mx, xe, y, l.hi, l.lo, b);
    return from_bits(b);
}

}  // namespace cr_pow_detail

}  // namespace qv
