#pragma once
// Input conditioning ahead of every gain stage: the optional 15 kHz low-pass
// and the optional phase rotator (three first-order all-passes per channel).
#include "dsp/filters.h"

namespace qv {

struct InputFilterState {
    FourthOrderState lowpass;  // channel 0 = right
    PhaseRotatorState rotator;
};

// Elliptic low-pass at 15 kHz: -1 dB at DC, 14 and 15 kHz, <= -20 dB above 15.5 kHz.
void input_lowpass(InputFilterState& st, double& left, double& right);
// -540 degrees at high frequencies relative to the lows, unity at DC.
void rotate_phase(InputFilterState& st, double& left, double& right);

}  // namespace qv
