#pragma once
// Every memory of the processing chain, one record per stage. Zero when the
// processor is made. Init (the module's, or make_processor) then builds the
// test tone's table and the output FIR's taps and clears the stereo
// expander, while no block is processed; from the first block on only the
// audio thread writes here, but for the readings, which the meters read (and
// decay or take) through the relaxed accessors of chain/readings.h. A
// processor instance owns exactly one.
#include "chain/band_delay.h"
#include "chain/bass_eq.h"
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
    BassEqState bass_eq;
    EmphasisState emphasis;
    MultibandState multiband;
    BandGains bands;  // gain computers of bands 0..6 (multiband and dual band)
    BandDelay delay;  // look-ahead ring shared by the multiband and dual-band stages
    DualBandState dual_band;
    ClipperState clippers;
    OutputFilterState output;  // output FIR (taps built by Init) and de-emphasis
    OutputLevelState output_level;
    TestTone tone;
    // The request counts of the last parameter set whose requests were
    // carried out (see ChainParams).
    std::uint32_t memory_reset_seen;
    std::uint32_t bass_eq_clear_seen;
    Readings readings;
};

}  // namespace qv
