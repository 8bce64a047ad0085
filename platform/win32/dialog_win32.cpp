// Win32 dialogs: modeless dialogs from the module's resource templates, and
// each operation of platform/dialog.h as the one window message it stands for.
#include <windows.h>
// windows.h first: commctrl.h needs its types.
#include <commctrl.h>

#include "platform/dialog.h"
#include "platform/fp_mode.h"

namespace qv::platform {

namespace {

// Trackbar and progress-bar classes must be registered before a template that
// uses them is created; doing it again is harmless.
void init_common_controls() {
    static bool done = false;
    if (done) return;
    INITCOMMONCONTROLSEX icc;
    icc.dwSize = sizeof icc;
    icc.dwICC = ICC_BAR_CLASSES | ICC_PROGRESS_CLASS;
    done = InitCommonControlsEx(&icc) != FALSE;
}

// The module holding this code, which also holds the templates: used when the
// host left the module record's instance handle empty.
HINSTANCE this_module() {
    HMODULE m = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&this_module), &m);
    return m;
}

// Keeps the module holding the dialog procedure mapped until the process
// ends, from before its first window exists: a host that frees the module
// without Quit (or while a window of it is still alive) would otherwise leave
// window procedures pointing into unmapped code. The module never frees
// itself, least of all from inside its own window procedure.
void pin_this_module() {
    static bool pinned = false;
    if (pinned) return;
    HMODULE m = nullptr;
    pinned = GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                                reinterpret_cast<LPCSTR>(&pin_this_module), &m) != FALSE;
}

const DialogCallbacks* callbacks_of(HWND hwnd) {
    return reinterpret_cast<const DialogCallbacks*>(GetWindowLongPtrA(hwnd, DWLP_USER));
}

// Identifier of the control that sent a scroll notification; lParam is the
// trackbar's window (null for a window's own scroll bar, which has no id).
int scroll_sender(LPARAM lparam) { return lparam ? GetDlgCtrlID(reinterpret_cast<HWND>(lparam)) : -1; }

// One procedure for every dialog of the module. It returns FALSE for each
// message, so the dialog manager's default processing follows the callback,
// except after a callback destroyed the window it was called for. Every
// message, the timer's included, is handled in the module's floating-point
// mode: the panel's derivations never see the mode of the host's window thread.
INT_PTR CALLBACK dialog_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    const DefaultFpMode mode;
    if (msg == WM_INITDIALOG) {
        SetWindowLongPtrA(hwnd, DWLP_USER, static_cast<LONG_PTR>(lparam));
        const auto* cb = reinterpret_cast<const DialogCallbacks*>(lparam);
        if (cb && cb->init) cb->init(cb->context, hwnd);
        return FALSE;  // no initial keyboard focus
    }
    const DialogCallbacks* cb = callbacks_of(hwnd);
    if (!cb) return FALSE;  // messages of the creation, before WM_INITDIALOG
    switch (msg) {
        case WM_VSCROLL:
            if (cb->vscroll && lparam) cb->vscroll(cb->context, hwnd, scroll_sender(lparam));
            break;
        case WM_HSCROLL:
            if (cb->hscroll && lparam) cb->hscroll(cb->context, hwnd, scroll_sender(lparam));
            break;
        case WM_COMMAND:
            if (cb->command) cb->command(cb->context, hwnd, LOWORD(wparam));
            break;
        case WM_TIMER:
            if (cb->timer) cb->timer(cb->context, hwnd, static_cast<int>(wparam));
            break;
        case WM_MOVE:
            // Minimising moves the window to its icon's place, which is not
            // where the window stands: only moves of a window that is not
            // minimised are reported.
            if (cb->moved && !IsIconic(hwnd)) cb->moved(cb->context, hwnd);
            break;
        case WM_SYSCOMMAND:
            if (cb->sys_command) {
                cb->sys_command(cb->context, hwnd, static_cast<unsigned>(wparam));
                // A close that destroyed the window leaves nothing to process.
                if (!IsWindow(hwnd)) return TRUE;
            }
            break;
        case WM_DESTROY:
            // Sent once, whatever destroys the window (its own close, Quit,
            // or the destruction of the host window that owns it).
            if (cb->destroyed) cb->destroyed(cb->context, hwnd);
            break;
        case WM_NCDESTROY:
            SetWindowLongPtrA(hwnd, DWLP_USER, 0);
            break;
        default:
            break;
    }
    return FALSE;
}

LRESULT send_item(void* dialog, int id, UINT msg, WPARAM wparam, LPARAM lparam) {
    return dialog ? SendDlgItemMessageA(static_cast<HWND>(dialog), id, msg, wparam, lparam) : 0;
}

}  // namespace

void* create_dialog(const DialogTemplate& t, void* parent, void* module_instance, const DialogCallbacks* callbacks) {
    init_common_controls();
    pin_this_module();
    HINSTANCE instance = module_instance ? static_cast<HINSTANCE>(module_instance) : this_module();
    // A host window destroyed before this call would make the creation fail.
    HWND owner = parent && IsWindow(static_cast<HWND>(parent)) ? static_cast<HWND>(parent) : nullptr;
    return CreateDialogParamA(instance, MAKEINTRESOURCEA(t.resource_id), owner, dialog_proc,
                              reinterpret_cast<LPARAM>(callbacks));
}

void set_window_text(void* window, const char* text) {
    if (window) SetWindowTextA(static_cast<HWND>(window), text);
}

int get_window_text(void* window, char* buffer, int buffer_size) {
    if (!buffer || buffer_size <= 0) return 0;
    buffer[0] = '\0';
    return window ? GetWindowTextA(static_cast<HWND>(window), buffer, buffer_size) : 0;
}

void show_window(void* window) {
    if (!window) return;
    HWND hwnd = static_cast<HWND>(window);
    ShowWindow(hwnd, IsIconic(hwnd) ? SW_RESTORE : SW_SHOW);
}

void hide_window(void* window) {
    if (window) ShowWindow(static_cast<HWND>(window), SW_HIDE);
}

void minimize_window(void* window) {
    // CloseWindow minimises; it never destroys.
    if (window) CloseWindow(static_cast<HWND>(window));
}

void destroy_window(void* window) {
    if (window) DestroyWindow(static_cast<HWND>(window));
}

void start_timer(void* window, int timer_id, int period_ms) {
    if (window)
        SetTimer(static_cast<HWND>(window), static_cast<UINT_PTR>(timer_id), static_cast<UINT>(period_ms), nullptr);
}

void set_control_text(void* dialog, int id, const char* text) {
    if (dialog) SetDlgItemTextA(static_cast<HWND>(dialog), id, text);
}

int get_control_text(void* dialog, int id, char* buffer, int buffer_size) {
    if (!buffer || buffer_size <= 0) return 0;
    buffer[0] = '\0';
    const LRESULT n =
        send_item(dialog, id, WM_GETTEXT, static_cast<WPARAM>(buffer_size), reinterpret_cast<LPARAM>(buffer));
    buffer[buffer_size - 1] = '\0';
    return static_cast<int>(n);
}

void limit_edit_text(void* dialog, int id, int max_chars) { send_item(dialog, id, EM_LIMITTEXT, max_chars, 0); }

void set_slider_range_min(void* dialog, int id, int min) { send_item(dialog, id, TBM_SETRANGEMIN, FALSE, min); }

void set_slider_range_max(void* dialog, int id, int max) { send_item(dialog, id, TBM_SETRANGEMAX, FALSE, max); }

void set_slider_pos(void* dialog, int id, int pos) { send_item(dialog, id, TBM_SETPOS, TRUE, pos); }

int get_slider_pos(void* dialog, int id) { return static_cast<int>(send_item(dialog, id, TBM_GETPOS, 0, 0)); }

bool get_check(void* dialog, int id) { return send_item(dialog, id, BM_GETCHECK, 0, 0) == BST_CHECKED; }

void set_check(void* dialog, int id, bool checked) {
    send_item(dialog, id, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

int get_button_state(void* dialog, int id) { return static_cast<int>(send_item(dialog, id, BM_GETSTATE, 0, 0)); }

void set_meter_range(void* dialog, int id, int min, int max) { send_item(dialog, id, PBM_SETRANGE32, min, max); }

void set_meter_step(void* dialog, int id, int step) { send_item(dialog, id, PBM_SETSTEP, step, 0); }

void set_meter_pos(void* dialog, int id, int pos) { send_item(dialog, id, PBM_SETPOS, pos, 0); }

}  // namespace qv::platform
