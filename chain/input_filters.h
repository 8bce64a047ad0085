#pragma once
#include "chain/readings.h"
#include "settings/settings.h"

namespace qv {

struct InputFilterState {
    FourthOrderState lowpass;
    PhaseRotatorState rotator;
};

void input_lowpass(InputFilterState& st, double& left, double& right);
void rotate_phase(InputFilterState& st, double& left, double& right);

}  // namespace qv
