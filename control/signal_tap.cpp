#include "control/signal_tap.h"

#include <algorithm>

namespace qv::control {

namespace {

constexpr std::size_t kMask = kTapSamples - 1;

// n samples between the ring at position at and a linear buffer, in the
// ring's order, across its end when they wrap.
void copy_in(std::int16_t* ring, std::uint64_t at, const std::int16_t* from, std::size_t n) {
    const std::size_t start = static_cast<std::size_t>(at & kMask);
    const std::size_t first = std::min(n, kTapSamples - start);
    std::copy_n(from, first, ring + start);
    std::copy_n(from + first, n - first, ring);
}

void copy_out(const std::int16_t* ring, std::uint64_t at, std::int16_t* to, std::size_t n) {
    const std::size_t start = static_cast<std::size_t>(at & kMask);
    const std::size_t first = std::min(n, kTapSamples - start);
    std::copy_n(ring + start, first, to);
    std::copy_n(ring, n - first, to + first);
}

}  // namespace

void tap_input(SignalTap& tap, const std::int16_t* samples, std::size_t count) {
    std::int32_t peak = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const std::int32_t v = samples[i] < 0 ? -static_cast<std::int32_t>(samples[i]) : samples[i];
        peak = std::max(peak, v);
    }
    std::int32_t held = tap.input_peak.load(std::memory_order_relaxed);
    while (peak > held && !tap.input_peak.compare_exchange_weak(held, peak, std::memory_order_relaxed)) {
    }
}

void tap_output(SignalTap& tap, const std::int16_t* samples, std::size_t frames) {
    const std::size_t n = frames * static_cast<std::size_t>(tap.channels);
    const std::uint64_t w = tap.written.load(std::memory_order_relaxed);
    const std::uint64_t r = tap.read.load(std::memory_order_acquire);
    if (n > kTapSamples - static_cast<std::size_t>(w - r)) {
        tap.dropped_blocks.fetch_add(1, std::memory_order_relaxed);
    } else {
        copy_in(tap.ring.get(), w, samples, n);
        tap.written.store(w + n, std::memory_order_release);
    }
    tap.blocks.fetch_add(1, std::memory_order_relaxed);
}

std::size_t tap_take(SignalTap& tap, std::int16_t* out, std::size_t max_samples) {
    const std::uint64_t r = tap.read.load(std::memory_order_relaxed);
    const std::uint64_t w = tap.written.load(std::memory_order_acquire);
    const std::size_t frame = static_cast<std::size_t>(tap.channels);
    const std::size_t n = std::min(static_cast<std::size_t>(w - r), max_samples / frame * frame);
    copy_out(tap.ring.get(), r, out, n);
    tap.read.store(r + n, std::memory_order_release);
    return n;
}

std::int32_t tap_take_input_peak(SignalTap& tap) { return tap.input_peak.exchange(0, std::memory_order_relaxed); }

}  // namespace qv::control
