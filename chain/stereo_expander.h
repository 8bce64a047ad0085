#pragma once
#include "chain/readings.h"
#include "settings/settings.h"

namespace qv {

struct StereoExpanderState {
    int placeholder;
};

void stereo_expand(StereoExpanderState& st, const Settings& s, Readings& r, double& left, double& right);
void clear_stereo_expander(StereoExpanderState& st);

}  // namespace qv
