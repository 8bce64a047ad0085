#pragma once
// What the band gain computers read besides their own records, gathered once
// per call from the parameter set, the derived gate level and the AGC's gate
// state of this frame.
#include "chain/readings.h"
#include "dsp/gain_computer.h"
#include "settings/settings.h"

namespace qv {

inline GainInputs band_gain_inputs(const ChainParams& s, const Readings& r) {
    const GlobalParams& g = s.live.global;
    GainInputs in;
    in.gate_level = s.derived.gate_level;
    in.agc_gated = read_word(r.agc_gated);
    in.independent_gate = g.independent_gate;
    in.compressor_on = g.compressor_on;
    in.expander_on = g.expander_on;
    in.limiter_on = g.limiter_on;
    in.band_active = s.band_active;
    return in;
}

}  // namespace qv
