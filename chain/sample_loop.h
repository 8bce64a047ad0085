#pragma once
#include <cstdint>

#include "chain/chain_state.h"
#include "settings/param_channel.h"

namespace qv {

// Processes numsamples frames of interleaved 16-bit audio in place and returns
// numsamples. The block plays the newest parameter set published on the
// channel, taken once at its start, after carrying out the requests that set
// makes. A block that is not 16-bit at 44.1 kHz or more (or has no channels,
// or no buffer) passes untouched and sets the format warning.
//
// Expects the chain's floating-point mode (platform::ChainFpMode); the host
// entry points set it around the call.
int modify_samples(ParamChannel& channel, ChainState& c, std::int16_t* samples, int numsamples, int bps, int nch,
                   int srate);

// Carries out the memory requests of p that c has not seen yet.
void apply_requests(const ChainParams& p, ChainState& c);

}  // namespace qv
