#pragma once
// Float <-> 16-bit conversions of the plug-ins, exact for every 16-bit value.
#include <cmath>
#include <cstdint>

namespace qv::plugin {

// Rounds x * gain * 32768 to the nearest 16-bit value (halves up), clamped;
// NaN and infinities count as 0.
inline std::int16_t to_pcm16(float x, float gain) {
    if (!std::isfinite(x)) return 0;
    double v = static_cast<double>(x) * gain * 32768.0;
    if (!(v < 32767.0)) return 32767;
    if (!(v > -32768.0)) return -32768;
    return static_cast<std::int16_t>(std::floor(v + 0.5));
}

inline float from_pcm16(std::int16_t s, float gain) { return static_cast<float>(s) * (1.0f / 32768.0f) * gain; }

}  // namespace qv::plugin
