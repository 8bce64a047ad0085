// The process selector strip: browsing with "+" / "-" (and their auto-repeat),
// Save and Load.
#include <cstdio>
#include <cstring>

#include "panel/label_format.h"
#include "panel/panel_internal.h"
#include "settings/process_file.h"

namespace qv {

namespace {

// Ticks (100 ms) that a failed-save message stays in the title: 3 s.
constexpr int kSaveErrorTicks = 30;

void show_staged_name(PanelContext& ctx) {
    char name[20];
    copy_process_name(name, ctx.settings.staged.params.global.process_name);
    platform::set_control_text(ctx.dialog, ctl::kNameEdit, name);
}

}  // namespace

void step_process(PanelContext& ctx, int amount, bool up) {
    ProcessSelection& sel = ctx.settings.selection;
    std::int32_t n = sel.browsed_process;
    if (n < 0) n = 0;
    if (n > kMaxProcessNumber) n = kMaxProcessNumber;
    n = up ? (n + amount > kMaxProcessNumber ? kMaxProcessNumber : n + amount) : (n - amount < 0 ? 0 : n - amount);
    sel.browsed_process = n;
    platform::set_control_text(ctx.dialog, ctl::kBrowsedNumber, format_value(ValueFormat::plain, n).text);
    sel.staged_process_valid = load_process_staged(ctx.settings, n);
    show_staged_name(ctx);
}

// Run at the start of every tick. A button counts as held while its pushed
// bit is set. Six ticks of delay (counter 20 down to 15), then steps of
// 8 - counter / 2: 1, 2, 2, 3, 3, ... 8, and 8 from then on.
void auto_repeat_tick(PanelContext& ctx) {
    const bool up = (platform::get_button_state(ctx.dialog, ctl::kPlus) & platform::kButtonPushed) != 0;
    const bool down = (platform::get_button_state(ctx.dialog, ctl::kMinus) & platform::kButtonPushed) != 0;
    std::int32_t& counter = ctx.state.repeat_counter;
    if (!up && !down) {
        counter = 20;
        return;
    }
    if (counter >= 15) {
        --counter;
        return;
    }
    if (counter < 0) counter = 0;
    step_process(ctx, 8 - counter / 2, up);
    if (counter != 0) --counter;
}

void save_live_process(PanelContext& ctx) {
    Settings& s = ctx.settings;
    ProcessSelection& sel = s.selection;
    // At most 19 characters and the terminator; the bytes after the
    // terminator keep what they held and are saved with the block.
    char typed[kNameEditLimit];
    const int len = platform::get_control_text(ctx.dialog, ctl::kNameEdit, typed, sizeof typed);
    std::memcpy(s.live.global.process_name, typed, static_cast<std::size_t>(len) + 1);

    if (save_process(s, sel.browsed_process)) {
        sel.on_air_process = sel.browsed_process;
        refresh_all_controls(ctx);
        sel.process_modified = 0;
        return;
    }
    // Nothing was written: the old number stays on air, the settings are
    // marked as not stored (the "E" blinks) and the title says so for 3 s.
    refresh_all_controls(ctx);
    sel.process_modified = 1;
    char message[64];
    std::snprintf(message, sizeof message, "Could not save process %d", static_cast<int>(sel.browsed_process));
    platform::set_window_text(ctx.dialog, message);
    ctx.state.save_error_ticks = kSaveErrorTicks;
}

void load_staged_process(PanelContext& ctx) {
    Settings& s = ctx.settings;
    ProcessSelection& sel = s.selection;
    if (!sel.staged_process_valid) return;

    sel.process_modified = 0;
    sel.on_air_process = sel.browsed_process;
    s.live.global = s.staged.params.global;
    for (int b = 0; b < kBands; ++b)
        for (int k = 0; k < kSections; ++k) {
            s.live.section[b][k] = s.staged.params.section[b][k];
            s.section_coefs[b][k] = s.staged.section_coefs[b][k];
        }
    for (int b = 0; b < kMultibandBands; ++b) derive_band_gain_level(s, b);
    recompute_all(s);
    reset_switches(s);
    request_memory_reset(s);

    for (int k = 0; k < kBands; ++k)
        if (platform::get_check(ctx.dialog, kCfgButton[k])) {
            show_band(ctx, k, ctx.state.selected_section);
            ctx.state.selected_band[k < kMultibandBands ? 0 : 1] = k;
        }
    refresh_all_controls(ctx);

    // Every band is active again and the test tone stopped; the buttons
    // follow so that they show what the chain does.
    for (int id : kMuteButton) platform::set_check(ctx.dialog, id, false);
    platform::set_check(ctx.dialog, ctl::kTestTone, false);
}

}  // namespace qv
