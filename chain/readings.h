#pragma once
// Values the chain publishes for the panel's timer. The chain only ever raises
// the peaks; the panel reads and decays them. Each is one aligned word, written
// and read through the relaxed accessors below so that the two threads share
// them without a lock and without undefined behaviour.
#include <atomic>
#include <cstdint>

#include "dsp/section_state.h"

namespace qv {

struct Readings {
    // Bits 8..15 set to 0xFF by a block of a refused format, bits 8..31 cleared
    // by an accepted one; bits 0..7 belong to the panel.
    std::int32_t format_status;
    double input_peak;         // largest |sample| after the input low-pass
    double output_peak;        // largest |16-bit sample| written
    double stereo_image_peak;  // largest |right - left| after the stereo expander
    double stereo_activity;    // stereo expander's limiter gain, 1 = not limiting
    std::int32_t agc_gated;    // 1 while the AGC gate holds a band
    double master_agc_gain;
    double bass_agc_gain;
    double clip_peak_in;    // dual-band output, ahead of the clippers
    double clip_peak_out;   // after the split-band clippers
    double bass_clip_peak;  // depth of the final clipper
    // Gain computer outputs of the last frame of the last block.
    double section_gain[kBands][kSections];
    double band_slow_level[kBands];  // the compressors' slow detectors; the meter takes the gain
    double band_composite_gain[kBands];
};

static_assert(std::atomic_ref<double>::required_alignment <= alignof(double));
static_assert(std::atomic_ref<double>::is_always_lock_free);
static_assert(std::atomic_ref<std::int32_t>::is_always_lock_free);

template <typename T>
inline T read_word(const T& word) {
    return std::atomic_ref<T>(const_cast<T&>(word)).load(std::memory_order_relaxed);
}

template <typename T>
inline void publish(T& word, T value) {
    std::atomic_ref<T>(word).store(value, std::memory_order_relaxed);
}

// Sets or clears bits of a word that both threads own parts of, without
// touching the other bits (format_status).
inline void set_bits(std::int32_t& word, std::int32_t bits) {
    std::atomic_ref<std::int32_t>(word).fetch_or(bits, std::memory_order_relaxed);
}
inline void clear_bits(std::int32_t& word, std::int32_t bits) {
    std::atomic_ref<std::int32_t>(word).fetch_and(~bits, std::memory_order_relaxed);
}

// peak <- max(peak, value); a lost race with the panel's decay costs one tick.
inline void raise_peak(double& peak, double value) {
    std::atomic_ref<double> word(peak);
    if (value > word.load(std::memory_order_relaxed)) word.store(value, std::memory_order_relaxed);
}

}  // namespace qv
