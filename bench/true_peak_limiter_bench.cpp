// Cost of the true-peak ceiling at -1 dBTP alone (engine/ceiling: the
// limiter with the conversions of the chain's 16-bit samples to doubles and
// back), on the default chain's output of the dense programme, what it sees
// on air. BM_DefaultProcessDenseCeiling (chain_bench.cpp) runs it after the
// chain.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "bench/bench_common.h"
#include "engine/ceiling.h"

namespace {

using namespace qv;
using namespace qv::bench;

const std::vector<std::int16_t>& chain_output() {
    static const std::vector<std::int16_t> out = [] {
        std::vector<std::int16_t> v = dense_signal();
        auto m = make(default_process);
        for (std::size_t at = 0; at + 2 * kBlockFrames <= v.size(); at += 2 * kBlockFrames)
            processor_run(*m, v.data() + at, kBlockFrames, 2);
        return v;
    }();
    return out;
}

void BM_TruePeakLimiterOnChainOutput(benchmark::State& state) {
    const std::vector<std::int16_t>& signal = chain_output();
    auto ceiling = std::make_unique<CeilingStage>();
    ceiling_start(*ceiling, true, -1.0);
    std::vector<std::int16_t> block(2 * kBlockFrames);
    std::size_t at = 0;
    std::int64_t frames = 0;
    for (auto _ : state) {
        if (at + block.size() > signal.size()) at = 0;
        std::memcpy(block.data(), signal.data() + at, block.size() * sizeof(std::int16_t));
        at += block.size();
        ceiling_run(*ceiling, block.data(), kBlockFrames, 2);
        benchmark::DoNotOptimize(block.data());
        frames += kBlockFrames;
    }
    count_frames(state, frames);
}

BENCHMARK(BM_TruePeakLimiterOnChainOutput)->Unit(benchmark::kMicrosecond)->MinTime(2.0);

}  // namespace
