#pragma once
// Look-ahead true-peak limiter for the chain's 44.1 kHz stereo output, on the
// 16-bit scale (32768 = 0 dBFS). The peak between samples is estimated at
// eight points per sample interval; one gain for both channels, recomputed
// every frame, reaches the gain a peak needs before the samples that shape
// it leave the delay line, and recovers exponentially afterwards.
//
// Gain path, per frame: required gain r = min(1, ceiling / peak) of the
// newest interval -> minimum over kTruePeakHoldFrames -> release (falls at
// once, recovers toward 1 with kTruePeakReleaseMs) -> mean over
// kTruePeakAttackFrames. The gains are integers in units of 2^-44 from the
// required gain to the mean, so the mean never drifts and returns to exactly
// 1: below the ceiling the signal passes bit for bit, delayed.
#include <cstdint>

#include "dsp/filters.h"

namespace qv {

// Half the interpolator's support: an interval's peak is estimated from the
// six samples on each side of it.
constexpr int kTruePeakHalfTaps = 6;
// Frames over which the gain moves to a new minimum (1.45 ms): the longest
// gain change per frame is (1 - new gain) / 64.
constexpr int kTruePeakAttackFrames = 64;
// Frames on each side of a peak's interval held at its gain besides the
// interval's own two samples: the rest of the interpolator's window, so that
// every sample that shapes the peak is already at the gain it needs.
constexpr int kTruePeakGuardFrames = kTruePeakHalfTaps - 1;
// Window of the minimum: the attack, the interval's two samples and the
// guards on both sides (A + 2 + 2S - 1).
constexpr int kTruePeakHoldFrames = kTruePeakAttackFrames + 1 + 2 * kTruePeakGuardFrames;
// Delay of the audio, whatever the ceiling (74 frames, 1.68 ms): the
// interpolator's look-ahead, the attack and the guard ahead of the peak.
constexpr int kTruePeakLatencyFrames = kTruePeakAttackFrames - 1 + kTruePeakHalfTaps + kTruePeakGuardFrames;
// Time constant of the recovery toward unity gain. Overs of processed
// programme come every few milliseconds: at 100 ms they share one shallow dip
// and the gain moves at under 2 Hz, too slowly to roughen the sound, while
// it recovers soon enough after a burst to cost little loudness.
constexpr double kTruePeakReleaseMs = 100.0;
// The ceiling the limiter holds lies this far below the one asked for: meters
// with a shorter interpolator read up to 0.12 dB above the true peak near
// 15 kHz, and eight points per interval miss up to 0.08 dB of a peak there.
constexpr double kTruePeakMarginDb = 0.15;

// Written by design_true_peak_limiter (between blocks, by the control side).
struct TruePeakLimiterCoefs {
    double ceiling_level;  // 16-bit scale, the margin taken off
    double release_coef;   // per frame: the deficit below unity gain shrinks by this factor
};

// Capacities (powers of two): the delay line with the interpolator's window,
// and the minimum's queue.
constexpr int kTruePeakRingFrames = 128;
constexpr int kTruePeakQueueSize = 128;
static_assert(kTruePeakRingFrames > kTruePeakLatencyFrames && kTruePeakRingFrames >= 2 * kTruePeakHalfTaps);
static_assert(kTruePeakQueueSize > kTruePeakHoldFrames);

// Written by the audio thread only.
struct TruePeakLimiterState {
    // Inputs, each stored twice (at i and i + kTruePeakRingFrames) so that
    // the interpolator's window is always contiguous.
    Pair ring[2 * kTruePeakRingFrames];
    std::uint32_t frame;  // frames taken in since the reset (wraps)
    // Minimum over the hold window: required gains increasing from head to
    // tail with the frames they came in at (the queue's indices wrap).
    std::int64_t queue_gain[kTruePeakQueueSize];
    std::uint32_t queue_frame[kTruePeakQueueSize];
    std::uint32_t queue_head, queue_tail;
    std::int64_t release_gain;  // units of 2^-44
    std::int64_t attack_ring[kTruePeakAttackFrames];
    std::int64_t attack_sum;  // sum of attack_ring
    double gain;              // gain of the last frame out
};

// Ceiling in dBTP (e.g. -1), -6 ... 0 in use. Only the coefficients change:
// a new design applies from the next frame, through the smooth gain.
TruePeakLimiterCoefs design_true_peak_limiter(double ceiling_dbtp);

// Silence in the delay line, unity gain.
void reset_true_peak_limiter(TruePeakLimiterState& s);

// In place, the output kTruePeakLatencyFrames behind the input; the result
// does not depend on how a signal is cut into blocks.
void true_peak_limit(const TruePeakLimiterCoefs& c, TruePeakLimiterState& s, double* interleaved, int frames);
void true_peak_limit(const TruePeakLimiterCoefs& c, TruePeakLimiterState& s, double* left, double* right, int frames);

}  // namespace qv
