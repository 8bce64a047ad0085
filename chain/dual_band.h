#pragma once
#include "chain/multiband.h"
#include "chain/readings.h"
#include "settings/settings.h"

namespace qv {

struct DualBandState {
    int placeholder;
};

void dual_band(DualBandState& st, MultibandState& mb, Settings& s, Readings& r, double& left, double& right);

}  // namespace qv
