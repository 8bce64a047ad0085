#pragma once
// First-order pre-emphasis (c3 + c2 z^-1) / (1 + c1 z^-1): the 50 us curve
// (set A) unless the output is to carry 75 us emphasis (set B: preemphasis_on
// set and preemphasis_50us clear). The output filter removes it again or, with
// preemphasis_on, leaves it in.
#include "settings/records.h"

namespace qv {

struct EmphasisState {
    double state[2];  // [0] right, [1] left
};

// The set is chosen per frame; switching keeps the memories.
void pre_emphasis(EmphasisState& st, const GlobalParams& g, double& left, double& right);

}  // namespace qv
