#include "chain/output_filter.h"

#include <cmath>
#include <limits>

namespace qv {

namespace {
// Symmetric 27-tap low-pass, 15 kHz pass band and a null near 19 kHz at 44.1 kHz.
constexpr double kFirTable[kFirTaps] = {0.010443851108117,  0.029230915580903, 0.000291375276988,  -0.016492602146844,
                                        0.02311083773428,   -0.01397163268782, -0.011480482254672, 0.040306057238649,
                                        -0.049260641238401, 0.017792297998132, 0.057106811118356,  -0.154471619427176,
                                        0.23695134868792,   0.730754430256172, 0.23695134868792,   -0.154471619427176,
                                        0.057106811118356,  0.017792297998132, -0.049260641238401, 0.040306057238649,
                                        -0.011480482254672, -0.01397163268782, 0.02311083773428,   -0.016492602146844,
                                        0.000291375276988,  0.029230915580903, 0.010443851108117};
constexpr double kTapScale = 7500;
constexpr int kFirShift = 13;  // taps sum to 8024, so DC gain 8024 / 8192
constexpr double kFirTrim = 0.8;

// w <- x + 0.6376129 m; y = 0.3571197 w: -0.13 dB at DC, -12.2 dB at 15 kHz.
constexpr double kDeemphasisPole = 0.6376129;
constexpr double kDeemphasisGain = 0.3571197;

static_assert(
    [] {
        for (int j = 0; j < kFirTaps; ++j)
            if (kFirTable[j] != kFirTable[kFirTaps - 1 - j]) return false;
        return true;
    }(),
    "the FIR is symmetric");

// The integer FIR in double arithmetic, both channels at once: every tap and
// input is an integer, |tap| <= 5480 and the taps' magnitudes sum to 15384,
// so every product and partial sum is an integer below 15384 * 2^31 < 2^53
// and exact, in whatever order it is summed. That lets the symmetric taps
// share a multiplication (x[n-j] + x[n-26+j] is an integer below 2^32) and
// four running sums shorten the chain of additions. floor(acc / 8192) is then
// the integer shift it stands for.
inline void fir_step(const double (&coef)[kFirTaps], Pair* window, std::int32_t pos, double& right, double& left) {
    const Pair xi = make_pair(saturate_to_int32(right), saturate_to_int32(left));
    window[pos] = xi;
    window[pos + kFirTaps] = xi;
    const Pair* x = window + pos;
    constexpr int kMid = kFirTaps / 2;
    Pair acc[4] = {coef[kMid] * x[kMid], make_pair(0.0, 0.0), make_pair(0.0, 0.0), make_pair(0.0, 0.0)};
    for (int j = 0; j < kMid; ++j) acc[j % 4] += coef[j] * (x[j] + x[kFirTaps - 1 - j]);
    const Pair sum = (acc[0] + acc[1]) + (acc[2] + acc[3]);
    constexpr double kShift = 1.0 / (1 << kFirShift);
    right = std::floor(sum[0] * kShift) * kFirTrim;
    left = std::floor(sum[1] * kShift) * kFirTrim;
}

inline double deemphasise(double& m, double x) {
    const double w = x + kDeemphasisPole * m;
    m = w;
    return kDeemphasisGain * w;
}
}  // namespace

std::int32_t saturate_to_int32(double x) {
    if (x != x) return 0;
    if (x >= static_cast<double>(std::numeric_limits<std::int32_t>::max()))
        return std::numeric_limits<std::int32_t>::max();
    if (x <= static_cast<double>(std::numeric_limits<std::int32_t>::min()))
        return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(x);
}

void build_fir_taps(OutputFilterState& st) {
    for (int j = 0; j < kFirTaps; ++j) st.fir_coef[j] = static_cast<std::int32_t>(kFirTable[j] * kTapScale);
}

void output_filter(OutputFilterState& st, bool fir, double& left, double& right) {
    if (!fir) {
        right = deemphasise(st.deemphasis_state[0], right);
        left = deemphasise(st.deemphasis_state[1], left);
        return;
    }
    // x[n-j] sits at fir_pos + j: the newest input goes one slot down.
    const std::int32_t pos = (st.fir_pos <= 0 || st.fir_pos >= kFirTaps) ? kFirTaps - 1 : st.fir_pos - 1;
    st.fir_pos = pos;
    fir_step(st.fir_coef, st.fir_history, pos, right, left);
}

}  // namespace qv
