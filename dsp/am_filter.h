#pragma once

namespace qv {

// One tenth-order direct-form-II recursion; w[ch][m-1] holds w[n-m].
struct AmSectionState {
    double w[2][10];
};

void am_filter_section1(AmSectionState& s, double& a, double& b);
void am_filter_section2(AmSectionState& s, double& a, double& b);

}  // namespace qv
