#include "chain/clippers.h"

#include "dsp/soft_clip.h"

namespace qv {

namespace {
// Fourth-order Butterworth pair at 2 kHz, 44.1 kHz (b0..b4, a1..a4).
constexpr FourthOrderCoefs kSplitLow = {0.000291365792212, 0.001165463168848,  0.001748194753272,
                                        0.001165463168848, 0.000291365792212,  -3.2565693109588,
                                        4.033768392721257, -2.246043682026216, 0.473506452939152};
constexpr FourthOrderCoefs kSplitHigh = {0.688117989915339,  -2.752471959661357, 4.128707939492035,
                                         -2.752471959661357, 0.688117989915339,  -3.2565693109588,
                                         4.033768392721258,  -2.246043682026217, 0.473506452939152};
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
    process_fourth_order(kSplitLow, st.split_low, lor, lol);
    process_fourth_order(kSplitHigh, st.split_high, hir, hil);
    if (clip) {
        const std::int32_t band_ceiling = s.band_gain_level[kHigh];  // both split bands
        soft_clip_pair(band_ceiling, lor, lol, knee);
        soft_clip_pair(band_ceiling, hir, hil, knee);
    }
    process_fourth_order(kSplitLow, st.refilter_low, lor, lol);
    process_fourth_order(kSplitHigh, st.refilter_high, hir, hil);
    left = hil + lol;
    right = hir + lor;
    raise_peak(r.clip_peak_out, larger(magnitude(right), magnitude(left)));

    const double right_before = magnitude(right);
    const double left_before = magnitude(left);
    if (clip) soft_clip_pair(s.band_gain_level[kLow], left, right, knee);
    raise_peak(r.bass_clip_peak, larger(right_before - magnitude(right), left_before - magnitude(left)));
}

}  // namespace qv
