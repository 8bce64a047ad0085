// The processor as front ends own it: its latency, its independence from
// other instances, the floating-point modes it leaves to its caller, and the
// module instance under a panel worked while audio plays.
#include "host/processor.h"

#include <gtest/gtest.h>

#include <xmmintrin.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
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

#if defined(__i386__) || defined(__x86_64__)
using platform::set_x87_control_word;
using platform::x87_control_word;

TEST(Processor, CallerFloatingPointModesAreRestoredAndDoNotChangeTheSound) {
    // The audio call sets flush-to-zero and denormals-are-zero inside and gives
    // the caller's MXCSR back.
    const unsigned saved_csr = _mm_getcsr();
    ProcessParams p = defaults();
    p.global.bass_eq_gain_db = 12;
    p.global.option_flags |= option::bass_eq_high_q;
    auto reference = make_processor(p);
    const unsigned host_csr = (saved_csr & ~0x8040u) | 0x6000u;  // round toward zero, no FTZ/DAZ
    _mm_setcsr(host_csr);
    std::vector<std::int16_t> v(2 * 1000, 1000);
    processor_run(*reference, v.data(), 1000, 2);
    EXPECT_EQ(_mm_getcsr(), host_csr);
    _mm_setcsr(saved_csr);

    // A host thread at 53-bit x87 precision derives the same bass EQ.
    const std::uint16_t saved_cw = x87_control_word();
    set_x87_control_word(0x27F);
    auto at_53_bits = make_processor(p);
    EXPECT_EQ(x87_control_word(), 0x27F);
    set_x87_control_word(saved_cw);
    const BiquadCoefs& a = reference->settings.derived.bass_eq_coefs;
    const BiquadCoefs& b = at_53_bits->settings.derived.bass_eq_coefs;
    EXPECT_EQ(std::memcmp(&a, &b, sizeof a), 0);
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
