#pragma once
#include <cstdint>

namespace qv {

// Hyperbolic knee: above threshold T the excess e becomes e*K/(K+e),
// approaching T + K. K is soft_clip_knee (2148).
inline double soft_clip_value(double x, std::int32_t threshold, std::int32_t knee) {
    const double m = x < 0 ? -x : x;
    if (m <= threshold) return x;
    const double e = m - threshold;
    const double y = threshold + e * knee / (knee + e);
    return x >= 0 ? y : -y;
}

// Honours "No Clipper".
inline void soft_clip(std::int32_t threshold, double& x, std::int32_t knee, std::int32_t no_clipper) {
    if (no_clipper) return;
    x = soft_clip_value(x, threshold, knee);
}

// Clips b first, then a; ignores "No Clipper" (callers test it).
inline void soft_clip_pair(std::int32_t threshold, double& a, double& b, std::int32_t knee) {
    b = soft_clip_value(b, threshold, knee);
    a = soft_clip_value(a, threshold, knee);
}

}  // namespace qv
