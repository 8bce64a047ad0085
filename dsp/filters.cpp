#include "dsp/filters.h"

namespace qv {

namespace {
constexpr double kPole = 0.95;
// 1 - 0.95 in double arithmetic is 0.050000000000000044, not the literal 0.05.
constexpr double kInput = 1.0 - kPole;
static_assert(kInput != 0.05);
}  // namespace

void phase_rotate(PhaseRotatorState& s, double& a, double& b, int count) {
    if (count <= 1) return;
    const int stages = count - 1 < kPhaseRotatorMaxStages ? count - 1 : kPhaseRotatorMaxStages;
    Pair x = make_pair(a, b);
    for (int i = 0; i < stages; ++i) {
        s.lp[i] = kInput * x + kPole * s.lp[i];
        x = 2.0 * s.lp[i] - x;
    }
    a = x[0];
    b = x[1];
}

}  // namespace qv
