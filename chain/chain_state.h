#pragma once
// Every memory of the processing chain, one record per stage. Zero when the
// module is loaded; a module instance owns exactly one. The memories that the
// recomputation re-initialises (AGC envelopes, band gain computer, bass EQ
// states, test-tone switch) live in Settings::mem instead.
#include "chain/band_delay.h"
#include "chain/clippers.h"
#include "chain/dual_band.h"
#include "chain/gated_agc.h"
#include "chain/input_filters.h"
#include "chain/multiband.h"
#include "chain/output_filter.h"
#include "chain/output_level.h"
#include "chain/pre_emphasis.h"
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
    BandDelay delay;  // look-ahead ring shared by the multiband and dual-band stages
    DualBandState dual_band;
    ClipperState clippers;
    OutputFilterState output;  // output FIR (taps built by Init) and de-emphasis
    OutputLevelState output_level;
    TestTone tone;
    Readings readings;
};

}  // namespace qv
