#pragma once
#include <cmath>
#include <cstdint>

namespace qv {

// max(|a|, |b|): one level out of a band's stereo pair.
inline double peak_level(double a, double b) {
    const double ma = std::fabs(a);
    const double mb = std::fabs(b);
    return ma > mb ? ma : mb;
}

// Mean-square smoothing coefficient of each multiband band's RMS detector;
// time constants about 100, 19.5, 4.3, 2.7 and 1.4 samples.
extern const double kRmsCoefs[5];

// a, b: absolute values of the band's two samples; state: the band's mean
// square; band 0..4. state <- max(a, b)^2 * (1 - c) + c * state; returns sqrt(state).
double rms_level(double a, double b, double& state, int band);

// Pulls target toward min(anchor, target) by percent (0..100).
inline void link_gains(double anchor, double& target, std::int32_t percent) {
    const double m = anchor < target ? anchor : target;
    target = (target * (100 - percent) + m * percent) * 0.01;
}

}  // namespace qv
