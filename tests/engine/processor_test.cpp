// The processor as front ends own it: its latency, its independence from
// other instances, the floating-point modes it leaves to its caller, and the
// module instance under a panel worked while audio plays.
#include "engine/processor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "host/instance.h"
#include "panel/control_table.h"
#include "platform/fp_mode.h"
#include "platform/posix/headless_dialog.h"
#include "platform/profile.h"
#include "settings/derive.h"
#include "settings/host_ini.h"
#include "settings/process_file.h"
#include "settings/startup.h"
#include "tests/chain/chain_rig.h"
#include "tests/host_fp_env.h"
#include "tests/temp_host_dir.h"

namespace qv {
namespace {

namespace hd = platform::headless;

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
// Bit patterns of the derived values the chain reads, the coefficients of
// every section included: a coefficient one unit in the last place off may
// not show in 16-bit output.
std::vector<std::uint64_t> derived_bits(const Settings& s) {
    const DerivedValues& d = s.derived;
    const BiquadCoefs& eq = d.bass_eq_coefs;
    std::vector<std::uint64_t> bits;
    for (double x : {d.overdrive_gain, d.density_gain, d.agc_level_floor, d.bass_attack_coef, d.bass_release_coef,
                     d.master_attack_coef, d.master_release_coef, d.bass_mix_weight, d.master_mix_weight,
                     d.multiband_depth, eq.b0, eq.b1, eq.b2, eq.a1, eq.a2})
        bits.push_back(std::bit_cast<std::uint64_t>(x));
    std::uint64_t words[sizeof s.section_coefs / 8];
    std::memcpy(words, s.section_coefs, sizeof words);
    bits.insert(bits.end(), std::begin(words), std::end(words));
    return bits;
}

long samples_differing(const std::vector<std::int16_t>& a, const std::vector<std::int16_t>& b) {
    long n = std::abs(static_cast<long>(a.size()) - static_cast<long>(b.size()));
    for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i) n += a[i] != b[i];
    return n;
}

// What a host sees of a run: the samples, and the derived values after each
// call that derives (a coefficient one unit in the last place off may not
// show in the samples).
struct FpRun {
    std::vector<std::int16_t> out;
    std::vector<std::vector<std::uint64_t>> derived;
    int latency_frames = 0;
};

void expect_same_run(const FpRun& run, const FpRun& reference, const test::HostFpCaller& call, const std::string& env) {
    EXPECT_EQ(samples_differing(run.out, reference.out), 0) << env;
    EXPECT_EQ(run.latency_frames, reference.latency_frames) << env;
    ASSERT_EQ(run.derived.size(), reference.derived.size()) << env;
    for (std::size_t k = 0; k < run.derived.size(); ++k)
        EXPECT_TRUE(run.derived[k] == reference.derived[k]) << env << ": derived values after step " << k;
    EXPECT_EQ(call.changed(), 0) << env << ": first left " << call.first_change();
}

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
        FpRun r{input, {}, 0};
        auto proc = call([&] { return make_processor(first); });
        r.derived.push_back(derived_bits(proc->settings));
        for (int at = 0; at < kFrames; at += kBlock) {
            if (at == kFrames / 4) {
                call([&] { processor_update(*proc, updated); });
                r.derived.push_back(derived_bits(proc->settings));
            }
            if (at == kFrames / 2) {
                call([&] { processor_set_test_tone(*proc, true); });
                call([&] { processor_set_test_tone(*proc, false); });
                call([&] { processor_load(*proc, loaded); });
                r.derived.push_back(derived_bits(proc->settings));
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

    const auto envs = test::host_fp_envs();
    test::HostFpCaller default_env(envs[0]);
    const FpRun reference = render(default_env);
    for (const test::HostFpEnv& env : envs) {
        test::HostFpCaller call(env);
        expect_same_run(render(call), reference, call, env.name);
    }
}
#endif

// ---- the module instance: panel and audio on two threads

struct Module : ::testing::Test {
    test::TempHostDir host;
    std::unique_ptr<Quorvane> q = std::make_unique<Quorvane>();
    DspModule module{};
    void TearDown() override {
        if (q->panel.panel_window || q->panel.about_window) instance_quit(*q, &module);
    }
    void run(std::vector<std::int16_t>& v, int block = 441) {
        const int frames = static_cast<int>(v.size() / 2);
        for (int at = 0; at < frames; at += block)
            instance_modify_samples(*q, v.data() + 2 * at, std::min(block, frames - at), 16, 2, 44100);
    }
};

double window_rms_db(const std::vector<std::int16_t>& v, std::size_t first, std::size_t frames) {
    double sum = 0;
    for (std::size_t n = first; n < first + frames; ++n) sum += double(v[2 * n]) * v[2 * n];
    return 10 * std::log10(sum / frames + 1e-9);
}

TEST_F(Module, OpeningThePanelDoesNotMoveTheLevelOnAir) {
    // A quiet, dynamic programme: the AGC rides far from its largest gain.
    auto quiet = [] {
        auto v = test::programme(3 * 44100, 7);
        for (auto& x : v) x = static_cast<std::int16_t>(x / 20);
        return v;
    };
    auto with_config = quiet(), without = quiet();
    platform::profile_write_string(kIniSection, kKeyVisible, "0", host.path("winamp.ini").c_str());
    for (auto* v : {&without, &with_config}) {
        q = std::make_unique<Quorvane>();
        instance_init(*q, &module);
        std::vector<std::int16_t> first(v->begin(), v->begin() + 2 * 2 * 44100);
        run(first);
        if (v == &with_config) instance_config(*q, &module);
        std::vector<std::int16_t> rest(v->begin() + 2 * 2 * 44100, v->end());
        run(rest);
        std::copy(rest.begin(), rest.end(), v->begin() + 2 * 2 * 44100);
        instance_quit(*q, &module);
    }
    for (int w = 0; w < 5; ++w) {
        const std::size_t at = 2 * 44100 + w * 8820;
        EXPECT_NEAR(window_rms_db(with_config, at, 8820), window_rms_db(without, at, 8820), 1.0) << w;
    }
}

#if QV_X86
// The module worked by a host whose threads run in another floating-point
// environment: Init and blocks, Config, slider moves, a High Q click and a
// meter tick, a process Load through the selector, Quit. The samples are
// those of the default environment, nothing traps, and every call (the
// panel's notifications included) gives the environment back.
TEST_F(Module, HostFloatingPointModesDoNotChangeTheSound) {
    ProcessParams stored = defaults();
    stored.global.bass_eq_gain_db = 9;
    stored.global.bass_eq_freq_hz = 72;
    stored.global.option_flags |= option::bass_eq_shelving | option::track_rms | option::input_lpf_15k;
    stored.global.preemphasis_on = 1;
    ASSERT_TRUE(write_process_file(host.path("qv$1.dat").c_str(), stored));
    constexpr int kFrames = 44100, kBlock = 441;
    const auto input = test::programme(kFrames, 21);
    const std::string ini = host.path("winamp.ini");
    const int sliders[] = {1007, 1070, 1000, 1024, 1169, 1003, 1094};

    const auto render = [&](test::HostFpCaller& call) {
        // Every run starts from process 0 with the panel closed.
        platform::profile_write_string(kIniSection, kKeyVisible, "0", ini.c_str());
        platform::profile_write_string(kIniSection, kKeyProcessNumber, "0", ini.c_str());
        q = std::make_unique<Quorvane>();
        FpRun r{input, {}, 0};
        int at = 0;
        const auto play = [&](int until) {
            for (; at < until; at += kBlock)
                call([&] { return instance_modify_samples(*q, r.out.data() + 2 * at, kBlock, 16, 2, 44100); });
        };
        call([&] { return instance_init(*q, &module); });
        r.derived.push_back(derived_bits(q->core.settings));
        play(kFrames / 4);
        call([&] { instance_config(*q, &module); });
        r.derived.push_back(derived_bits(q->core.settings));
        play(kFrames / 2);
        void* dlg = q->panel.panel_window;
        for (int id : sliders) {
            const int pos = (hd::slider_min(dlg, id) + 3 * hd::slider_max(dlg, id)) / 4;
            call([&] { hd::move_slider(dlg, id, pos); });
        }
        call([&] { hd::click(dlg, 1138); });  // High Q
        call([&] { hd::tick(dlg, kPanelTimerId); });
        r.derived.push_back(derived_bits(q->core.settings));
        play(3 * kFrames / 4);
        call([&] { hd::click(dlg, 1127); });  // "+": process 1 staged
        call([&] { hd::click(dlg, 1102); });  // Load
        r.derived.push_back(derived_bits(q->core.settings));
        play(kFrames);
        EXPECT_EQ(q->core.settings.selection.on_air_process, 1);
        call([&] { instance_quit(*q, &module); });
        return r;
    };

    const auto envs = test::host_fp_envs();
    test::HostFpCaller default_env(envs[0]);
    const FpRun reference = render(default_env);
    for (const test::HostFpEnv& env : envs) {
        test::HostFpCaller call(env);
        expect_same_run(render(call), reference, call, env.name);
    }
}
#endif

// One thread plays while another works the panel: sliders, bass EQ shape
// and High Q, mutes and test tone, browsing, Load and Save, closing and
// reopening. Under ThreadSanitizer this is the race detector's workload.
TEST_F(Module, PanelWorkedWhileAudioPlays) {
    for (int n : {1, 2, 3}) {
        ProcessParams p = defaults();
        p.global.bass_eq_gain_db = 4 * n;
        p.global.lookahead_ms = 3 * n;
        p.global.option_flags |= n == 2 ? option::bass_eq_shelving | option::bass_eq_high_q : option::track_rms;
        ASSERT_TRUE(write_process_file(host.path("qv$" + std::to_string(n) + ".dat").c_str(), p));
    }
    instance_init(*q, &module);
    ASSERT_NE(q->panel.panel_window, nullptr);

    std::atomic<bool> stop{false};
    std::atomic<long> blocks{0};
    std::atomic<int> worst{0};
    std::thread audio([&] {
        auto programme = test::programme(44100, 3);
        std::vector<std::int16_t> block(2 * 441);
        for (std::size_t at = 0; !stop; at = (at + block.size()) % programme.size()) {
            std::copy_n(programme.begin() + static_cast<std::ptrdiff_t>(at), block.size(), block.begin());
            instance_modify_samples(*q, block.data(), 441, 16, 2, 44100);
            for (std::int16_t x : block) worst = std::max<int>(worst, std::abs(x));
            ++blocks;
        }
    });

    std::vector<int> sliders, buttons;
    for (const platform::ControlDef& c : kPanelControls) {
        if (c.id <= 0 || find_panel_control(c.id) == nullptr) continue;
        if (c.kind == platform::ControlKind::trackbar) sliders.push_back(c.id);
        if (c.kind == platform::ControlKind::check_box || c.kind == platform::ControlKind::radio_button ||
            c.kind == platform::ControlKind::push_button)
            buttons.push_back(c.id);
    }
    std::mt19937 rng(11);
    long actions = 0;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (std::chrono::steady_clock::now() < until) {
        void* dlg = q->panel.panel_window;
        const unsigned pick = rng() % 10;
        if (pick == 0) {
            hd::sys_command(dlg, platform::kSysCommandClose);
            instance_config(*q, &module);
        } else if (pick < 5) {
            const int id = sliders[rng() % sliders.size()];
            const int lo = hd::slider_min(dlg, id), hi = hd::slider_max(dlg, id);
            hd::move_slider(dlg, id, lo + static_cast<int>(rng() % static_cast<unsigned>(hi - lo + 1)));
        } else if (pick < 9) {
            hd::click(dlg, buttons[rng() % buttons.size()]);
        } else {
            hd::tick(dlg, kPanelTimerId);
        }
        ++actions;
    }
    stop = true;
    audio.join();
    std::printf("  %ld panel actions while %ld blocks played\n", actions, blocks.load());
    EXPECT_GT(blocks.load(), 100);
    EXPECT_GT(actions, 100);
    EXPECT_LE(worst.load(), 32760);
}

}  // namespace
}  // namespace qv
