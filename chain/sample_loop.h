#pragma once
#include <cstdint>

#include "chain/chain_state.h"
#include "settings/settings.h"

namespace qv {

// Processes numsamples frames of interleaved 16-bit audio in place and returns
// numsamples. A block that is not 16-bit at 44.1 kHz or more (or has no
// channels, or no buffer) passes untouched and sets the format warning.
int modify_samples(Settings& s, ChainState& c, std::int16_t* samples, int numsamples, int bps, int nch, int srate);

}  // namespace qv
