#pragma once
// What a processor's audio thread hands the station monitor
// (control/station_monitor.h): the peak of each input block, the output
// blocks themselves and a count of blocks. A single-producer single-consumer
// ring of 16-bit samples that the audio side fills without waiting, locking,
// allocating or calling the system: a block that does not fit is dropped
// whole and counted, never waited for.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace qv::control {

// 2^17 samples: 1.5 s of stereo at 44.1 kHz, fifteen times what the
// monitor takes every 100 ms.
constexpr std::size_t kTapSamples = std::size_t{1} << 17;

struct SignalTap {
    int channels = 2;  // of every block, fixed
    std::unique_ptr<std::int16_t[]> ring = std::make_unique<std::int16_t[]>(kTapSamples);
    // Samples written and read since the start; written - read is what waits.
    std::atomic<std::uint64_t> written{0};  // audio thread
    std::atomic<std::uint64_t> read{0};     // monitor thread
    std::atomic<std::uint64_t> blocks{0};   // output blocks processed, dropped or not
    std::atomic<std::uint64_t> dropped_blocks{0};
    // Highest |input sample| since the monitor last took it (0..32768).
    std::atomic<std::int32_t> input_peak{0};
};

// --- audio thread ---

// Raises the input peak with count samples of the block about to be processed.
void tap_input(SignalTap& tap, const std::int16_t* samples, std::size_t count);
// The processed block: frames interleaved frames of tap.channels.
void tap_output(SignalTap& tap, const std::int16_t* samples, std::size_t frames);

// --- monitor thread ---

// Moves up to max_samples waiting samples (whole frames) to out; their count.
std::size_t tap_take(SignalTap& tap, std::int16_t* out, std::size_t max_samples);
// The input peak since the last take, and 0 in its place.
std::int32_t tap_take_input_peak(SignalTap& tap);

}  // namespace qv::control
