#pragma once
// Host rate <-> 44.1 kHz for the plug-ins at other rates: the host's frames
// go through libsoxr to 44.1 kHz, the chain, and back. The output FIFO is
// pre-filled so that every call returns as many frames as it was given; the
// pre-fill plus the resamplers' delay is latency_frames.
#include <soxr.h>

#include <cstdint>
#include <vector>

#include "control/signal_tap.h"
#include "engine/processor.h"

namespace qv::plugin {

constexpr int kBridgeChunkFrames = 128;  // host frames per pass through the resamplers
// The output's bound: the downsampler rebuilds the peaks between the samples
// of a full-scale 44.1 kHz signal, up to +2 dB and more after a clipper;
// beyond +1.6 dB they are clipped here.
constexpr float kBridgeOutputPeak = 1.2f;

// Fixed chunks of host frames through both resamplers.
struct RateBridge {
    RateBridge() = default;
    RateBridge(const RateBridge&) = delete;
    RateBridge& operator=(const RateBridge&) = delete;
    ~RateBridge();

    soxr_t up = nullptr;    // host rate -> 44.1 kHz
    soxr_t down = nullptr;  // 44.1 kHz -> host rate
    int chunk_frames = kBridgeChunkFrames;
    std::vector<float> chunk;  // interleaved host frames waiting for the next pass
    int chunk_fill = 0;
    std::vector<float> mid;  // 44.1 kHz frames of one pass, interleaved
    int mid_capacity = 0;    // frames
    std::vector<std::int16_t> mid_pcm;
    std::vector<float> back;  // host-rate frames of one pass
    int back_capacity = 0;
    std::vector<float> fifo;  // ring of interleaved output frames
    int fifo_capacity = 0;
    int fifo_read = 0;
    int fifo_count = 0;
    int latency_frames = 0;
    control::SignalTap* tap = nullptr;  // takes the chain's output blocks when set
    std::uint64_t underruns = 0;        // frames played as silence for want of output; 0 by construction
    std::uint64_t overruns = 0;         // frames dropped for want of room; 0 by construction
};

// Makes both resamplers for the host's rate and warms them with zeros, so
// that run time neither allocates nor waits; sets latency_frames. False when
// libsoxr refuses. The control side only.
bool bridge_start(RateBridge& b, double host_rate);

// The audio thread: frames of stereo host audio through the chain; input
// gain applied before the resampler (NaN and infinities count as 0), output
// gain after.
void bridge_run(RateBridge& b, Processor& chain, const float* in_l, const float* in_r, float* out_l, float* out_r,
                std::uint32_t frames, float input_gain, float output_gain);

}  // namespace qv::plugin
