#pragma once
// Operations on a dialog window and its controls. A dialog is an opaque handle
// (void*); controls are addressed by their dialog identifiers. Each operation is
// one platform message: on Win32 a SendDlgItemMessageA / SetDlgItemTextA /
// ShowWindow call, natively a headless in-memory dialog made from the same
// template description (platform/posix/headless_dialog.h). No operation waits
// for anything but the window thread that calls it.
#include "platform/dialog_template.h"

namespace qv::platform {

// Bit of get_button_state that is set while a push button is held down.
constexpr int kButtonPushed = 0x0004;
// Bits of get_button_state that carry the check state.
constexpr int kButtonCheckMask = 0x0003;

// System commands as the platform delivers them (compared without masking).
constexpr unsigned kSysCommandMinimize = 0xF020;
constexpr unsigned kSysCommandRestore = 0xF120;
constexpr unsigned kSysCommandClose = 0xF060;

// What a dialog calls when the platform notifies it. Every member may be null.
// After each callback the platform's default processing follows (for example a
// minimise command minimises the window), so the callbacks return nothing.
// The record must outlive the dialog.
struct DialogCallbacks {
    void* context;
    // The dialog exists and its controls are made; runs inside create_dialog.
    void (*init)(void* context, void* dialog);
    // A vertical / horizontal trackbar moved (any notification code).
    void (*vscroll)(void* context, void* dialog, int control_id);
    void (*hscroll)(void* context, void* dialog, int control_id);
    // A button was clicked, or a control sent any other command notification
    // (such as an edit's text change).
    void (*command)(void* context, void* dialog, int control_id);
    void (*timer)(void* context, void* dialog, int timer_id);
    // The window moved; its new place is window_rect's (platform/window.h).
    // Not called for the move of a minimised window to its icon's place.
    void (*moved)(void* context, void* dialog);
    void (*sys_command)(void* context, void* dialog, unsigned command);
    // The dialog is being destroyed, by whatever route: destroy_window, the
    // destruction of the window that owns it (the parent it was created
    // with), the platform. It still exists during the call; no callback
    // follows.
    void (*destroyed)(void* context, void* dialog);
};

// Creates a modeless dialog from the template (initially hidden, as the
// templates are), owned by parent: destroying the parent destroys it. On Win32
// a parent that is no longer a window is taken as none. Returns null when the
// platform cannot create it, in which case no callback has run.
void* create_dialog(const DialogTemplate& t, void* parent, void* module_instance, const DialogCallbacks* callbacks);

// Window level (the handle of a dialog is its window).
void set_window_text(void* window, const char* text);
// Copies at most buffer_size - 1 characters and a terminator; returns the count copied.
int get_window_text(void* window, char* buffer, int buffer_size);
void show_window(void* window);  // shown, restored if it was minimised
void hide_window(void* window);
void minimize_window(void* window);  // shown as an icon
void destroy_window(void* window);   // also ends its timers
// Timer that sends the timer callback every period_ms while the window exists.
void start_timer(void* window, int timer_id, int period_ms);

// Static labels, buttons and the edit field.
void set_control_text(void* dialog, int id, const char* text);
// As get_window_text, for a control (the edit's WM_GETTEXT with buffer_size).
int get_control_text(void* dialog, int id, char* buffer, int buffer_size);
// Longest text the user can type into an edit field.
void limit_edit_text(void* dialog, int id, int max_chars);

// Trackbars. Ranges are set without redraw, positions with redraw; both clamp
// the position into the range, as the platform's trackbar does.
void set_slider_range_min(void* dialog, int id, int min);
void set_slider_range_max(void* dialog, int id, int max);
void set_slider_pos(void* dialog, int id, int pos);
int get_slider_pos(void* dialog, int id);

// Check boxes and radio buttons (setting a check sends no notification).
bool get_check(void* dialog, int id);
void set_check(void* dialog, int id, bool checked);
// Check state in kButtonCheckMask, kButtonPushed while held down, and other
// platform bits (focus, hot) that callers must mask off.
int get_button_state(void* dialog, int id);

// Progress bars (meters): range 0..65535 at most.
void set_meter_range(void* dialog, int id, int min, int max);
void set_meter_step(void* dialog, int id, int step);
void set_meter_pos(void* dialog, int id, int pos);

}  // namespace qv::platform
