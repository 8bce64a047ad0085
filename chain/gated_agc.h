#pragma once
// Two-band gated AGC: a 150 Hz split into a bass and a master band, each
// ridden toward 16384 (half of full scale) by its own envelope, both frozen
// while the frame's input peak is below the gate level.
#include "chain/readings.h"
#include "dsp/filters.h"
#include "settings/settings.h"

namespace qv {

struct AgcState {
    FirstOrderState bass_pre;  // bass band before its gain
    FirstOrderState bass_post;
    FirstOrderState master_pre;
    FirstOrderState master_post;
    double bass_envelope;  // 1.0 after a memory reset: the largest gain
    double master_envelope;
    std::int32_t gated;  // 1 while the gate holds a band; kept per frame in the chunk for the band gain computers
};

// Detectors, envelopes and gate run every frame; under Bypass All the pair is
// left alone and both gain readings read 0. Updates st.gated, which the
// sample loop keeps in the chunk for the same frame's band gain computers.
void gated_agc(AgcState& st, const ChainParams& s, Readings& r, bool bypass, double frame_input_peak, double& left,
               double& right);

}  // namespace qv
