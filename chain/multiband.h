#pragma once
#include "chain/readings.h"
#include "settings/settings.h"

namespace qv {

struct MultibandState {
    int placeholder;
};

// Returns false when the frame must skip to the test-tone mix (Bypass All).
bool multiband(MultibandState& st, Settings& s, Readings& r, double& left, double& right);

}  // namespace qv
