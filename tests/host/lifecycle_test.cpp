// Init, Config and Quit, and the panel's window lifecycle, on the headless
// dialog: which windows exist when, the INI keys at the end, the start-up
// tables; the module instance under a panel worked while audio plays.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "host/instance.h"
#include "panel/control_table.h"
#include "panel/texts.h"
#include "platform/dialog.h"
#include "platform/fp_mode.h"
#include "platform/posix/headless_dialog.h"
#include "platform/posix/posix_window.h"
#include "platform/profile.h"
#include "settings/host_ini.h"
#include "settings/process_file.h"
#include "settings/startup.h"
#include "tests/chain/chain_rig.h"
#include "tests/engine/fp_run.h"
#include "tests/host_fp_env.h"
#include "tests/temp_host_dir.h"

namespace qv {
namespace {

namespace hd = platform::headless;

struct Lifecycle : ::testing::Test {
    test::TempHostDir host;
    std::unique_ptr<Quorvane> q = std::make_unique<Quorvane>();
    DspModule module{};

    void SetUp() override { platform::set_posix_desktop_rect({0, 0, 1024, 768}); }
    void TearDown() override {
        // Leave no window behind for the next test, whatever happened.
        if (q->panel.panel_window || q->panel.about_window) instance_quit(*q, &module);
        EXPECT_EQ(hd::dialog_count(), 0);
    }

    std::string ini() const { return host.path("winamp.ini"); }
    void ini_set(const char* key, int value) {
        platform::profile_write_string(kIniSection, key, std::to_string(value).c_str(), ini().c_str());
    }
    int ini_get(const char* key) const { return platform::profile_read_int(kIniSection, key, -999, ini().c_str()); }

    void* panel() const { return q->panel.panel_window; }
    void* about() const { return q->panel.about_window; }
};

TEST_F(Lifecycle, HiddenPanelUntilConfigThenConfigChangesNothing) {
    ini_set(kKeyVisible, 0);
    EXPECT_EQ(instance_init(*q, &module), 0);
    EXPECT_EQ(panel(), nullptr);
    EXPECT_EQ(q->core.settings.host.panel_visible, 0);
    ASSERT_NE(about(), nullptr);
    EXPECT_FALSE(hd::visible(about()));
    EXPECT_EQ(hd::dialog_count(), 1);

    instance_config(*q, &module);
    ASSERT_NE(panel(), nullptr);
    EXPECT_TRUE(hd::visible(panel()));
    EXPECT_FALSE(hd::minimized(panel()));
    EXPECT_EQ(q->core.settings.host.panel_visible, 1);
    EXPECT_EQ(hd::timer_period_ms(panel(), 1), 100);
    EXPECT_EQ(hd::title(panel()), std::string(module_description) + std::string(50, ' '));

    // A second Config neither re-creates nor recomputes (which would switch
    // the test tone off).
    void* first = panel();
    q->core.settings.test_tone_on = 1;
    instance_config(*q, &module);
    EXPECT_EQ(panel(), first);
    EXPECT_EQ(hd::dialog_count(), 2);
    EXPECT_EQ(q->core.settings.test_tone_on, 1);
}

TEST_F(Lifecycle, ConfigThatOpensThePanelRecomputesButLeavesTheDetectors) {
    ini_set(kKeyVisible, 0);
    instance_init(*q, &module);
    std::vector<short> block(2 * 64, 1000);
    instance_modify_samples(*q, block.data(), 64, 16, 2, 44100);  // carries out Init's reset
    EXPECT_EQ(q->core.chain.memory_reset_seen, q->core.settings.memory_reset_count);
    q->core.settings.test_tone_on = 1;
    q->core.chain.agc.bass_envelope = 123.0;
    instance_config(*q, &module);
    instance_modify_samples(*q, block.data(), 0, 16, 2, 44100);  // the next block boundary
    EXPECT_EQ(q->core.settings.test_tone_on, 0);
    EXPECT_EQ(q->core.chain.agc.bass_envelope, 123.0);
}

TEST_F(Lifecycle, VisibleAndMinimizedOpensMinimisedAtTheStoredPlace) {
    ini_set(kKeyVisible, 1);
    ini_set(kKeyMinimized, 1);
    ini_set(kKeyPosX, 2000);
    ini_set(kKeyPosY, 900);
    instance_init(*q, &module);
    ASSERT_NE(panel(), nullptr);
    EXPECT_TRUE(hd::visible(panel()));
    EXPECT_TRUE(hd::minimized(panel()));
    platform::ScreenRect r;
    ASSERT_TRUE(platform::window_rect(panel(), r));
    EXPECT_EQ(r.left, 992);  // clamped to the desktop: right - 32, bottom - 32
    EXPECT_EQ(r.top, 736);
    EXPECT_EQ(q->core.settings.host.panel_minimized, 1);
}

TEST_F(Lifecycle, InitStartsFromTheOnAirProcess) {
    ini_set(kKeyProcessNumber, 7);
    ini_set(kKeyVisible, 0);
    instance_init(*q, &module);
    EXPECT_EQ(q->core.settings.selection.on_air_process, 7);
    EXPECT_EQ(q->core.settings.selection.browsed_process, 7);
    EXPECT_EQ(q->core.settings.selection.process_modified, 0);
    EXPECT_EQ(test::read_bytes(host.path("qv$7.dat")).size(), 18418u);  // defaults written for a missing file
}

TEST_F(Lifecycle, QuitWithThePanelClosedWritesVisibleZeroAndNoPosition) {
    ini_set(kKeyVisible, 0);
    instance_init(*q, &module);
    instance_quit(*q, &module);
    EXPECT_EQ(about(), nullptr);
    EXPECT_EQ(hd::dialog_count(), 0);
    EXPECT_EQ(ini_get(kKeyVisible), 0);
    EXPECT_EQ(ini_get(kKeyMinimized), 0);
    EXPECT_EQ(ini_get(kKeyProcessNumber), 0);
    EXPECT_EQ(ini_get(kKeyPosX), -999);
    EXPECT_EQ(ini_get(kKeyPosY), -999);
}

TEST_F(Lifecycle, QuitWithThePanelOpenStoresItsPositionAndDestroysBoth) {
    instance_init(*q, &module);  // no INI: Visible defaults to 1
    ASSERT_NE(panel(), nullptr);
    hd::drag_window(panel(), 500, 300);
    EXPECT_EQ(q->core.settings.host.panel_pos_x, 500);
    EXPECT_EQ(q->core.settings.host.panel_pos_y, 300);
    instance_quit(*q, &module);
    EXPECT_EQ(panel(), nullptr);
    EXPECT_EQ(about(), nullptr);
    EXPECT_EQ(hd::dialog_count(), 0);
    EXPECT_EQ(ini_get(kKeyVisible), 1);
    EXPECT_EQ(ini_get(kKeyPosX), 500);
    EXPECT_EQ(ini_get(kKeyPosY), 300);

    // The next start opens it there.
    auto next = std::make_unique<Quorvane>();
    instance_init(*next, &module);
    platform::ScreenRect r;
    ASSERT_TRUE(platform::window_rect(next->panel.panel_window, r));
    EXPECT_EQ(r.left, 500);
    EXPECT_EQ(r.top, 300);
    instance_quit(*next, &module);
}

TEST_F(Lifecycle, InitReturnsZeroWhenThePanelCannotBeCreated) {
    hd::fail_next_create();
    EXPECT_EQ(instance_init(*q, &module), 0);
    EXPECT_EQ(panel(), nullptr);
    EXPECT_NE(about(), nullptr);
    // The chain's start-up tables are built regardless.
    EXPECT_EQ(q->core.chain.tone.table[157], 32759);
    // Quit skips the missing panel and still writes the keys.
    instance_quit(*q, &module);
    EXPECT_EQ(ini_get(kKeyVisible), 1);
    EXPECT_EQ(ini_get(kKeyPosX), -999);
}

TEST_F(Lifecycle, StartUpTables) {
    ini_set(kKeyVisible, 0);
    q->core.chain.expander.stereo_delay_line[889] = 77;
    q->core.chain.expander.stereo_diffuser_ring[255] = 1.5;
    instance_init(*q, &module);
    const auto& t = q->core.chain.tone.table;
    EXPECT_EQ(t[0], 0);
    EXPECT_EQ(t[157], 32759);
    EXPECT_EQ(t[314], 52);
    EXPECT_EQ(t[471], -32759);
    EXPECT_EQ(t[626], -759);
    const std::int32_t taps[27] = {78,   219,   2,   -123, 173,  -104, -86, 302,  -369, 133,  428, -1158, 1777, 5480,
                                   1777, -1158, 428, 133,  -369, 302,  -86, -104, 173,  -123, 2,   219,   78};
    for (int j = 0; j < 27; ++j) EXPECT_EQ(q->core.chain.output.fir_coef[j], taps[j]) << j;
    EXPECT_EQ(q->core.chain.expander.stereo_delay_line[889], 0);
    EXPECT_EQ(q->core.chain.expander.stereo_diffuser_ring[255], 0.0);
}

TEST_F(Lifecycle, CloseBoxDestroysThePanelHidesAboutAndClearsVisible) {
    instance_init(*q, &module);
    ASSERT_NE(panel(), nullptr);
    hd::click(panel(), 1090);  // About
    EXPECT_TRUE(hd::visible(about()));
    hd::drag_window(panel(), 200, 150);
    void* closed = panel();
    hd::sys_command(closed, platform::kSysCommandClose);
    EXPECT_EQ(panel(), nullptr);
    EXPECT_FALSE(hd::exists(closed));
    EXPECT_FALSE(hd::visible(about()));
    EXPECT_TRUE(hd::exists(about()));
    EXPECT_EQ(q->core.settings.host.panel_visible, 0);
    EXPECT_EQ(ini_get(kKeyPosX), 200);  // stored by the close itself
    EXPECT_EQ(ini_get(kKeyPosY), 150);

    // Config opens it again where it was.
    instance_config(*q, &module);
    ASSERT_NE(panel(), nullptr);
    platform::ScreenRect r;
    ASSERT_TRUE(platform::window_rect(panel(), r));
    EXPECT_EQ(r.left, 200);
    EXPECT_EQ(r.top, 150);
    EXPECT_EQ(q->core.settings.host.panel_visible, 1);
}

TEST_F(Lifecycle, WindowsDestroyedWithTheHostWindowAreForgotten) {
    int host_window = 0;  // the player's window: the owner of both dialogs
    module.parent_window = &host_window;
    instance_init(*q, &module);
    ASSERT_NE(panel(), nullptr);
    hd::drag_window(panel(), 320, 240);
    hd::destroy_owned(&host_window);
    EXPECT_EQ(hd::dialog_count(), 0);
    EXPECT_EQ(panel(), nullptr);
    EXPECT_EQ(about(), nullptr);
    EXPECT_EQ(ini_get(kKeyPosX), 320);  // stored as the panel went
    EXPECT_EQ(ini_get(kKeyPosY), 240);

    // Config opens both again, and the About button works.
    instance_config(*q, &module);
    EXPECT_EQ(hd::dialog_count(), 2);
    ASSERT_TRUE(hd::exists(panel()));
    hd::click(panel(), 1090);
    EXPECT_TRUE(hd::visible(about()));
    instance_quit(*q, &module);
    EXPECT_EQ(hd::dialog_count(), 0);
    EXPECT_EQ(ini_get(kKeyVisible), 1);
}

TEST_F(Lifecycle, InitAfterQuitOfTheSameInstanceStartsThePanelAsNew) {
    instance_init(*q, &module);
    hd::click(panel(), 1076);  // CFG of band 2
    EXPECT_EQ(q->panel.selected_band[0], 2);
    instance_quit(*q, &module);
    instance_init(*q, &module);
    EXPECT_EQ(q->panel.selected_band[0], 0);  // as CFG 1074, checked at creation, says
}

TEST_F(Lifecycle, MinimiseAndRestoreKeepTheFlag) {
    instance_init(*q, &module);
    ASSERT_NE(panel(), nullptr);
    hd::sys_command(panel(), platform::kSysCommandMinimize);
    EXPECT_TRUE(hd::minimized(panel()));
    EXPECT_EQ(q->core.settings.host.panel_minimized, 1);
    // Compared as delivered: a command with low bits set is not a minimise.
    hd::sys_command(panel(), platform::kSysCommandRestore | 2);
    EXPECT_EQ(q->core.settings.host.panel_minimized, 1);
    hd::sys_command(panel(), platform::kSysCommandRestore);
    EXPECT_FALSE(hd::minimized(panel()));
    EXPECT_EQ(q->core.settings.host.panel_minimized, 0);

    hd::sys_command(panel(), platform::kSysCommandMinimize);
    instance_quit(*q, &module);
    EXPECT_EQ(ini_get(kKeyVisible), 1);
    EXPECT_EQ(ini_get(kKeyMinimized), 1);
}

TEST_F(Lifecycle, AboutWindowHidesOnItsCloseBoxAndShowsAgain) {
    instance_init(*q, &module);
    ASSERT_NE(about(), nullptr);
    hd::click(panel(), 1090);
    EXPECT_TRUE(hd::visible(about()));
    const int panel_x = q->core.settings.host.panel_pos_x, panel_y = q->core.settings.host.panel_pos_y;
    hd::drag_window(about(), 60, 40);
    hd::sys_command(about(), platform::kSysCommandClose);
    EXPECT_TRUE(hd::exists(about()));
    EXPECT_FALSE(hd::visible(about()));
    hd::click(panel(), 1090);
    EXPECT_TRUE(hd::visible(about()));
    platform::ScreenRect r;
    ASSERT_TRUE(platform::window_rect(about(), r));
    EXPECT_EQ(r.left, 60);
    EXPECT_EQ(r.top, 40);
    // Moving the about window does not move the stored panel position.
    EXPECT_EQ(q->core.settings.host.panel_pos_x, panel_x);
    EXPECT_EQ(q->core.settings.host.panel_pos_y, panel_y);
}

// ---- the module instance: panel and audio on two threads

ProcessParams defaults() {
    ProcessParams p;
    fill_defaults(p);
    return p;
}

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
        test::FpRun r{input, {}, 0};
        int at = 0;
        const auto play = [&](int until) {
            for (; at < until; at += kBlock)
                call([&] { return instance_modify_samples(*q, r.out.data() + 2 * at, kBlock, 16, 2, 44100); });
        };
        call([&] { return instance_init(*q, &module); });
        r.derived.push_back(test::derived_bits(q->core.settings));
        play(kFrames / 4);
        call([&] { instance_config(*q, &module); });
        r.derived.push_back(test::derived_bits(q->core.settings));
        play(kFrames / 2);
        void* dlg = q->panel.panel_window;
        for (int id : sliders) {
            const int pos = (hd::slider_min(dlg, id) + 3 * hd::slider_max(dlg, id)) / 4;
            call([&] { hd::move_slider(dlg, id, pos); });
        }
        call([&] { hd::click(dlg, 1138); });  // High Q
        call([&] { hd::tick(dlg, kPanelTimerId); });
        r.derived.push_back(test::derived_bits(q->core.settings));
        play(3 * kFrames / 4);
        call([&] { hd::click(dlg, 1127); });  // "+": process 1 staged
        call([&] { hd::click(dlg, 1102); });  // Load
        r.derived.push_back(test::derived_bits(q->core.settings));
        play(kFrames);
        EXPECT_EQ(q->core.settings.selection.on_air_process, 1);
        call([&] { instance_quit(*q, &module); });
        return r;
    };

    test::expect_same_in_every_env(render);
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
