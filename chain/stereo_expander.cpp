#include "chain/stereo_expander.h"

namespace qv {

namespace {
constexpr double kDiffuserGain = 0.7;      // all-pass (0.7 + z^-256) / (1 + 0.7 z^-256)
constexpr double kEnvelopeCeiling = 4096;  // about -18 dBFS of injected side signal
constexpr double kAttackCoef = 0.999;      // time constant about 1000 frames (23 ms)
constexpr double kReleaseCoef = 0.99999;   // about 100 000 frames (2.3 s)
}  // namespace

void stereo_expand(StereoExpanderState& st, const StereoExpanderParams& p, Readings& r, double& left, double& right) {
    // A depth beyond the line's capacity can only come from a damaged record;
    // keeping the index inside the line costs one compare per frame.
    std::int32_t depth = p.depth_samples;
    if (depth > kStereoDelaySlots - 1) depth = kStereoDelaySlots - 1;
    if (depth < 0) depth = 0;

    std::int32_t index = st.stereo_delay_index;
    if (index < 0 || index > kStereoDelaySlots - 1) index = 0;
    const std::int32_t d = st.stereo_delay_line[index];
    st.stereo_delay_line[index] = static_cast<std::int32_t>(right - left);
    st.stereo_delay_index = index >= depth ? 0 : index + 1;

    if (!p.inject) return;

    const double x = d;
    const std::int32_t k =
        static_cast<std::int32_t>(static_cast<std::uint32_t>(st.stereo_ring_index) % kStereoRingSlots);
    double y = kDiffuserGain * x + st.stereo_diffuser_ring[k];
    st.stereo_diffuser_ring[k] = x - kDiffuserGain * y;

    const double magnitude = y < 0 ? -y : y;
    const double c = magnitude > st.stereo_envelope ? kAttackCoef : kReleaseCoef;
    st.stereo_envelope = (1 - c) * magnitude + c * st.stereo_envelope;
    const double g = st.stereo_envelope > kEnvelopeCeiling ? kEnvelopeCeiling / st.stereo_envelope : 1.0;
    st.stereo_ring_index = k + 1;

    y = g * y;
    publish(r.stereo_activity, g);
    const double e = p.level_pct * y * 0.01;
    right = right + e;
    left = left - e;
}

void clear_stereo_expander(StereoExpanderState& st) {
    for (std::int32_t& v : st.stereo_delay_line) v = 0;
    for (double& v : st.stereo_diffuser_ring) v = 0;
}

}  // namespace qv
