#pragma once
// Bass EQ: the peaking or shelving section designed by design_bass_eq, run
// once, or four times in cascade with "High Q" (each pass with its own state,
// so the response is the fourth power of one section's). Coefficients and the
// four states live in Settings (the design clears the first state).
#include "settings/settings.h"

namespace qv {

// Early position (AM filter on, also under Bypass All) or late position (AM
// filter off, not bypassed); never both in one frame. Leaves the pair alone
// while bass_eq_gain_db is below 1.
void bass_eq(Settings& s, std::int32_t options, double& left, double& right);

}  // namespace qv
