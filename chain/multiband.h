#pragma once
// Five-band processor: split, detect (peak or RMS), compute and link the band
// gains, scale them by "Multiband %", smooth them, apply them ahead of the
// shared look-ahead delay, weight each band by its output gain and recombine
// with alternating signs.
#include <cstdint>

#include "chain/band_delay.h"
#include "chain/chunk.h"
#include "chain/readings.h"
#include "dsp/band_split.h"
#include "settings/settings.h"

namespace qv {

struct MultibandState {
    BandSplitState split;
    double rms_state[kMultibandBands];  // mean square per band ("Track RMS")
};

// The first count frames of x, entered when "BYPASS" is clear or Bypass All is
// set; reads each frame's gate flag and records its ring slot. Under Bypass
// All only the analysis runs (meters keep moving) and the pairs are left
// alone: the frames go on to the test-tone mix.
void multiband(MultibandState& st, BandGains& bands, BandDelay& d, const ChainParams& s, std::int32_t options,
               bool bypass, Chunk& x, int count);

}  // namespace qv
