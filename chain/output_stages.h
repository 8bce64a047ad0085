#pragma once
#include "chain/readings.h"
#include "settings/settings.h"

namespace qv {

struct OutputState {
    int placeholder;
};

void build_fir_taps(OutputState& st);
void output_filter(OutputState& st, const Settings& s, double& left, double& right);
void final_soft_clip(const Settings& s, double& left, double& right);
void output_level_and_am(OutputState& st, const Settings& s, double& left, double& right);

}  // namespace qv
