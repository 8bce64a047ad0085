#include "plugins/rate_bridge.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "plugins/pcm16.h"

namespace qv::plugin {

namespace {

void bridge_free(RateBridge& b) {
    if (b.up != nullptr) soxr_delete(b.up);
    if (b.down != nullptr) soxr_delete(b.down);
    b.up = b.down = nullptr;
}

void fifo_push(RateBridge& b, const float* frames, int count) {
    for (int i = 0; i < count; ++i) {
        if (b.fifo_count == b.fifo_capacity) {
            b.overruns += static_cast<std::uint64_t>(count - i);
            return;
        }
        const int w = (b.fifo_read + b.fifo_count) % b.fifo_capacity;
        b.fifo[2 * w] = frames[2 * i];
        b.fifo[2 * w + 1] = frames[2 * i + 1];
        ++b.fifo_count;
    }
}

// One chunk through up, the chain (when given) and down; the host-rate
// frames that come out go to the FIFO. Returns their number.
int bridge_pass(RateBridge& b, Processor* chain, int* mid_out = nullptr) {
    std::size_t used = 0, made = 0;
    soxr_process(b.up, b.chunk.data(), static_cast<std::size_t>(b.chunk_frames), &used, b.mid.data(),
                 static_cast<std::size_t>(b.mid_capacity), &made);
    const int mid_frames = static_cast<int>(made);
    if (mid_out != nullptr) *mid_out = mid_frames;
    if (chain != nullptr && mid_frames > 0) {
        for (int i = 0; i < 2 * mid_frames; ++i) b.mid_pcm[i] = to_pcm16(b.mid[i], 1.0f);
        processor_run(*chain, b.mid_pcm.data(), mid_frames, 2);
        if (b.tap != nullptr) control::tap_output(*b.tap, b.mid_pcm.data(), static_cast<std::size_t>(mid_frames));
        for (int i = 0; i < 2 * mid_frames; ++i) b.mid[i] = from_pcm16(b.mid_pcm[i], 1.0f);
    }
    soxr_process(b.down, b.mid.data(), static_cast<std::size_t>(mid_frames), &used, b.back.data(),
                 static_cast<std::size_t>(b.back_capacity), &made);
    fifo_push(b, b.back.data(), static_cast<int>(made));
    return static_cast<int>(made);
}

// x * gain clamped to the 16-bit range, as the direct path at 44.1 kHz
// clamps it; NaN and infinities count as 0. Nothing outside full scale
// reaches the upsampler: a huge sample would ring through its whole filter
// length and come back as a burst of clipped full-scale noise.
float sanitize(float x, float gain) {
    if (!std::isfinite(x)) return 0.0f;
    return static_cast<float>(std::clamp(static_cast<double>(x) * gain, -1.0, 32767.0 / 32768.0));
}

}  // namespace

RateBridge::~RateBridge() { bridge_free(*this); }

bool bridge_start(RateBridge& b, double host_rate) {
    bridge_free(b);
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    // One thread: libsoxr would otherwise start OpenMP workers. DFT blocks
    // of 2^7..2^9 points instead of 2^10..2^17: the same filters, output in
    // smaller bursts, hence a smaller FIFO and latency.
    soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
    runtime.log2_min_dft_size = 7;
    runtime.log2_large_dft_size = 9;
    soxr_error_t err = nullptr;
    b.up = soxr_create(host_rate, 44100.0, 2, &err, &io, &quality, &runtime);
    if (err != nullptr) return false;
    b.down = soxr_create(44100.0, host_rate, 2, &err, &io, &quality, &runtime);
    if (err != nullptr) return false;

    // Room for a whole burst of either resampler (at most a few thousand
    // frames between 8 and 768 kHz), so that neither keeps output back.
    const int c = b.chunk_frames;
    b.mid_capacity = 16384;
    b.back_capacity = 16384;
    b.chunk.assign(2 * static_cast<std::size_t>(c), 0.0f);
    b.mid.assign(2 * static_cast<std::size_t>(b.mid_capacity), 0.0f);
    b.mid_pcm.assign(2 * static_cast<std::size_t>(b.mid_capacity), 0);
    b.back.assign(2 * static_cast<std::size_t>(b.back_capacity), 0.0f);
    b.chunk_fill = 0;

    // Warm both resamplers with a second of zero chunks, so their buffers
    // reach full size here and not in run(), and find the largest lag L of
    // frames out behind frames in at a chunk boundary. libsoxr works in
    // blocks, so the lag swings by up to one block of either resampler; the
    // largest swing seen is added to L against phases of the two blocks not
    // met in the warm-up. A frame that waits in the chunk leaves after at
    // most chunk - 1 more frames; with the FIFO pre-filled to
    // chunk - 1 + L - (the lag now) it never runs dry, and every input frame
    // comes out exactly chunk - 1 + L frames later: output frame m of the
    // resamplers is input time m, so that delay is whole frames.
    const int warm_chunks = std::max(64, static_cast<int>(std::ceil(host_rate / c)));
    std::int64_t out_total = 0;
    std::int64_t lag_max = 0;
    int burst_out = 0, burst_mid = 0;
    b.fifo_capacity = b.back_capacity;
    b.fifo.assign(2 * static_cast<std::size_t>(b.fifo_capacity), 0.0f);
    for (int j = 1; j <= warm_chunks; ++j) {
        b.fifo_read = b.fifo_count = 0;
        int mid_frames = 0;
        const int made = bridge_pass(b, nullptr, &mid_frames);
        out_total += made;
        burst_out = std::max(burst_out, made);
        burst_mid = std::max(burst_mid, mid_frames);
        lag_max = std::max<std::int64_t>(lag_max, static_cast<std::int64_t>(j) * c - out_total);
    }
    const int swing = std::max(burst_out, static_cast<int>(std::ceil(burst_mid * host_rate / 44100.0)));
    const std::int64_t lag_now = static_cast<std::int64_t>(warm_chunks) * c - out_total;
    b.latency_frames = static_cast<int>(c - 1 + lag_max + swing);
    const int prefill = static_cast<int>(b.latency_frames - lag_now);

    b.fifo_capacity = prefill + 2 * swing + 2 * c;
    b.fifo.assign(2 * static_cast<std::size_t>(b.fifo_capacity), 0.0f);
    b.fifo_read = 0;
    b.fifo_count = prefill;
    b.underruns = b.overruns = 0;
    return true;
}

void bridge_run(RateBridge& b, Processor& chain, const float* in_l, const float* in_r, float* out_l, float* out_r,
                std::uint32_t frames, float input_gain, float output_gain) {
    for (std::uint32_t done = 0; done < frames;) {
        const int k = static_cast<int>(std::min<std::uint32_t>(b.chunk_frames - b.chunk_fill, frames - done));
        for (int i = 0; i < k; ++i) {
            b.chunk[2 * (b.chunk_fill + i)] = sanitize(in_l[done + i], input_gain);
            b.chunk[2 * (b.chunk_fill + i) + 1] = sanitize(in_r[done + i], input_gain);
        }
        b.chunk_fill += k;
        if (b.chunk_fill == b.chunk_frames) {
            bridge_pass(b, &chain);
            b.chunk_fill = 0;
        }
        for (int i = 0; i < k; ++i) {
            float l = 0.0f, r = 0.0f;
            if (b.fifo_count > 0) {
                l = b.fifo[2 * b.fifo_read];
                r = b.fifo[2 * b.fifo_read + 1];
                b.fifo_read = b.fifo_read + 1 == b.fifo_capacity ? 0 : b.fifo_read + 1;
                --b.fifo_count;
            } else {
                ++b.underruns;
            }
            out_l[done + i] = std::clamp(l, -kBridgeOutputPeak, kBridgeOutputPeak) * output_gain;
            out_r[done + i] = std::clamp(r, -kBridgeOutputPeak, kBridgeOutputPeak) * output_gain;
        }
        done += static_cast<std::uint32_t>(k);
    }
}

}  // namespace qv::plugin
