#pragma once
// Two-band gated AGC: a 150 Hz split into a bass and a master band, each
// ridden toward 16384 (half of full scale) by its own envelope, both frozen
// while the frame's input peak is below the gate level. The envelopes live in
// Settings::mem (reset to 1.0 by the recomputation), the filters here.
#include "chain/readings.h"
#include "dsp/filters.h"
#include "settings/settings.h"

namespace qv {

struct AgcState {
    FirstOrderState bass_pre;  // bass band before its gain
    FirstOrderState bass_post;
    FirstOrderState master_pre;
    FirstOrderState master_post;
};

// Detectors, envelopes and gate run every frame; under Bypass All the pair is
// left alone and both gain readings read 0. Writes agc_gated, which the band
// gain computers read later in the same frame.
void gated_agc(AgcState& st, Settings& s, Readings& r, bool bypass, double frame_input_peak, double& left,
               double& right);

}  // namespace qv
