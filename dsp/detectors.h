#pragma once
#include <cstdint>

namespace qv {

inline double peak_level(double a, double b) {
    const double ma = a < 0 ? -a : a;
    const double mb = b < 0 ? -b : b;
    return ma > mb ? ma : mb;
}

// a, b: absolute values of the band's two samples; state: the band's mean square.
double rms_level(double a, double b, double& state, int band);

// Pulls target toward min(anchor, target) by percent (0..100).
inline void link_gains(double anchor, double& target, std::int32_t percent) {
    const double m = anchor < target ? anchor : target;
    target = (target * (100 - percent) + m * percent) * 0.01;
}

}  // namespace qv
