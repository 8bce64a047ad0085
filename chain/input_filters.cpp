#include "chain/input_filters.h"

namespace qv {

namespace {
// Fourth-order elliptic low-pass, 15 kHz corner at 44.1 kHz (b0..b4, a1..a4).
constexpr FourthOrderCoefs kInputLowpass = {0.38505152569118,  1.139343430242298, 1.588846205657192,
                                            1.139343430242298, 0.385051525691179, 1.461351975986644,
                                            1.694601955247288, 0.739004757786975, 0.308554619178498};

// Three all-pass stages.
constexpr int kRotatorCount = 4;
}  // namespace

void input_lowpass(InputFilterState& st, double& left, double& right) {
    process_fourth_order(kInputLowpass, st.lowpass, right, left);
}

void rotate_phase(InputFilterState& st, double& left, double& right) {
    phase_rotate(st.rotator, right, left, kRotatorCount);
}

}  // namespace qv
