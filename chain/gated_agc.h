#pragma once
#include "chain/readings.h"
#include "settings/settings.h"

namespace qv {

struct AgcState {
    int placeholder;
};

void gated_agc(AgcState& st, Settings& s, Readings& r, double frame_input_peak, double& left, double& right);

}  // namespace qv
