#pragma once
#include "dsp/filters.h"

namespace qv {

// Parallel bank of five fourth-order band filters (channel 0 = right, 1 = left).
struct BandSplitState {
    FourthOrderState band[5];
};

// mb_input[2] -> band_signal[5][2], coefficient set B when four_bands is set.
void split_bands(BandSplitState& s, bool four_bands, const double (&mb_input)[2], double (&band_signal)[5][2]);

}  // namespace qv
