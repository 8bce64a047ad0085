#pragma once
// The look-ahead delay shared by the multiband and dual-band stages, and the
// smoothed gains they apply ahead of it. Each slot holds one frame of the
// seven bands for both channels (channel 0 = right, 1 = left); the ring has
// lookahead_samples + 1 slots in use, so a value comes out lookahead_samples
// + 1 frames after it went in.
#include <cstdint>

#include "dsp/section_state.h"
#include "settings/derive.h"

namespace qv {

// kMaxLookaheadSamples: 100 ms, the panel's maximum.
constexpr int kRingSlots = kMaxLookaheadSamples + 1;

struct BandDelay {
    double band_smooth_gain[kBands];  // 0..4 multiband, 5 and 6 dual band
    std::int32_t ring_index;          // slot of the current frame, 0..kMaxLookaheadSamples
    double delay_ring[kRingSlots][2][kBands];
};

// A stored look-ahead beyond the ring's capacity plays as the longest one
// the ring holds (and a negative one as none).
inline std::int32_t bounded_lookahead(std::int32_t lookahead_samples) {
    if (lookahead_samples > kMaxLookaheadSamples) return kMaxLookaheadSamples;
    if (lookahead_samples < 0) return 0;
    return lookahead_samples;
}

// One-pole smoothing of a band gain ahead of the ring: 0.1 new, 0.9 old.
inline double smooth_band_gain(double gain, double smoothed) { return 0.1 * gain + 0.9 * smoothed; }

// Next slot; an index left beyond a shortened look-ahead wraps to 0.
inline void advance_ring(BandDelay& d, std::int32_t lookahead_samples) {
    const std::int32_t last = bounded_lookahead(lookahead_samples);
    d.ring_index = (d.ring_index >= last || d.ring_index < 0) ? 0 : d.ring_index + 1;
}

// out <- the value stored lookahead_samples + 1 frames ago; the slot <- in.
inline double exchange(double& slot, double in) {
    const double out = slot;
    slot = in;
    return out;
}

}  // namespace qv
