#pragma once
#include <cstdint>

#include "dsp/section_state.h"

namespace qv {

// Per-band memories of the band gain computer, shared by the multiband
// (bands 0..4) and dual-band (5, 6) stages. Audio thread only; the meters see
// them through the chain's readings.
struct BandGains {
    SectionMemory section[kBands][kSections];
    // The sections' threshold_level as doubles, converted once per block
    // (load_thresholds): the per-sample code compares and divides by them.
    double threshold[kBands][kSections];
    double band_level[kBands];     // detector output of this sample
    double slow_envelope[kBands];  // compressor's slow detector, >= its threshold
    // The last frame's composite gain: expander x compressor x limiter, or
    // -120 dB while the band's M button mutes it. For bands 0..4 the
    // multiband stage then links the bands' gains and, unless under Bypass
    // All, applies the depth, in place; what the block leaves is published
    // for the meters.
    double band_composite_gain[kBands];
};

// Switches and levels the gain computer reads besides its own records.
struct GainInputs {
    double gate_level;       // linear, from GATE dB (an integer)
    std::int32_t agc_gated;  // AGC gate state of this frame
    std::int32_t independent_gate;
    std::int32_t compressor_on;  // sections of bands 0..4 only
    std::int32_t expander_on;
    std::int32_t limiter_on;
    const std::int32_t* band_active;  // [kBands], 0 while the band's M button mutes it
};

// Frames a gain computer takes in one go (compute_band_gain_run takes longer
// runs in pieces of this size).
constexpr int kGainRunFrames = 128;

// Copies the thresholds of the block's coefficients into g.threshold.
void load_thresholds(BandGains& g, const SectionCoefs (&coefs)[kBands][kSections]);

// Expander, two-detector compressor with hold, limiter, mute; bands first..last.
// The compressor's gain is the deeper of its detectors' gains, taken as one
// power of the larger level (the power is monotone in its base).
void compute_band_gains(BandGains& g, const SectionCoefs (&coefs)[kBands][kSections], const GainInputs& in, int first,
                        int last);

// Band `band` over count frames: level[n] in (the detector output), the gate
// flag of each frame, the band's composite gain out; the same as count calls
// of compute_band_gains for the band. Leaves band_level, band_composite_gain
// and the sections' gains at the last frame's.
void compute_band_gain_run(BandGains& g, const SectionCoefs (&coefs)[kBands][kSections], const GainInputs& in, int band,
                           const double* level, const std::int32_t* agc_gated, double* composite_gain, int count);

// Gain of the compressor's slow detector alone, for a meter: (slow / threshold)^exponent.
double slow_detector_gain(double slow_envelope, const SectionCoefs& compressor);

}  // namespace qv
