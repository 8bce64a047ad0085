#include "dsp/detectors.h"

#include <cmath>

namespace qv {

// RMS detector coefficient per multiband band, lowest band first.
const double kRmsCoefs[5] = {0.99, 0.95, 0.79277, 0.68842, 0.5};

double rms_level(double a, double b, double& state, int band) {
    // Only bands 0..4 have a detector; anything else is held to the nearest one.
    const int k = band < 0 ? 0 : (band > 4 ? 4 : band);
    const double m = a > b ? a : b;
    const double c = kRmsCoefs[k];
    state = m * m * (1.0 - c) + c * state;
    return std::sqrt(state);
}

}  // namespace qv
