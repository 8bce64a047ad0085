#pragma once
// The true-peak ceiling after the chain: the look-ahead limiter of
// dsp/true_peak_limiter on the chain's 16-bit output, for live outputs whose
// encoders would overshoot inter-sample peaks. A processor has it or not
// for its whole life (it delays the output by kTruePeakLatencyFrames); the
// ceiling itself may move between blocks.
#include <atomic>
#include <cstdint>

#include "dsp/true_peak_limiter.h"

namespace qv {

// The range a front end offers, in dBTP.
constexpr double kCeilingMinDbtp = -6.0;
constexpr double kCeilingMaxDbtp = 0.0;
constexpr double kCeilingDefaultDbtp = -1.0;

// Frames converted to doubles at a time.
constexpr int kCeilingChunkFrames = 256;

struct CeilingStage {
    bool on = false;  // fixed when the processor is made
    // Control side -> audio thread: the ceiling's level, taken at each block.
    std::atomic<double> level{0.0};
    TruePeakLimiterCoefs coefs{};  // audio thread's copy
    TruePeakLimiterState state{};  // audio thread
    double work[2 * kCeilingChunkFrames];
    // Audio thread -> meters: the lowest gain since the last take (1 = none).
    double gain_low = 1.0;
};

// Control side: on or off (before the first block only), and the ceiling.
void ceiling_start(CeilingStage& c, bool on, double dbtp);
void ceiling_set_dbtp(CeilingStage& c, double dbtp);

// Audio thread: count frames of interleaved 16-bit audio, 1 or 2 channels,
// in place. Samples come back truncated toward zero, so no sample grows.
void ceiling_run(CeilingStage& c, std::int16_t* frames, int count, int channels);

}  // namespace qv
