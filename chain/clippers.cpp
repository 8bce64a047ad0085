#include "chain/clippers.h"

#include <cmath>

#include "dsp/detectors.h"
#include "dsp/soft_clip.h"

namespace qv {

namespace {
constexpr int kHigh = kDualHighBand;
constexpr int kLow = kDualLowBand;
}  // namespace

void clippers(ClipperState& st, const ChainParams& s, Readings& r, double& left, double& right) {
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
    raise_peak(r.clip_peak_out, peak_level(right, left));

    const double right_before = std::fabs(right);
    const double left_before = std::fabs(left);
    if (clip) soft_clip_pair(s.band_gain_level[kLow], left, right, knee);
    const double right_depth = right_before - std::fabs(right);
    const double left_depth = left_before - std::fabs(left);
    raise_peak(r.bass_clip_peak, right_depth > left_depth ? right_depth : left_depth);
}

}  // namespace qv
