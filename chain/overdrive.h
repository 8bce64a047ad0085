#pragma once
#include "settings/settings.h"

namespace qv {

// Fixed gain into the multiband processor: overdrive_gain =
// trunc(32767 * 10^(overdrive_db / 20)) / 32768, so 0 dB is 32767/32768.
inline void apply_overdrive(const ChainParams& s, double& left, double& right) {
    const double gain = s.derived.overdrive_gain;
    left = left * gain;
    right = right * gain;
}

}  // namespace qv
