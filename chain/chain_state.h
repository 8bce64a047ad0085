#pragma once
// Every memory of the processing chain, one record per stage. Zero when the
// module is loaded; a module instance owns exactly one.
#include "chain/bass_eq.h"
#include "chain/dual_band.h"
#include "chain/gated_agc.h"
#include "chain/input_filters.h"
#include "chain/multiband.h"
#include "chain/output_stages.h"
#include "chain/readings.h"
#include "chain/stereo_expander.h"
#include "chain/test_tone.h"

namespace qv {

struct ChainState {
    InputFilterState input;
    StereoExpanderState expander;
    AgcState agc;
    EmphasisState emphasis;
    MultibandState multiband;
    DualBandState dual_band;
    OutputState output;
    TestTone tone;
    Readings readings;
};

}  // namespace qv
