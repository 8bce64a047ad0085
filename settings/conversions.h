#pragma once
// The four conversions from natural units to run-time values, at the fixed
// rate of 44100 Hz. Every loader, the recomputation and the panel call these.
#include <cstdint>

namespace qv {

// One-pole coefficient covering 99 % of a step in ms milliseconds:
// 2.718281828 ^ ((-4.6 / 44100) / (ms * 0.001)); tc(0) = 0, tc(ms < 0) = 0.
double tc(std::int32_t ms);
// trunc(32767 * 10^(d * 0.05)), d in whole dB; saturates at the int32 range.
std::int32_t lvl20(std::int32_t db);
// trunc(32767 * 10^(t * 0.005)), t in tenths of a dB; saturates at the int32 range.
std::int32_t lvl200(std::int32_t db10);
// ms * 44100 / 1000 in 32-bit integer arithmetic (saturating, never overflowing).
std::int32_t samples(std::int32_t ms);

}  // namespace qv
