#pragma once
// Values the chain publishes for the panel's timer. The chain only ever raises
// the peaks; the panel reads and decays them. Each is one aligned word.
#include <cstdint>

namespace qv {

struct Readings {
    // Bits 8..15 set to 0xFF by a block of a refused format, bits 8..31 cleared
    // by an accepted one; bits 0..7 belong to the panel.
    std::int32_t format_status;
    double input_peak;
    double output_peak;
    double stereo_image_peak;
    double stereo_activity;
    std::int32_t agc_gated;  // 1 while the AGC gate holds a band
    double master_agc_gain;
    double bass_agc_gain;
    double clip_peak_in;
    double clip_peak_out;
    double bass_clip_peak;  // depth of the final clipper
};

}  // namespace qv
