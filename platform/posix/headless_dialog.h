#pragma once
// The native build's dialogs: in-memory windows made from a template
// description, with no display. They keep every control's state (text, check
// state, radio group, trackbar range and position, meter range and position,
// pushed state) so the panel's logic runs and is tested exactly as on Win32.
// The functions below inspect a dialog and act on it the way a user would.
// A dialog handle is also a window handle of platform/window.h.
#include "platform/dialog.h"
#include "platform/dialog_template.h"

namespace qv::platform::headless {

// Number of dialogs that exist now (created and not destroyed).
int dialog_count();
// True while the handle names an existing dialog.
bool exists(void* dialog);
// Makes the next create_dialog fail (return null), as when the platform
// cannot create the window.
void fail_next_create();
// The window owner (any handle passed to create_dialog as the parent, such
// as a host's window) is destroyed: so is every dialog it owns, each one's
// destroyed callback running.
void destroy_owned(void* owner);

const char* title(void* dialog);
bool visible(void* dialog);
bool minimized(void* dialog);
// Period of the timer with this identifier, 0 when it is not running.
int timer_period_ms(void* dialog, int timer_id);

// Control state; "" / 0 / false for an identifier that is not in the dialog.
const ControlDef* control(void* dialog, int id);
const char* text(void* dialog, int id);
bool checked(void* dialog, int id);
bool pushed(void* dialog, int id);
int slider_pos(void* dialog, int id);
int slider_min(void* dialog, int id);
int slider_max(void* dialog, int id);
int meter_pos(void* dialog, int id);            // as the bar shows it, clamped into its range
int meter_requested_pos(void* dialog, int id);  // the value last passed to set_meter_pos
int meter_min(void* dialog, int id);
int meter_max(void* dialog, int id);
int meter_step(void* dialog, int id);
int edit_limit(void* dialog, int id);
// Operations that named a control the dialog does not have, or asked a
// control for something its kind cannot do (a programming error on Win32,
// where such messages silently do nothing).
int misuse_count(void* dialog);

// User actions; each sends the notification the platform would send.
// A click: a check box toggles, a radio button checks itself and unchecks the
// rest of its group, then the command callback runs.
void click(void* dialog, int id);
// Drags a trackbar to pos (clamped into its range), then the vscroll or
// hscroll callback runs, by the trackbar's orientation.
void move_slider(void* dialog, int id, int pos);
// Replaces the edit's text as if typed: upper case, at most the edit's limit;
// then the command callback runs (the change notification).
void type_text(void* dialog, int id, const char* text);
// Holds a push button down with the mouse (pushed bit set) or lets it go;
// letting go sends no click.
void hold_button(void* dialog, int id, bool held);
// One expiry of a running timer: the timer callback runs.
void tick(void* dialog, int timer_id);
// A system command from the window menu or caption: the callback runs, then
// the default processing (minimise, restore; close does nothing more).
void sys_command(void* dialog, unsigned command);
// The user drags the window to (x, y): the moved callback runs.
void drag_window(void* dialog, int x, int y);

}  // namespace qv::platform::headless
