// Prints a hash of cr_pow over a fixed list of arguments made from integers
// and IEEE operations only (no library function whose last bit may differ),
// so that builds for different targets can be compared by their output: the
// gain computers' and the conversions' arguments, bases near 1 with large
// exponents, subnormals, results at the ends of the range, exact and
// half-way results, and special values; in the default floating-point mode
// and with flush-to-zero and denormals-are-zero.
#include <xmmintrin.h>

#include <bit>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <vector>

#include "dsp/cr_pow.h"

namespace {

std::uint64_t state = 0x9e3779b97f4a7c15ull;

std::uint64_t next() {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
}

// A double in [2^lo, 2^hi) with random significand.
double in_binades(int lo, int hi) {
    const std::uint64_t e = static_cast<std::uint64_t>(1023 + lo + static_cast<int>(next() % (hi - lo)));
    return std::bit_cast<double>((e << 52) | (next() >> 12));
}

// The arguments, then a hash of the results.
struct Args {
    std::vector<double> x, y;
    void add(double a, double b) {
        x.push_back(a);
        y.push_back(b);
    }
    std::uint64_t hash() const {
        std::uint64_t h = 0xcbf29ce484222325ull;
        for (std::size_t i = 0; i < x.size(); ++i)
            h = (h ^ std::bit_cast<std::uint64_t>(qv::cr_pow(x[i], y[i]))) * 0x100000001b3ull;
        return h;
    }
};

}  // namespace

int main() {
    Args all;
    // Each argument drawn in its own statement: the order of evaluation of a
    // call's arguments is unspecified.
    for (int i = 0; i < 200000; ++i) {
        const double threshold = static_cast<double>(1 + next() % 40000);
        const double r = static_cast<double>(11 + next() % 90);
        const double envelope = threshold * in_binades(-6, 6);
        all.add(envelope / threshold, i & 1 ? 1 - 10.0 / r : 10.0 / r - 1);
    }
    for (int db = -2000; db <= 2000; ++db) all.add(10.0, db * 0.05);
    for (int db10 = -20000; db10 <= 20000; ++db10) all.add(10.0, db10 * 0.005);
    for (int ms = 1; ms <= 20000; ++ms) all.add(2.718281828, (-4.6 / 44100) / (ms * 0.001));
    for (int i = 0; i < 100000; ++i) {
        const double sign = i & 1 ? -1.0 : 1.0;
        const double x1 = in_binades(-1022, 1024);
        all.add(x1, sign * in_binades(-70, 12));
        const double x2 = 1.0 + sign * in_binades(-52, -20);
        all.add(x2, sign * in_binades(10, 62));
        const double x3 = std::bit_cast<double>(next() % 0x0010000000000000ull);
        all.add(x3, in_binades(-8, 1));
        const double x4 = in_binades(-5, 5);
        all.add(x4, sign * in_binades(-1, 10));
    }
    for (int m = 3; m < 400; m += 2)
        for (int n = 1; n <= 40; ++n) all.add(m, n);
    for (int e = -1100; e <= 1100; ++e) all.add(2.0, e * 0.5);
    const double inf = std::numeric_limits<double>::infinity();
    const double specials[] = {0.0, -0.0, inf, -inf, 1.0, -1.0, 0.5, -2.0, 3.0, 2.5, 0x1p-1074, 1e308};
    for (const double x : specials)
        for (const double y : specials) all.add(x, y);
    // Once as it is, once with flush-to-zero and denormals-are-zero set, as
    // the chain runs.
    const std::uint64_t plain = all.hash();
    const unsigned int saved = _mm_getcsr();
    _mm_setcsr(saved | 0x8040u);
    const std::uint64_t ftz = all.hash();
    _mm_setcsr(saved);
    std::printf("cr_pow over %llu arguments: %016llx, with FTZ/DAZ: %016llx\n",
                static_cast<unsigned long long>(all.x.size()), static_cast<unsigned long long>(plain),
                static_cast<unsigned long long>(ftz));
    return plain == ftz ? 0 : 1;
}
