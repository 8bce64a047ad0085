#pragma once
// Bass EQ: the peaking or shelving section designed by design_bass_eq, run
// once, or four times in cascade with "High Q" (each pass with its own state,
// so the response is the fourth power of one section's). Coefficients and the
// four states live here; a change of shape clears all four.
#include "settings/settings.h"

namespace qv {

struct BassEqState {
    BiquadState section[4];
};

// Early position (AM filter on, also under Bypass All) or late position (AM
// filter off, not bypassed); never both in one frame. Leaves the pair alone
// while bass_eq_gain_db is below 1.
void bass_eq(BassEqState& st, const ChainParams& s, std::int32_t options, double& left, double& right);

}  // namespace qv
