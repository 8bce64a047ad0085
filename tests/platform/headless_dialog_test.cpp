// The headless dialog behaves like the platform's controls.
#include "platform/posix/headless_dialog.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/dialog.h"
#include "platform/window.h"

namespace qv::platform {
namespace {

const ControlDef kControls[] = {
    {10, ControlKind::trackbar, "", {0, 0, 15, 45}, cf::vertical, 0, 0},
    {11, ControlKind::trackbar, "", {0, 0, 45, 15}, 0, 0, 0},
    {20, ControlKind::progress, "", {0, 0, 10, 40}, cf::vertical, 0, 0},
    {30, ControlKind::label, "000", {0, 0, 20, 8}, 0, 0, 0},
    {40, ControlKind::check_box, "M", {0, 0, 12, 9}, 0, 0, 0},
    {41, ControlKind::radio_button, "A", {0, 0, 12, 9}, cf::first_of_group, 1, 0},
    {42, ControlKind::radio_button, "B", {0, 0, 12, 9}, 0, 1, 0},
    {43, ControlKind::radio_button, "C", {0, 0, 12, 9}, cf::first_of_group, 2, 0},
    {50, ControlKind::push_button, "+", {0, 0, 10, 11}, 0, 0, 0},
    {60, ControlKind::edit, "", {0, 0, 100, 11}, 0, 0, 0},
    {kUnaddressed, ControlKind::label, "x", {0, 0, 5, 5}, 0, 0, 0},
};
const DialogTemplate kTemplate = {
    900, 200, 100, "MS Sans Serif", 8, true, true, false, false, kControls, sizeof kControls / sizeof kControls[0]};

// Records every notification.
struct Log {
    std::vector<std::string> events;
    bool destroy_on_command = false;
};

DialogCallbacks logging_callbacks(Log* log) {
    DialogCallbacks cb{};
    cb.context = log;
    cb.init = [](void* c, void*) { static_cast<Log*>(c)->events.push_back("init"); };
    cb.vscroll = [](void* c, void*, int id) { static_cast<Log*>(c)->events.push_back("v" + std::to_string(id)); };
    cb.hscroll = [](void* c, void*, int id) { static_cast<Log*>(c)->events.push_back("h" + std::to_string(id)); };
    cb.command = [](void* c, void* dlg, int id) {
        auto* log = static_cast<Log*>(c);
        log->events.push_back("c" + std::to_string(id));
        if (log->destroy_on_command) destroy_window(dlg);
    };
    cb.timer = [](void* c, void*, int id) { static_cast<Log*>(c)->events.push_back("t" + std::to_string(id)); };
    cb.moved = [](void* c, void*) { static_cast<Log*>(c)->events.push_back("moved"); };
    cb.sys_command = [](void* c, void*, unsigned cmd) {
        static_cast<Log*>(c)->events.push_back("s" + std::to_string(cmd));
    };
    return cb;
}

TEST(HeadlessDialog, TrackbarsClampLikeThePlatform) {
    void* d = create_dialog(kTemplate, nullptr, nullptr, nullptr);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(headless::slider_min(d, 10), 0);
    EXPECT_EQ(headless::slider_max(d, 10), 100);
    set_slider_pos(d, 10, 150);
    EXPECT_EQ(get_slider_pos(d, 10), 100);
    set_slider_range_max(d, 10, 20000);
    set_slider_range_min(d, 10, 500);
    EXPECT_EQ(get_slider_pos(d, 10), 500);  // a new minimum pulls the thumb along
    set_slider_pos(d, 10, -3);
    EXPECT_EQ(get_slider_pos(d, 10), 500);
    set_slider_range_max(d, 10, 300);  // below the minimum: both ends meet
    EXPECT_EQ(headless::slider_min(d, 10), 300);
    EXPECT_EQ(get_slider_pos(d, 10), 300);
    EXPECT_EQ(headless::misuse_count(d), 0);
    destroy_window(d);
}

TEST(HeadlessDialog, ButtonsToggleAndRadioGroupsExclude) {
    Log log;
    const DialogCallbacks cb = logging_callbacks(&log);
    void* d = create_dialog(kTemplate, nullptr, nullptr, &cb);
    headless::click(d, 40);
    EXPECT_TRUE(get_check(d, 40));
    headless::click(d, 40);
    EXPECT_FALSE(get_check(d, 40));
    headless::click(d, 43);
    headless::click(d, 41);
    EXPECT_TRUE(get_check(d, 41));
    headless::click(d, 42);
    EXPECT_FALSE(get_check(d, 41));
    EXPECT_TRUE(get_check(d, 42));
    EXPECT_TRUE(get_check(d, 43));  // another group
    headless::click(d, 42);
    EXPECT_TRUE(get_check(d, 42));  // a checked radio stays checked
    headless::click(d, 50);
    EXPECT_EQ(log.events, (std::vector<std::string>{"init", "c40", "c40", "c43", "c41", "c42", "c42", "c50"}));

    EXPECT_EQ(get_button_state(d, 50) & kButtonPushed, 0);
    headless::hold_button(d, 50, true);
    EXPECT_EQ(get_button_state(d, 50) & kButtonPushed, kButtonPushed);
    EXPECT_EQ(get_button_state(d, 42) & kButtonCheckMask, 1);
    destroy_window(d);
}

TEST(HeadlessDialog, TextsEditAndNotifications) {
    Log log;
    const DialogCallbacks cb = logging_callbacks(&log);
    void* d = create_dialog(kTemplate, nullptr, nullptr, &cb);
    EXPECT_STREQ(headless::text(d, 30), "000");
    set_control_text(d, 30, "42");
    EXPECT_STREQ(headless::text(d, 30), "42");
    limit_edit_text(d, 60, 5);
    headless::type_text(d, 60, "abcdefgh");
    EXPECT_STREQ(headless::text(d, 60), "ABCDE");
    set_control_text(d, 60, "longer text");  // set by the program: not limited
    char buf[6];
    EXPECT_EQ(get_control_text(d, 60, buf, sizeof buf), 5);
    EXPECT_STREQ(buf, "LONGE");
    EXPECT_EQ(get_control_text(d, 60, buf, 0), 0);
    set_window_text(d, "title");
    EXPECT_STREQ(headless::title(d), "title");
    headless::move_slider(d, 10, 7);
    headless::move_slider(d, 11, 9);
    EXPECT_EQ(log.events, (std::vector<std::string>{"init", "c60", "c60", "v10", "h11"}));
    destroy_window(d);
}

TEST(HeadlessDialog, MetersClampButRememberWhatWasSent) {
    void* d = create_dialog(kTemplate, nullptr, nullptr, nullptr);
    set_meter_range(d, 20, 0, 1000);
    set_meter_step(d, 20, 0);
    set_meter_pos(d, 20, 4000);
    EXPECT_EQ(headless::meter_pos(d, 20), 1000);
    EXPECT_EQ(headless::meter_requested_pos(d, 20), 4000);
    set_meter_pos(d, 20, -5);
    EXPECT_EQ(headless::meter_pos(d, 20), 0);
    EXPECT_EQ(headless::meter_step(d, 20), 0);
    destroy_window(d);
}

TEST(HeadlessDialog, MisuseIsCounted) {
    void* d = create_dialog(kTemplate, nullptr, nullptr, nullptr);
    set_slider_pos(d, 30, 1);  // a label is no trackbar
    set_check(d, 99, true);    // no such control
    set_meter_pos(d, 10, 1);
    set_control_text(d, kUnaddressed, "x");
    EXPECT_EQ(headless::misuse_count(d), 4);
    destroy_window(d);
}

TEST(HeadlessDialog, LifetimeTimersAndWindowCommands) {
    Log log;
    const DialogCallbacks cb = logging_callbacks(&log);
    const int before = headless::dialog_count();
    void* d = create_dialog(kTemplate, nullptr, nullptr, &cb);
    EXPECT_EQ(headless::dialog_count(), before + 1);
    EXPECT_FALSE(headless::visible(d));
    headless::tick(d, 1);  // no timer yet
    start_timer(d, 1, 100);
    EXPECT_EQ(headless::timer_period_ms(d, 1), 100);
    headless::tick(d, 1);
    show_window(d);
    headless::sys_command(d, kSysCommandMinimize);
    EXPECT_TRUE(headless::minimized(d));
    headless::sys_command(d, kSysCommandRestore);
    EXPECT_FALSE(headless::minimized(d));
    EXPECT_TRUE(headless::visible(d));

    // The dialog is a window of the placement services too.
    headless::drag_window(d, 40, 50);
    ScreenRect r{};
    ASSERT_TRUE(window_rect(d, r));
    EXPECT_EQ(r.left, 40);
    EXPECT_EQ(r.top, 50);
    EXPECT_GT(r.right, r.left);
    EXPECT_EQ(log.events, (std::vector<std::string>{"init", "t1", "s" + std::to_string(kSysCommandMinimize),
                                                    "s" + std::to_string(kSysCommandRestore), "moved"}));

    // Destroyed from inside its own notification: gone once the callback returns,
    // and a stale handle is harmless.
    log.destroy_on_command = true;
    headless::click(d, 40);
    EXPECT_FALSE(headless::exists(d));
    EXPECT_EQ(headless::dialog_count(), before);
    headless::tick(d, 1);
    set_control_text(d, 30, "x");
    EXPECT_FALSE(get_check(d, 40));

    headless::fail_next_create();
    EXPECT_EQ(create_dialog(kTemplate, nullptr, nullptr, &cb), nullptr);
    void* again = create_dialog(kTemplate, nullptr, nullptr, nullptr);
    EXPECT_NE(again, nullptr);
    destroy_window(again);
}

}  // namespace
}  // namespace qv::platform
