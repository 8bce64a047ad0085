// cr_pow against MPFR's correctly rounded pow, bit for bit, on the arguments
// the chain and the derivations pass and on the edges of the double range,
// in the default floating-point mode and with flush-to-zero and
// denormals-are-zero set. Its own executable: only this test links MPFR.
// QUORVANE_CR_POW_CASES overrides the number of random cases per group.
#include <gtest/gtest.h>
#include <mpfr.h>
#include <xmmintrin.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <random>
#include <utility>
#include <vector>

#include "dsp/cr_pow.h"

namespace {

struct Case {
    double x, y;
};

#if defined(__SANITIZE_ADDRESS__)
constexpr int kDefaultCases = 40000;
#else
constexpr int kDefaultCases = 200000;
#endif

int random_cases() {
    const char* s = std::getenv("QUORVANE_CR_POW_CASES");
    return s ? std::atoi(s) : kDefaultCases;
}

// MPFR's pow rounded to a double, subnormal range included.
class Reference {
public:
    Reference() {
        mpfr_set_emin(-1073);
        mpfr_set_emax(1024);
        mpfr_inits2(53, x_, y_, r_, static_cast<mpfr_ptr>(nullptr));
    }
    ~Reference() { mpfr_clears(x_, y_, r_, static_cast<mpfr_ptr>(nullptr)); }
    double operator()(double x, double y) {
        mpfr_set_d(x_, x, MPFR_RNDN);
        mpfr_set_d(y_, y, MPFR_RNDN);
        const int t = mpfr_pow(r_, x_, y_, MPFR_RNDN);
        mpfr_subnormalize(r_, t, MPFR_RNDN);
        return mpfr_get_d(r_, MPFR_RNDN);
    }

private:
    mpfr_t x_, y_, r_;
};

bool same(double a, double b) {
    return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b) || (std::isnan(a) && std::isnan(b));
}

// Runs every case in both MXCSR modes; the references are computed first, in
// the default mode.
void expect_correctly_rounded(const std::vector<Case>& cases, double (*f)(double, double) = qv::cr_pow) {
    Reference ref;
    std::vector<double> want(cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i) want[i] = ref(cases[i].x, cases[i].y);
    const unsigned int saved = _mm_getcsr();
    for (const unsigned int mode : {saved, saved | 0x8040u}) {  // FTZ (bit 15), DAZ (bit 6)
        _mm_setcsr(mode);
        int mismatches = 0;
        std::vector<std::pair<std::size_t, double>> bad;
        for (std::size_t i = 0; i < cases.size(); ++i) {
            const double got = f(cases[i].x, cases[i].y);
            if (!same(got, want[i]) && ++mismatches <= 5) bad.emplace_back(i, got);
        }
        _mm_setcsr(saved);
        for (const auto& [i, got] : bad)
            ADD_FAILURE() << std::hexfloat << "pow(" << cases[i].x << ", " << cases[i].y << ") = " << got
                          << ", correctly rounded " << want[i] << (mode == saved ? "" : " (FTZ/DAZ)");
        EXPECT_EQ(mismatches, 0) << "of " << cases.size() << (mode == saved ? "" : " (FTZ/DAZ)");
    }
}

double log_uniform(std::mt19937_64& g, double lo, double hi) {
    return std::exp(std::uniform_real_distribution<double>(std::log(lo), std::log(hi))(g));
}

TEST(CrPowMpfr, GainComputerArguments) {
    // Bases are envelope / threshold (an integer level) below or above 1, the
    // exponents 1 - 10/r and 10/r - 1 for every ratio r / 10 of the controls.
    std::vector<double> exponents;
    for (int r = 11; r <= 100; ++r) {
        exponents.push_back(1 - 10.0 / r);
        exponents.push_back(10.0 / r - 1);
    }
    std::mt19937_64 g(1);
    std::vector<Case> cases;
    const int n = random_cases();
    for (int i = 0; i < n; ++i) {
        const double threshold = std::floor(log_uniform(g, 1, 40000));
        const double envelope = log_uniform(g, 1e-4, 2e5);
        const double y =
            (i % 4 == 3) ? std::uniform_real_distribution<double>(-0.95, 0.95)(g) : exponents[g() % exponents.size()];
        cases.push_back({envelope / threshold, y});
    }
    // Envelopes a few units in the last place from the threshold.
    for (int i = 0; i < n / 10; ++i) {
        const double base = std::nextafter(1.0, (i & 1) ? 2.0 : 0.0);
        double x = base;
        for (int k = static_cast<int>(g() % 1000); k > 0; --k) x = std::nextafter(x, (i & 1) ? 2.0 : 0.0);
        cases.push_back({x, exponents[g() % exponents.size()]});
    }
    expect_correctly_rounded(cases);
}

TEST(CrPowMpfr, DecibelConversions) {
    // 10^(dB / 20) and 10^(dB10 / 200) over the whole integer grids the
    // conversions use, random powers of ten, and e^x of the time constants.
    std::vector<Case> cases;
    for (int db = -2000; db <= 2000; ++db) cases.push_back({10.0, db * 0.05});
    for (int db10 = -20000; db10 <= 20000; ++db10) cases.push_back({10.0, db10 * 0.005});
    for (int ms = 1; ms <= 30000; ++ms) cases.push_back({2.718281828, (-4.6 / 44100) / (ms * 0.001)});
    std::mt19937_64 g(2);
    for (int i = 0; i < random_cases() / 4; ++i)
        cases.push_back({10.0, std::uniform_real_distribution<double>(-320, 308)(g)});
    expect_correctly_rounded(cases);
}

TEST(CrPowMpfr, WholeRangeAndEdges) {
    std::mt19937_64 g(3);
    std::vector<Case> cases;
    const int n = random_cases() / 2;
    const double big = std::numeric_limits<double>::max();
    const double tiny = std::numeric_limits<double>::denorm_min();
    for (int i = 0; i < n; ++i) {
        // Any base, and an exponent giving a result anywhere from below the
        // subnormals to beyond the largest double.
        const double x = std::bit_cast<double>(g() % 0x7ff0000000000000ull);
        const double lx = std::log(x);
        if (x == 1 || x == 0 || lx == 0) continue;
        const double z = std::uniform_real_distribution<double>(-760, 720)(g);
        cases.push_back({x, z / lx});
    }
    for (int i = 0; i < n / 4; ++i) {
        // Subnormal bases, and exponents near 0 and +-1.
        const double sub = std::bit_cast<double>(g() % 0x0010000000000000ull + 1);
        cases.push_back({sub, std::uniform_real_distribution<double>(-0.3, 1.5)(g)});
        const double x = log_uniform(g, 1e-300, 1e300);
        const double eps = std::ldexp(1.0, -static_cast<int>(g() % 70));
        cases.push_back({x, (i & 1 ? 1.0 : -1.0) + std::uniform_real_distribution<double>(-eps, eps)(g)});
        cases.push_back({x, std::ldexp(std::uniform_real_distribution<double>(-1, 1)(g), -static_cast<int>(g() % 80))});
        // Bases within a few units of 1 with large exponents.
        double b = 1.0;
        for (int k = static_cast<int>(g() % 8) + 1; k > 0; --k) b = std::nextafter(b, (i & 2) ? 2.0 : 0.0);
        cases.push_back(
            {b, std::uniform_real_distribution<double>(-1, 1)(g) * std::ldexp(1.0, 50 + static_cast<int>(g() % 14))});
    }
    for (const double x :
         {tiny, 2 * tiny, 0x1p-1022, 0x1.fffffffffffffp-1023, big, 0.5, 2.0, 10.0, 1.0 - 0x1p-53, 1.0 + 0x1p-52})
        for (const double y :
             {1.0, -1.0, 0.5, -0.5, 2.0, 1.0 + 0x1p-52, 1.0 - 0x1p-53, 0x1p-60, -0x1p-60, 0x1p-66, 3.0})
            cases.push_back({x, y});
    expect_correctly_rounded(cases);
}

TEST(CrPowMpfr, ExactAndHalfwayResults) {
    // Results that are doubles or exactly half-way between two: a rounding
    // test alone never settles the half-way ones.
    std::vector<Case> cases;
    for (int m = 3; m < 2000; m += 2)
        for (int n = 1; n <= 40; ++n) cases.push_back({static_cast<double>(m), static_cast<double>(n)});
    cases.push_back({3, 34});  // 3^34 has 54 bits: half-way
    cases.push_back({0x1.8p-600, 34});
    for (int e = -1100; e <= 1100; e += 7) {
        cases.push_back({2.0, e + 0.5});
        cases.push_back({4.0, e * 0.5});
        cases.push_back({0x1p-1074, e / 1074.0});
        cases.push_back({0x1p-1072, e * 0.25});
    }
    cases.push_back({2.0, -1075});  // 2^-1075: half of the smallest subnormal, rounds to 0
    cases.push_back({4.0, -537.5});
    cases.push_back({0.5, 1074.5});
    for (std::uint64_t s = 3; s < 3000; s += 2) {
        const double sq = static_cast<double>(s * s);
        cases.push_back({sq, 0.5});
        cases.push_back({sq, 1.5});
        cases.push_back({sq * 0x1p-1000, 0.5});
        if (s < 200) cases.push_back({static_cast<double>(s * s * s * s), 0.25});
        if (s < 200) cases.push_back({static_cast<double>(s * s * s * s), 0.75});
        cases.push_back({sq, -0.5});
    }
    cases.push_back({43046721.0 * 43046721.0 * 0x1p-600, 0.0625});  // 3^32: a 32nd power, y = 1/16
    cases.push_back({1853020188851841.0, 0.03125});                 // 3^32, y = 1/32
    cases.push_back({1853020188851841.0, 0.09375});
    expect_correctly_rounded(cases);
}

TEST(CrPowMpfr, SpecialValuesFollowC) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double values[] = {0.0,        -0.0,   inf,     -inf,   nan,     1.0,   -1.0,  0.5,
                             -0.5,       2.0,    -2.0,    3.0,    -3.0,    2.5,   -2.5,  0x1p-1074,
                             -0x1p-1074, 0x1p53, -0x1p53, 0x1p70, -0x1p70, 1e308, -1e308};
    std::vector<Case> cases;
    for (const double x : values)
        for (const double y : values) cases.push_back({x, y});
    // The C library's pow follows C99 Annex F in these cases; MPFR does too,
    // and is the reference for the finite ones.
    for (const Case& c : cases) {
        const double got = qv::cr_pow(c.x, c.y);
        const double want = std::pow(c.x, c.y);
        const bool finite_result = std::isfinite(want) && want != 0;
        if (!finite_result) {
            EXPECT_TRUE(same(got, want)) << std::hexfloat << "pow(" << c.x << ", " << c.y << ") = " << got
                                         << ", C gives " << want;
        }
    }
    expect_correctly_rounded(cases);
}

TEST(CrPowMpfr, AccuratePathAlone) {
    // The multiprecision evaluation decides only one call in 10000 to 50000;
    // here it rounds every argument itself.
    std::mt19937_64 g(4);
    std::vector<Case> cases;
    const int n = random_cases() / 100 + 200;
    for (int i = 0; i < n; ++i) {
        const double x = std::bit_cast<double>(g() % 0x7ff0000000000000ull);
        const double lx = std::log(x);
        if (x == 0 || lx == 0) continue;
        const double z = std::uniform_real_distribution<double>(-745, 709.7)(g);
        const double y = z / lx;
        if (std::fabs(y) < 0x1p-65 || std::fabs(y) >= 0x1p64) continue;
        cases.push_back({x, y});
    }
    for (int i = 0; i < 50; ++i)
        cases.push_back({std::nextafter(1.0, 2.0), std::ldexp(1.0, 40 + i % 20) * (1 + i * 1e-3)});
    expect_correctly_rounded(cases, qv::cr_pow_detail::accurate_pow);
}

}  // namespace
