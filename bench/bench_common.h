#pragma once
// What the benchmarks of the chain and of the ceiling share: the block a host
// hands over, the dense programme, processors of a process, and the counters.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/processor.h"
#include "settings/startup.h"
#include "tools/demo_programme.h"

namespace qv::bench {

constexpr int kRate = 44100;
constexpr int kBlockFrames = 4096;

// 24 s: the three sections of the dense programme once.
inline const std::vector<std::int16_t>& dense_signal() {
    static const std::vector<std::int16_t> signal = demo::dense_programme(24);
    return signal;
}

// The default process with configure applied to its globals.
inline std::unique_ptr<Processor> make(void (*configure)(GlobalParams&), const ProcessorOptions& options = {}) {
    ProcessParams p;
    fill_defaults(p);
    configure(p.global);
    return make_processor(p, options);
}

inline void default_process(GlobalParams&) {}

// Frames per second, the realtime factor at 44.1 kHz and the microseconds
// one second of stereo audio costs.
inline void count_frames(benchmark::State& state, std::int64_t frames) {
    state.counters["frames/s"] = benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
    state.counters["realtime_x"] = benchmark::Counter(static_cast<double>(frames) / kRate, benchmark::Counter::kIsRate);
    state.counters["us_per_audio_s"] = benchmark::Counter(static_cast<double>(frames) / kRate * 1e-6,
                                                          benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

}  // namespace qv::bench
