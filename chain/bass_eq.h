#pragma once
#include "chain/readings.h"
#include "settings/settings.h"

namespace qv {

struct EmphasisState {
    double state[2];
};

void bass_eq(Settings& s, double& left, double& right);
void apply_overdrive(const Settings& s, double& left, double& right);
void pre_emphasis(EmphasisState& st, const Settings& s, double& left, double& right);

}  // namespace qv
