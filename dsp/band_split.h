#pragma once
#include "dsp/filters.h"

namespace qv {

// Parallel bank of five fourth-order band filters (channel 0 = right, 1 = left).
struct BandSplitState {
    FourthOrderState band[5];
};

// Band filters for 44.1 kHz, lowest band first. Five-band set: low-pass
// -3 dB near 60 Hz, below 1.3 kHz (peak 255 Hz), 1.5-4.5 kHz, 5-9 kHz, 10-15 kHz.
extern const FourthOrderCoefs kFiveBandCoefs[5];
// "4 BANDS" set: 20-120 Hz, 150-600 Hz, 0.7-4 kHz, 4-20 kHz; band 4 silent (all zero).
extern const FourthOrderCoefs kFourBandCoefs[5];

// mb_input[2] -> band_signal[5][2], coefficient set B when four_bands is set.
// Both sets run on the same memories, so switching sets keeps them.
void split_bands(BandSplitState& s, bool four_bands, const double (&mb_input)[2], double (&band_signal)[5][2]);

}  // namespace qv
