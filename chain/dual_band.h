#pragma once
// Dual-band compressor ("Density"): a 6 kHz second-order crossover into band 5
// (high) and band 6 (low), a drive gain, one compressor per band whose gain is
// computed from the undelayed signal and applied to the signal delayed through
// the shared look-ahead ring, recombination and the "Clip Drive" gain.
#include "chain/band_delay.h"
#include "chain/chunk.h"
#include "chain/readings.h"
#include "dsp/filters.h"
#include "settings/settings.h"

namespace qv {

struct DualBandState {
    BiquadState crossover_high;  // channel 0 = right
    BiquadState crossover_low;
};

// The first count frames of x, each with the ring slot the multiband stage
// selected for it (or the last one, when "BYPASS" skipped it) and its gate
// flag. Raises clip_peak_in.
void dual_band(DualBandState& st, BandGains& bands, BandDelay& d, const ChainParams& s, Readings& r, Chunk& x,
               int count);

}  // namespace qv
