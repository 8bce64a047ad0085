// Init, Config and Quit, and the panel's window lifecycle: creation, moves,
// minimise, restore and close, the about window that hides when closed, and
// windows destroyed under the module by the host.
#include "chain/output_stages.h"
#include "chain/sample_loop.h"
#include "chain/stereo_expander.h"
#include "chain/test_tone.h"
#include "host/instance.h"
#include "panel/control_table.h"
#include "platform/fp_mode.h"
#include "platform/window.h"
#include "settings/derive.h"
#include "settings/host_ini.h"
#include "settings/startup.h"

namespace qv {

namespace {

void* parent_window(const DspModule* m) { return m ? m->parent_window : nullptr; }
void* module_instance(const DspModule* m) { return m ? m->instance : nullptr; }

// Connects both windows' notifications to this instance. The records live in
// the instance, so they outlive any window made from them.
void bind_windows(Quorvane& q) {
    q.panel_binding = PanelBinding{&q.core.settings, &q.core.chain.readings, &q.panel, &q.core.channel};
    q.panel_callbacks = panel_dialog_callbacks(&q.panel_binding);
    q.panel_callbacks.moved = panel_moved;
    q.panel_callbacks.sys_command = panel_sys_command;
    q.panel_callbacks.destroyed = panel_destroyed;
    q.about_callbacks = platform::DialogCallbacks{};
    q.about_callbacks.context = &q.panel_binding;
    q.about_callbacks.sys_command = about_sys_command;
    q.about_callbacks.destroyed = about_destroyed;
}

// Forgets a window of the instance, then destroys it: its destroyed
// notification then finds nothing left to forget.
void destroy_own(void*& window) {
    void* w = window;
    window = nullptr;
    platform::destroy_window(w);
}

// Creates the panel from template 104 (its creation fills every control),
// shows it and places it where it stood. A failed creation leaves the handle
// null and the audio running.
void open_panel(Quorvane& q, const DspModule* m) {
    q.panel.panel_window =
        platform::create_dialog(kPanelTemplate, parent_window(m), module_instance(m), &q.panel_callbacks);
    if (!q.panel.panel_window) return;
    platform::show_window(q.panel.panel_window);
    restore_panel_position(q.core.settings, q.panel.panel_window);
}

// The about window, hidden until the panel's About button shows it.
void open_about(Quorvane& q, const DspModule* m) {
    q.panel.about_window =
        platform::create_dialog(kAboutTemplate, parent_window(m), module_instance(m), &q.about_callbacks);
}

}  // namespace

int instance_init(Quorvane& q, DspModule* module) {
    const platform::DefaultFpMode mode;
    Settings& s = q.core.settings;
    // The Windows module stays loaded after Quit (it pins itself), so an Init
    // may follow a Quit of the same instance: the panel starts as new.
    q.panel = PanelState{};
    bind_windows(q);
    const int on_air = startup_load(s);
    s.selection.on_air_process = on_air;
    s.selection.browsed_process = on_air;
    s.selection.process_modified = 0;

    if (s.host.panel_visible != 0) {
        open_panel(q, module);
        if (q.panel.panel_window && s.host.panel_minimized != 0) platform::minimize_window(q.panel.panel_window);
    }

    recompute_all(s);
    reset_switches(s);
    request_memory_reset(s);
    build_test_tone_table(q.core.chain.tone);
    build_fir_taps(q.core.chain.output);
    clear_stereo_expander(q.core.chain.expander);
    publish_params(q.core.channel, s);

    open_about(q, module);
    return 0;
}

void instance_config(Quorvane& q, DspModule* module) {
    const platform::DefaultFpMode mode;
    if (q.panel.panel_window) return;  // already open: not even raised
    bind_windows(q);
    open_panel(q, module);
    // Gone only if the host destroyed its window under it.
    if (!q.panel.about_window) open_about(q, module);
    q.core.settings.host.panel_visible = 1;
    // The panel opens on freshly derived values, every band sounding and the
    // test tone off; what the detectors remember is left alone, so opening a
    // window does not change the level on air.
    recompute_all(q.core.settings);
    reset_switches(q.core.settings);
    publish_params(q.core.channel, q.core.settings);
}

void instance_quit(Quorvane& q, DspModule*) {
    const platform::DefaultFpMode mode;
    if (q.panel.panel_window) {
        save_panel_position(q.core.settings);
        destroy_own(q.panel.panel_window);
    }
    if (q.panel.about_window) destroy_own(q.panel.about_window);
    save_host_keys(q.core.settings);
}

int instance_modify_samples(Quorvane& q, short* samples, int numsamples, int bps, int nch, int srate) {
    const platform::ChainFpMode mode;
    return modify_samples(q.core.channel, q.core.chain, samples, numsamples, bps, nch, srate);
}

void panel_moved(void* binding, void* dialog) {
    auto* b = static_cast<PanelBinding*>(binding);
    platform::ScreenRect r;
    if (!b || !platform::window_rect(dialog, r)) return;
    b->settings->host.panel_pos_x = r.left;
    b->settings->host.panel_pos_y = r.top;
}

void panel_sys_command(void* binding, void*, unsigned command) {
    auto* b = static_cast<PanelBinding*>(binding);
    if (!b) return;
    Settings& s = *b->settings;
    PanelState& p = *b->state;
    // Compared as delivered: the four low bits are not masked off.
    if (command == platform::kSysCommandMinimize) {
        s.host.panel_minimized = 1;
    } else if (command == platform::kSysCommandRestore) {
        s.host.panel_minimized = 0;
    } else if (command == platform::kSysCommandClose) {
        if (p.panel_window) {
            save_panel_position(s);
            destroy_own(p.panel_window);
            s.host.panel_visible = 0;
        }
        if (p.about_window) platform::hide_window(p.about_window);
    }
}

void about_sys_command(void*, void* dialog, unsigned command) {
    // Closing the about window only hides it, so it keeps its place.
    if (command == platform::kSysCommandClose) platform::hide_window(dialog);
}

void panel_destroyed(void* binding, void* dialog) {
    auto* b = static_cast<PanelBinding*>(binding);
    if (!b || b->state->panel_window != dialog) return;  // closed or quit: forgotten already
    // Destroyed with the host's window. The panel counts as open (Visible is
    // kept, as a Quit with the panel up would write it), and its place is
    // stored now, while it is known.
    save_panel_position(*b->settings);
    b->state->panel_window = nullptr;
}

void about_destroyed(void* binding, void* dialog) {
    auto* b = static_cast<PanelBinding*>(binding);
    if (b && b->state->about_window == dialog) b->state->about_window = nullptr;
}

}  // namespace qv
