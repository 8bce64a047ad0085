#pragma once
// Split-band clipper on a fourth-order 2 kHz split (both bands clipped at the
// high band's "Clip Thr", each re-filtered by its own copy of its split
// filter), then the final clipper on the sum at the low band's "Clip Thr".
// The clip levels are stored reduced by the knee, so the ceilings equal the
// panel's levels. "No Clipper" switches both clippers off, not the re-filters.
#include "chain/readings.h"
#include "dsp/filters.h"
#include "settings/settings.h"

namespace qv {

// Fourth-order Butterworth pair at 2 kHz, 44.1 kHz (b0..b4, a1..a4).
inline constexpr FourthOrderCoefs kClipperSplitLow = {0.000291365792212, 0.001165463168848,  0.001748194753272,
                                                      0.001165463168848, 0.000291365792212,  -3.2565693109588,
                                                      4.033768392721257, -2.246043682026216, 0.473506452939152};
inline constexpr FourthOrderCoefs kClipperSplitHigh = {0.688117989915339,  -2.752471959661357, 4.128707939492035,
                                                       -2.752471959661357, 0.688117989915339,  -3.2565693109588,
                                                       4.033768392721258,  -2.246043682026217, 0.473506452939152};

struct ClipperState {
    FourthOrderState split_low;  // channel 0 = right
    FourthOrderState split_high;
    FourthOrderState refilter_low;
    FourthOrderState refilter_high;
};

// Raises clip_peak_out (after the split-band clipper) and bass_clip_peak (the
// depth of the final clipper).
void clippers(ClipperState& st, const ChainParams& s, Readings& r, double& left, double& right);

}  // namespace qv
