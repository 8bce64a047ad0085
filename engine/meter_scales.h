#pragma once
// The panel's meter bars: their full-scale positions (every bar starts at 0)
// and the decay applied to held peaks on each 100 ms tick. Remote meters use
// the same numbers so that they look and fall back the same.
namespace qv {

constexpr int kMeterTickMs = 100;         // the panel timer's period
constexpr double kMeterPeakDecay = 0.95;  // per tick: -0.45 dB

constexpr int kLevelMeterMax = 32767;    // IN and OUT: 16-bit sample magnitude
constexpr int kAgcMeterMax = 25;         // AGC gain in whole dB
constexpr int kBandMeterMax = 1000;      // band gain x 1000, 1000 = no reduction
constexpr int kImageMeterMax = 32767;    // |right - left|
constexpr int kActivityMeterMax = 1000;  // stereo expander limiter gain x 1000
constexpr int kClipMeterMax = 65535;     // clip depths, 16-bit scale

}  // namespace qv
