#pragma once
// One module instance: the processor and the panel that works it. The
// exported entry points use one static instance; tests make fresh ones.
#include "engine/processor.h"
#include "host/dsp_records.h"
#include "panel/panel.h"
#include "panel/panel_state.h"
#include "platform/dialog.h"
#include "settings/settings.h"

namespace qv {

struct Quorvane {
    Processor core;
    PanelState panel;
    // How the panel's and the about window's notifications reach this
    // instance; filled before a window is created, kept while it exists.
    PanelBinding panel_binding;
    platform::DialogCallbacks panel_callbacks;
    platform::DialogCallbacks about_callbacks;
};

// Init: startup load, panel if it was open, recomputation, start-up tables,
// about window. Always 0.
int instance_init(Quorvane& q, DspModule* module);
// Config: opens the panel unless it is open (and the about window if the
// host's window took it down).
void instance_config(Quorvane& q, DspModule* module);
// Quit: stores the panel position, destroys both windows, writes the INI keys.
void instance_quit(Quorvane& q, DspModule* module);
// ModifySamples, on the audio thread, under the chain's floating-point mode.
// These four, like the windows' notifications, run in the module's own
// floating-point mode and give the caller's back (platform/fp_mode.h).
int instance_modify_samples(Quorvane& q, short* samples, int numsamples, int bps, int nch, int srate);

// Notifications of the window lifecycle (exposed for the tests): the panel
// moved; a system command reached the panel or the about window; a window is
// being destroyed, by the module itself or with the host's window that owns
// it (the instance forgets it, so Config reopens it and Quit leaves it alone).
void panel_moved(void* binding, void* dialog);
void panel_sys_command(void* binding, void* dialog, unsigned command);
void about_sys_command(void* binding, void* dialog, unsigned command);
void panel_destroyed(void* binding, void* dialog);
void about_destroyed(void* binding, void* dialog);

}  // namespace qv
