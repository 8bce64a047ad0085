#pragma once
// The control panel's behaviour: what each control edits and shows, the 100 ms
// meter tick and the process selector. Every function runs on the window
// thread, from the dialog's notifications, on the dialog given in the context.
#include "chain/readings.h"
#include "engine/meter_scales.h"
#include "panel/panel_state.h"
#include "platform/dialog.h"
#include "settings/param_channel.h"
#include "settings/settings.h"

namespace qv {

struct PanelContext {
    Settings& settings;
    Readings& readings;
    PanelState& state;
    void* dialog;
};

constexpr int kPanelTimerId = 1;
constexpr int kPanelTimerPeriodMs = kMeterTickMs;

// Dialog creation: title, band slider ranges and values, the timer, global
// slider ranges, scale label, edit limit, meter ranges, every global control,
// then CFG 1074, "Compressor" and CFG 1080 checked.
void panel_init_dialog(PanelContext& ctx);
// Any notification of a vertical trackbar.
void panel_vscroll(PanelContext& ctx, int id);
// Any notification of a horizontal trackbar (only "Multiband %").
void panel_hscroll(PanelContext& ctx, int id);
// Any command notification: buttons, and the edit's change notifications.
void panel_command(PanelContext& ctx, int id);
// The 100 ms tick: auto-repeat, title warning, gate, meters, "E" mark.
void panel_timer(PanelContext& ctx);

// Loads one band's values into its group's seven sliders and value labels;
// the dual-band bands (5, 6) always show section 0.
void show_band(PanelContext& ctx, int band, int section);
// Sets every control that shows a GlobalParams value, and the process fields.
void refresh_all_controls(PanelContext& ctx);

// Process selector: one step of a (>= 1) up or down, with its staged load.
void step_process(PanelContext& ctx, int amount, bool up);
// "Save" and "Load".
void save_live_process(PanelContext& ctx);
void load_staged_process(PanelContext& ctx);

// Routing of a dialog's notifications to the handlers above; after each
// slider, scroll or command notification the working set is published. The
// binding must outlive the dialog; moved and sys_command are left null for the window
// lifecycle to fill in.
struct PanelBinding {
    Settings* settings;
    Readings* readings;
    PanelState* state;
    ParamChannel* channel;  // where the edits are published; null: nowhere
};
platform::DialogCallbacks panel_dialog_callbacks(PanelBinding* binding);

}  // namespace qv
