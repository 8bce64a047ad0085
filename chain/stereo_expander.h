#pragma once
// Stereo expander: the difference signal (right - left), delayed by
// stereo_depth_samples + 1 frames, diffused by a 256-frame all-pass and held to
// an envelope of 4096, is added to right and subtracted from left.
#include <cstdint>

#include "chain/readings.h"

namespace qv {

constexpr int kStereoDelaySlots = 890;  // 20 ms (882 samples) plus headroom
constexpr int kStereoRingSlots = 256;

struct StereoExpanderState {
    std::int32_t stereo_delay_line[kStereoDelaySlots];  // past right - left, truncated
    std::int32_t stereo_delay_index;                    // next slot, 0..depth
    double stereo_diffuser_ring[kStereoRingSlots];
    std::int32_t stereo_ring_index;  // used modulo 256
    double stereo_envelope;          // envelope of the diffused side signal
};

struct StereoExpanderParams {
    std::int32_t depth_samples;  // stereo_depth_samples, 0..882
    std::int32_t level_pct;      // share of the side signal added back, 0..100
    bool inject;                 // "No Stereo Exp" and "Bypass All" both clear
};

// The delay line runs every frame; diffuser, envelope, stereo_activity and the
// injection only while p.inject is set.
void stereo_expand(StereoExpanderState& st, const StereoExpanderParams& p, Readings& r, double& left, double& right);
// Clears the delay line and the diffuser ring (Init).
void clear_stereo_expander(StereoExpanderState& st);

}  // namespace qv
