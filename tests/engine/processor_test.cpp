// The processor as front ends own it: its latency, its independence from
// other instances, the floating-point modes it leaves to its caller.
#include "engine/processor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

#include "platform/fp_mode.h"
#include "settings/startup.h"
#include "tests/chain/chain_rig.h"
#include "tests/engine/fp_run.h"
#include "tests/host_fp_env.h"

namespace qv {
namespace {

ProcessParams defaults() {
    ProcessParams p;
    fill_defaults(p);
    return p;
}

// Index of the first frame whose |left| exceeds threshold, or -1.
long onset(const std::vector<std::int16_t>& v, int threshold) {
    for (std::size_t n = 0; 2 * n < v.size(); ++n)
        if (std::abs(v[2 * n]) > threshold) return static_cast<long>(n);
    return -1;
}

TEST(Processor, LatencyIsTheMeasuredDelayOfAnImpulse) {
    struct Case {
        std::int32_t lookahead_ms;
        std::int32_t options;
        std::int32_t bypass_all;
        int expected;
    } cases[] = {
        {10, 0, 0, 884}, {0, 0, 0, 2}, {3, 0, 0, 2 * 133}, {100, 0, 0, 2 * 4411}, {10, option::multiband_bypass, 0, 1},
        {10, 0, 1, 0},
    };
    for (const Case& c : cases) {
        ProcessParams p = defaults();
        p.global.lookahead_ms = c.lookahead_ms;
        p.global.option_flags = c.options;
        p.global.bypass_all = c.bypass_all;
        p.global.agc_on = 0;  // a fixed gain, so the impulse's size does not depend on history
        auto proc = make_processor(p);
        EXPECT_EQ(processor_latency_frames(*proc), c.expected) << c.lookahead_ms;
        constexpr int kAt = 3000;
        std::vector<std::int16_t> v(2 * 16000, 0);
        v[2 * kAt] = v[2 * kAt + 1] = 20000;
        processor_run(*proc, v.data(), 16000, 2);
        // The filters spread the impulse: its onset may trail the pure delay by a frame or two.
        const long at = onset(v, 200);
        EXPECT_GE(at - kAt, c.expected) << c.lookahead_ms << " ms, options " << c.options;
        EXPECT_LE(at - kAt, c.expected + 2) << c.lookahead_ms << " ms, options " << c.options;
    }
}

// The ceiling after the chain: the chain's samples, delayed by the
// limiter's latency and untouched below the ceiling; no sample above it on
// loud programme; a new ceiling heard from the next block; the lowest gain
// for the meters.
TEST(Processor, CeilingDelaysTheChainAndHoldsItsLevel) {
    constexpr int kFrames = 3 * 44100, kLag = kTruePeakLatencyFrames;
    ProcessParams quiet_process = defaults();
    quiet_process.global.output_level_pct = 10;
    for (const bool loud : {false, true}) {
        const ProcessParams p = loud ? defaults() : quiet_process;
        auto plain = make_processor(p);
        auto limited = make_processor(p, ProcessorOptions{true, -1.0});
        EXPECT_EQ(processor_latency_frames(*limited), processor_latency_frames(*plain) + kLag);
        std::vector<std::int16_t> a = test::programme(kFrames, 5), b = a;
        for (int at = 0; at < kFrames; at += 441) {
            processor_run(*plain, a.data() + 2 * at, 441, 2);
            processor_run(*limited, b.data() + 2 * at, 441, 2);
        }
        const double ceiling = 32768.0 * std::pow(10.0, -1.0 / 20);
        int above = 0, differ = 0;
        for (int n = kLag; n < kFrames; ++n)
            for (int c = 0; c < 2; ++c) {
                above += std::abs(b[2 * n + c]) > ceiling;
                differ += b[2 * n + c] != a[2 * (n - kLag) + c];
            }
        const double gain = processor_take_readings(*limited).ceiling_gain;
        if (loud) {
            EXPECT_EQ(above, 0);
            EXPECT_GT(differ, 0);
            EXPECT_LT(gain, 0.98);
        } else {
            EXPECT_EQ(differ, 0) << "below the ceiling the chain's samples pass, delayed";
            EXPECT_EQ(gain, 1.0);
        }
        EXPECT_EQ(processor_take_readings(*limited).ceiling_gain, 1.0) << "taken";
    }
    // A lower ceiling from the next block on.
    auto limited = make_processor(defaults(), ProcessorOptions{true, 0.0});
    std::vector<std::int16_t> v = test::programme(kFrames, 6);
    processor_run(*limited, v.data(), kFrames / 2, 2);
    processor_set_ceiling(*limited, -6.0);
    processor_run(*limited, v.data() + kFrames, kFrames / 2, 2);
    int peak = 0;
    for (int n = kFrames / 2 + 4410; n < kFrames; ++n) peak = std::max(peak, std::abs(int{v[2 * n]}));
    EXPECT_LE(peak, 32768.0 * std::pow(10.0, -6.0 / 20));
    EXPECT_GT(peak, 32768.0 * std::pow(10.0, -7.0 / 20));
}

TEST(Processor, InstancesOnThreadsGiveWhatEachGivesAlone) {
    constexpr int kInstances = 3, kFrames = 44100;
    std::vector<ProcessParams> processes(kInstances, defaults());
    processes[1].global.option_flags |= option::track_rms | option::am_filter;
    processes[2].global.bass_eq_gain_db = 12;
    processes[2].global.preemphasis_on = 1;
    std::vector<std::vector<std::int16_t>> alone(kInstances), together(kInstances);
    for (int i = 0; i < kInstances; ++i) {
        alone[i] = together[i] = test::programme(kFrames, 100 + i);
        auto proc = make_processor(processes[i]);
        processor_run(*proc, alone[i].data(), kFrames, 2);
    }
    std::vector<std::thread> threads;
    for (int i = 0; i < kInstances; ++i)
        threads.emplace_back([&, i] {
            auto proc = make_processor(processes[i]);
            for (int at = 0; at < kFrames; at += 441)
                processor_run(*proc, together[i].data() + 2 * at, std::min(441, kFrames - at), 2);
        });
    for (auto& t : threads) t.join();
    for (int i = 0; i < kInstances; ++i) EXPECT_EQ(together[i], alone[i]) << i;
}

#if QV_X86
// A host thread in another floating-point environment (rounding, x87
// precision, exceptions unmasked, flush-to-zero) makes, updates, loads and
// runs a processor: the same samples and derived values as in the default
// environment, no exception, and every call gives the environment back.
TEST(Processor, CallerFloatingPointModesAreRestoredAndDoNotChangeTheSound) {
    ProcessParams first = defaults();
    first.global.bass_eq_gain_db = 12;
    first.global.option_flags |= option::bass_eq_high_q;
    ProcessParams updated = first;
    updated.global.bass_eq_freq_hz = 72;
    updated.global.option_flags |= option::bass_eq_shelving;
    updated.global.output_level_pct = 80;
    updated.global.lookahead_ms = 3;
    ProcessParams loaded = defaults();
    loaded.global.option_flags |= option::track_rms | option::four_bands | option::am_filter;
    loaded.global.preemphasis_on = 1;
    loaded.global.density_overdrive_db = 6;
    constexpr int kFrames = 44100, kBlock = 441;
    const auto input = test::programme(kFrames, 5);

    const auto render = [&](test::HostFpCaller& call) {
        test::FpRun r{input, {}, 0};
        auto proc = call([&] { return make_processor(first); });
        r.derived.push_back(test::derived_bits(proc->settings));
        for (int at = 0; at < kFrames; at += kBlock) {
            if (at == kFrames / 4) {
                call([&] { processor_update(*proc, updated); });
                r.derived.push_back(test::derived_bits(proc->settings));
            }
            if (at == kFrames / 2) {
                call([&] { processor_set_test_tone(*proc, true); });
                call([&] { processor_set_test_tone(*proc, false); });
                call([&] { processor_load(*proc, loaded); });
                r.derived.push_back(test::derived_bits(proc->settings));
            }
            if (at == 3 * kFrames / 4) {
                proc->settings.live.global.output_level_pct = 90;
                call([&] { processor_publish(*proc); });
            }
            call([&] { processor_run(*proc, r.out.data() + 2 * at, kBlock, 2); });
        }
        call([&] { return processor_readings(*proc); });
        call([&] { return processor_take_readings(*proc); });
        r.latency_frames = call([&] { return processor_latency_frames(*proc); });
        return r;
    };

    test::expect_same_in_every_env(render);
}
#endif

}  // namespace
}  // namespace qv
