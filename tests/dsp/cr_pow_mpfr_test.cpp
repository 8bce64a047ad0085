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
#include <iterator>
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
    // Chain-like arguments that the double-double step could not decide when
    // this was written (they go through the multiprecision path).
    const Case hard[] = {
        {0x1.3c7af1a345eacp+3, 0x1.0c30c30c30c31p-1},
        {0x1.3e8187209b24cp-1, -0x1.7cb7cb7cb7cb8p-1},
        {0x1.4b50f40e5a35ep+0, -0x1.7cb7cb7cb7cb8p-1},
        {0x1.4p+3, -0x1.2498b2e9ccb7ep+3},
        {0x1.4p+3, -0x1.37fcb923a29c8p+1},
        {0x1.4p+3, -0x1.4b52fc2656abep+1},
        {0x1.4p+3, -0x1.898f7121ab4b8p+1},
        {0x1.4p+3, -0x1.ff82d38476f2bp+2},
        {0x1.4p+3, 0x1.25f4b1ee24357p+2},
        {0x1.5a037771c805fp-4, -0x1.97829cbc14e5ep-1},
        {0x1.6fd417983b245p-3, -0x1.5ad6b5ad6b5aep-1},
        {0x1.751a43e3849f3p+3, -0x1.bd81a98ef606ap-1},
        {0x1.839af5ba2be06p+3, -0x1.c0ca4587e6b75p-1},
        {0x1.9a18f7358924ap-4, -0x1.c30c30c30c30cp-1},
        {0x1.bb21d59894a95p-5, 0x1.be5be5be5be5cp-1},
        {0x1.bf617f0b78dap+3, -0x1.5555555555556p-1},
        {0x1.cb7d8c5306a2cp-4, 0x1.999999999999ap-1},
        {0x1.e70235de74ba9p-5, 0x1.71c71c71c71c7p-1},
        {0x1.ee4fea231ee9p+2, 0x1.79435e50d7944p-1},
        {0x1.f1ae37a45f30ap-2, 0x1.a9386822b63ccp-1},
        {0x1.f2a241dec7a11p+3, -0x1.6969696969696p-1},
        {0x1.f9b298aa79c9ap-3, 0x1.21642c8590b22p-1},
    };
    cases.insert(cases.end(), std::begin(hard), std::end(hard));
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
    // Odd multiples of 2^-1075 below 2^-1022: half-way between two subnormals.
    for (const double m : {3.0, 5.0, 7.0, 9.0, 11.0}) {
        cases.push_back({m * 0x1p-215, 5});
        cases.push_back({m * 0x1p-43, 25});
    }
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
