#pragma once
// Five-band processor: split, detect (peak or RMS), compute and link the band
// gains, scale them by "Multiband %", smooth them, apply them ahead of the
// shared look-ahead delay, weight each band by its output gain and recombine
// with alternating signs.
#include <cstdint>

#include "chain/band_delay.h"
#include "chain/readings.h"
#include "dsp/band_split.h"
#include "settings/settings.h"

namespace qv {

struct MultibandState {
    BandSplitState split;
    double rms_state[kMultibandBands];  // mean square per band ("Track RMS")
};

// Entered when "BYPASS" is clear or Bypass All is set. Under Bypass All only
// the analysis runs (meters keep moving) and the pair is left alone: the frame
// goes on to the test-tone mix. agc_gated: the AGC's gate flag of this frame.
void multiband(MultibandState& st, BandGains& bands, BandDelay& d, const ChainParams& s, std::int32_t options,
               std::int32_t agc_gated, bool bypass, double& left, double& right);

}  // namespace qv
