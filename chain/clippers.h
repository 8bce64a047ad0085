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

struct ClipperState {
    FourthOrderState split_low;  // channel 0 = right
    FourthOrderState split_high;
    FourthOrderState refilter_low;
    FourthOrderState refilter_high;
};

// Raises clip_peak_out (after the split-band clipper) and bass_clip_peak (the
// depth of the final clipper).
void clippers(ClipperState& st, const Settings& s, Readings& r, double& left, double& right);

}  // namespace qv
