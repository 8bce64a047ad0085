#include "chain/clippers.h"

#include "dsp/soft_clip.h"

namespace qv {

namespace {
constexpr int kHigh = 5;
constexpr int kLow = 6;

inline double magnitude(double x) { return x < 0 ? -x : x; }
inline double larger(double a, double b) { return a > b ? a : b; }
}  // namespace

void clippers(ClipperState& st, const Settings& s, Readings& r, double& left, double& right) {
    const bool clip = s.live.global.no_clipper == 0;
    const std::int32_t knee = s.derived.soft_clip_knee;

    double lor = right, lol = left;
    double hir = right, hil = left;
    process_fourth_order(kClipperSplitLow, st.split_low, lor, lol);
    process_fourth_order(kClipperSplitHigh, st.split_high, hir, hil);
    if (clip) {
        const std::int32_t band_ceiling = s.band_gain_level[kHigh];  // both split bands
        soft_clip_pair(band_ceiling, lor, lol, knee);
        soft_clip_pair(band_ceiling, hir, hil, knee);
    }
    process_fourth_order(kClipperSplitLow, st.refilter_low, lor, lol);
    process_fourth_order(kClipperSplitHigh, st.refilter_high, hir, hil);
    left = hil + lol;
    right = hir + lor;
    raise_peak(r.clip_peak_out, larger(magnitude(right), magnitude(left)));

    const double right_before = magnitude(right);
    const double left_before = magnitude(left);
    if (clip) soft_clip_pair(s.band_gain_level[kLow], left, right, knee);
    raise_peak(r.bass_clip_peak, larger(right_before - magnitude(right), left_before - magnitude(left)));
}

}  // namespace qv
