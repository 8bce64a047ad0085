#pragma once
// What the band gain computers read besides their own records, gathered once
// per call from the parameter set, the derived gate level and the AGC's gate
// flag of this frame.
#include "dsp/gain_computer.h"
#include "settings/settings.h"

namespace qv {

inline GainInputs band_gain_inputs(const ChainParams& s, std::int32_t agc_gated) {
    const GlobalParams& g = s.live.global;
    GainInputs in;
    in.gate_level = s.derived.gate_level;
    in.agc_gated = agc_gated;
    in.independent_gate = g.independent_gate;
    in.compressor_on = g.compressor_on;
    in.expander_on = g.expander_on;
    in.limiter_on = g.limiter_on;
    in.band_active = s.band_active;
    return in;
}

}  // namespace qv
