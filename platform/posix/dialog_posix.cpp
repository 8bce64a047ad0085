#include <cctype>
#include <cstring>

#include "platform/dialog.h"
#include "platform/fp_mode.h"
#include "platform/posix/headless_dialog.h"
#include "platform/posix/posix_window.h"

namespace qv::platform {

namespace {

constexpr int kMaxControls = 256;
constexpr int kMaxDialogs = 16;
constexpr int kMaxTimers = 4;
constexpr int kTextCapacity = 512;
constexpr int kDefaultEditLimit = 32767;

struct HeadlessControl {
    const ControlDef* def;
    char text[kTextCapacity];
    bool checked;
    bool pushed;
    int range_min, range_max, pos;  // trackbar
    int meter_min, meter_max, meter_step, meter_pos, meter_requested;
    int edit_limit;
};

struct Timer {
    int id;
    int period_ms;
};

struct HeadlessDialog {
    PosixWindow window;  // first member: a dialog handle is a PosixWindow* as well
    const DialogTemplate* tmpl;
    const DialogCallbacks* callbacks;
    void* owner;  // the parent it was created with: its destruction destroys this dialog
    char title[kTextCapacity];
    bool visible;
    bool minimized;
    bool destroying;  // its destroyed callback runs; it still exists
    bool destroyed;
    int dispatch_depth;  // callbacks running; destruction waits until they return
    int misuse;
    Timer timers[kMaxTimers];
    int control_count;
    HeadlessControl controls[kMaxControls];
};

HeadlessDialog* g_dialogs[kMaxDialogs];
bool g_fail_next_create = false;

void copy_text(char (&dst)[kTextCapacity], const char* src, int max_chars = kTextCapacity - 1) {
    if (max_chars > kTextCapacity - 1) max_chars = kTextCapacity - 1;
    int n = 0;
    if (src)
        for (; n < max_chars && src[n] != '\0'; ++n) dst[n] = src[n];
    dst[n] = '\0';
}

int copy_out(const char* text, char* buffer, int buffer_size) {
    if (!buffer || buffer_size <= 0) return 0;
    int n = 0;
    for (; n < buffer_size - 1 && text[n] != '\0'; ++n) buffer[n] = text[n];
    buffer[n] = '\0';
    return n;
}

HeadlessDialog* live(void* handle) {
    if (!handle) return nullptr;
    for (HeadlessDialog* d : g_dialogs)
        if (d == handle && !d->destroyed) return d;
    return nullptr;
}

void release(HeadlessDialog* d) {
    for (HeadlessDialog*& slot : g_dialogs)
        if (slot == d) slot = nullptr;
    delete d;
}

HeadlessControl* find(HeadlessDialog* d, int id) {
    if (id == kUnaddressed) return nullptr;
    for (int i = 0; i < d->control_count; ++i)
        if (d->controls[i].def->id == id) return &d->controls[i];
    return nullptr;
}

// The control with this id and kind, or null (counted as a misuse).
HeadlessControl* find_kind(void* handle, int id, ControlKind kind) {
    HeadlessDialog* d = live(handle);
    if (!d) return nullptr;
    HeadlessControl* c = find(d, id);
    if (!c || c->def->kind != kind) {
        ++d->misuse;
        return nullptr;
    }
    return c;
}

bool is_button(ControlKind k) {
    return k == ControlKind::push_button || k == ControlKind::check_box || k == ControlKind::radio_button;
}

HeadlessControl* find_button(void* handle, int id) {
    HeadlessDialog* d = live(handle);
    if (!d) return nullptr;
    HeadlessControl* c = find(d, id);
    if (!c || !is_button(c->def->kind)) {
        ++d->misuse;
        return nullptr;
    }
    return c;
}

int clamp(int v, int lo, int hi) { return v < lo ? lo : v > hi ? hi : v; }

// Runs one callback as the Win32 dialog procedure does, in the module's
// floating-point mode, with the dialog's release deferred until it returns;
// the caller releases it.
template <typename Fn>
void run_callback(HeadlessDialog* d, Fn&& fn) {
    const DefaultFpMode mode;
    ++d->dispatch_depth;
    fn(*d->callbacks);
    --d->dispatch_depth;
}

// Runs one callback, then releases the dialog if it was destroyed meanwhile.
template <typename Fn>
void dispatch(HeadlessDialog* d, Fn&& fn) {
    run_callback(d, fn);
    if (d->destroyed && d->dispatch_depth == 0) release(d);
}

void notify_command(HeadlessDialog* d, int id) {
    if (!d->callbacks || !d->callbacks->command) return;
    dispatch(d, [&](const DialogCallbacks& cb) { cb.command(cb.context, d, id); });
}

// Dialog units to pixels for an 8-point "MS Sans Serif" (base units 6 x 13),
// plus the frame and caption bar.
int width_px(int du) { return du * 6 / 4 + 6; }
int height_px(int du) { return du * 13 / 8 + 25; }

}  // namespace

void* create_dialog(const DialogTemplate& t, void* parent, void*, const DialogCallbacks* callbacks) {
    if (g_fail_next_create) {
        g_fail_next_create = false;
        return nullptr;
    }
    HeadlessDialog** slot = nullptr;
    for (HeadlessDialog*& s : g_dialogs)
        if (!s) {
            slot = &s;
            break;
        }
    if (!slot || t.control_count > kMaxControls) return nullptr;

    auto* d = new HeadlessDialog{};
    d->tmpl = &t;
    d->callbacks = callbacks;
    d->owner = parent;
    d->window = PosixWindow{0, 0, width_px(t.width), height_px(t.height)};
    if (t.centred) {
        ScreenRect desk{};
        if (desktop_rect(desk)) {
            d->window.x = desk.left + (desk.right - desk.left - d->window.width) / 2;
            d->window.y = desk.top + (desk.bottom - desk.top - d->window.height) / 2;
        }
    }
    d->control_count = t.control_count;
    for (int i = 0; i < t.control_count; ++i) {
        HeadlessControl& c = d->controls[i];
        c.def = &t.controls[i];
        copy_text(c.text, c.def->caption);
        c.range_min = 0;  // the platform's trackbar and progress bar defaults
        c.range_max = 100;
        c.meter_max = 100;
        c.meter_step = 10;
        c.edit_limit = kDefaultEditLimit;
    }
    *slot = d;
    if (callbacks && callbacks->init) dispatch(d, [&](const DialogCallbacks& cb) { cb.init(cb.context, d); });
    return live(d);
}

void set_window_text(void* window, const char* text) {
    if (HeadlessDialog* d = live(window)) copy_text(d->title, text);
}

int get_window_text(void* window, char* buffer, int buffer_size) {
    HeadlessDialog* d = live(window);
    if (!d) return copy_out("", buffer, buffer_size);
    return copy_out(d->title, buffer, buffer_size);
}

void show_window(void* window) {
    if (HeadlessDialog* d = live(window)) {
        d->visible = true;
        d->minimized = false;
    }
}

void hide_window(void* window) {
    if (HeadlessDialog* d = live(window)) d->visible = false;
}

void minimize_window(void* window) {
    if (HeadlessDialog* d = live(window)) {
        d->visible = true;
        d->minimized = true;
    }
}

void destroy_window(void* window) {
    HeadlessDialog* d = live(window);
    if (!d || d->destroying) return;
    d->destroying = true;
    headless::destroy_owned(d);  // owned dialogs go first, as on Win32
    if (d->callbacks && d->callbacks->destroyed)
        run_callback(d, [&](const DialogCallbacks& cb) { cb.destroyed(cb.context, d); });
    d->destroyed = true;
    d->visible = false;
    if (d->dispatch_depth == 0) release(d);
}

void start_timer(void* window, int timer_id, int period_ms) {
    HeadlessDialog* d = live(window);
    if (!d) return;
    Timer* free_slot = nullptr;
    for (Timer& t : d->timers) {
        if (t.period_ms > 0 && t.id == timer_id) {
            t.period_ms = period_ms;  // restarting a timer replaces it
            return;
        }
        if (t.period_ms == 0 && !free_slot) free_slot = &t;
    }
    if (free_slot) *free_slot = Timer{timer_id, period_ms};
}

void set_control_text(void* dialog, int id, const char* text) {
    HeadlessDialog* d = live(dialog);
    if (!d) return;
    HeadlessControl* c = find(d, id);
    if (!c) {
        ++d->misuse;
        return;
    }
    copy_text(c->text, text);
    if (c->def->kind == ControlKind::edit) {
        // The edit converts to upper case and reports the change.
        for (char* p = c->text; *p; ++p) *p = static_cast<char>(std::toupper(static_cast<unsigned char>(*p)));
        notify_command(d, id);
    }
}

int get_control_text(void* dialog, int id, char* buffer, int buffer_size) {
    HeadlessDialog* d = live(dialog);
    HeadlessControl* c = d ? find(d, id) : nullptr;
    if (d && !c) ++d->misuse;
    return copy_out(c ? c->text : "", buffer, buffer_size);
}

void limit_edit_text(void* dialog, int id, int max_chars) {
    if (HeadlessControl* c = find_kind(dialog, id, ControlKind::edit))
        c->edit_limit = max_chars > 0 ? max_chars : kDefaultEditLimit;
}

void set_slider_range_min(void* dialog, int id, int min) {
    if (HeadlessControl* c = find_kind(dialog, id, ControlKind::trackbar)) {
        c->range_min = min;
        if (c->range_max < min) c->range_max = min;
        c->pos = clamp(c->pos, c->range_min, c->range_max);
    }
}

void set_slider_range_max(void* dialog, int id, int max) {
    if (HeadlessControl* c = find_kind(dialog, id, ControlKind::trackbar)) {
        c->range_max = max;
        if (c->range_min > max) c->range_min = max;
        c->pos = clamp(c->pos, c->range_min, c->range_max);
    }
}

void set_slider_pos(void* dialog, int id, int pos) {
    if (HeadlessControl* c = find_kind(dialog, id, ControlKind::trackbar))
        c->pos = clamp(pos, c->range_min, c->range_max);
}

int get_slider_pos(void* dialog, int id) {
    HeadlessControl* c = find_kind(dialog, id, ControlKind::trackbar);
    return c ? c->pos : 0;
}

bool get_check(void* dialog, int id) {
    HeadlessControl* c = find_button(dialog, id);
    return c && c->checked;
}

void set_check(void* dialog, int id, bool checked) {
    if (HeadlessControl* c = find_button(dialog, id)) c->checked = checked;
}

int get_button_state(void* dialog, int id) {
    HeadlessControl* c = find_button(dialog, id);
    if (!c) return 0;
    return (c->checked ? 1 : 0) | (c->pushed ? kButtonPushed : 0);
}

void set_meter_range(void* dialog, int id, int min, int max) {
    if (HeadlessControl* c = find_kind(dialog, id, ControlKind::progress)) {
        c->meter_min = min;
        c->meter_max = max;
        c->meter_pos = clamp(c->meter_pos, min, max);
    }
}

void set_meter_step(void* dialog, int id, int step) {
    if (HeadlessControl* c = find_kind(dialog, id, ControlKind::progress)) c->meter_step = step;
}

void set_meter_pos(void* dialog, int id, int pos) {
    if (HeadlessControl* c = find_kind(dialog, id, ControlKind::progress)) {
        c->meter_requested = pos;
        c->meter_pos = clamp(pos, c->meter_min, c->meter_max);
    }
}

namespace headless {

int dialog_count() {
    int n = 0;
    for (HeadlessDialog* d : g_dialogs)
        if (d && !d->destroyed) ++n;
    return n;
}

bool exists(void* dialog) { return live(dialog) != nullptr; }

void fail_next_create() { g_fail_next_create = true; }

void destroy_owned(void* owner) {
    if (!owner) return;
    for (HeadlessDialog* d : g_dialogs)
        if (d && d->owner == owner) destroy_window(d);
}

const char* title(void* dialog) {
    HeadlessDialog* d = live(dialog);
    return d ? d->title : "";
}

bool visible(void* dialog) {
    HeadlessDialog* d = live(dialog);
    return d && d->visible;
}

bool minimized(void* dialog) {
    HeadlessDialog* d = live(dialog);
    return d && d->minimized;
}

int timer_period_ms(void* dialog, int timer_id) {
    HeadlessDialog* d = live(dialog);
    if (!d) return 0;
    for (const Timer& t : d->timers)
        if (t.period_ms > 0 && t.id == timer_id) return t.period_ms;
    return 0;
}

namespace {
const HeadlessControl* peek(void* dialog, int id) {
    HeadlessDialog* d = live(dialog);
    return d ? find(d, id) : nullptr;
}
}  // namespace

const ControlDef* control(void* dialog, int id) {
    const HeadlessControl* c = peek(dialog, id);
    return c ? c->def : nullptr;
}
const char* text(void* dialog, int id) {
    const HeadlessControl* c = peek(dialog, id);
    return c ? c->text : "";
}
bool checked(void* dialog, int id) {
    const HeadlessControl* c = peek(dialog, id);
    return c && c->checked;
}
bool pushed(void* dialog, int id) {
    const HeadlessControl* c = peek(dialog, id);
    return c && c->pushed;
}
int slider_pos(void* dialog, int id) {
    const HeadlessControl* c = peek(dialog, id);
    return c ? c->pos : 0;
}
int slider_min(void* dialog, int id) {
    const HeadlessControl* c = peek(dialog, id);
    return c ? c->range_min : 0;
}
int slider_max(void* dialog, int id) {
    const HeadlessControl* c = peek(dialog, id);
    return c ? c->range_max : 0;
}
int meter_pos(void* dialog, int id) {
    const HeadlessControl* c = peek(dialog, id);
    return c ? c->meter_pos : 0;
}
int meter_requested_pos(void* dialog, int id) {
    const HeadlessControl* c = peek(dialog, id);
    return c ? c->meter_requested : 0;
}
int meter_min(void* dialog, int id) {
    const HeadlessControl* c = peek(dialog, id);
    return c ? c->meter_min : 0;
}
int meter_max(void* dialog, int id) {
    const HeadlessControl* c = peek(dialog, id);
    return c ? c->meter_max : 0;
}
int meter_step(void* dialog, int id) {
    const HeadlessControl* c = peek(dialog, id);
    return c ? c->meter_step : 0;
}
int edit_limit(void* dialog, int id) {
    const HeadlessControl* c = peek(dialog, id);
    return c ? c->edit_limit : 0;
}
int misuse_count(void* dialog) {
    HeadlessDialog* d = live(dialog);
    return d ? d->misuse : 0;
}

void click(void* dialog, int id) {
    HeadlessDialog* d = live(dialog);
    if (!d) return;
    HeadlessControl* c = find(d, id);
    if (!c || !is_button(c->def->kind)) {
        ++d->misuse;
        return;
    }
    if (c->def->kind == ControlKind::check_box) {
        c->checked = !c->checked;
    } else if (c->def->kind == ControlKind::radio_button) {
        for (int i = 0; i < d->control_count; ++i)
            if (d->controls[i].def->radio_group == c->def->radio_group) d->controls[i].checked = false;
        c->checked = true;
    }
    notify_command(d, id);
}

void move_slider(void* dialog, int id, int pos) {
    HeadlessControl* c = find_kind(dialog, id, ControlKind::trackbar);
    if (!c) return;
    HeadlessDialog* d = live(dialog);
    c->pos = clamp(pos, c->range_min, c->range_max);
    if (!d->callbacks) return;
    const bool vertical = (c->def->flags & cf::vertical) != 0;
    dispatch(d, [&](const DialogCallbacks& cb) {
        if (vertical && cb.vscroll) cb.vscroll(cb.context, d, id);
        if (!vertical && cb.hscroll) cb.hscroll(cb.context, d, id);
    });
}

void type_text(void* dialog, int id, const char* typed) {
    HeadlessControl* c = find_kind(dialog, id, ControlKind::edit);
    if (!c) return;
    copy_text(c->text, typed, c->edit_limit);
    for (char* p = c->text; *p; ++p) *p = static_cast<char>(std::toupper(static_cast<unsigned char>(*p)));
    notify_command(live(dialog), id);
}

void hold_button(void* dialog, int id, bool held) {
    if (HeadlessControl* c = find_button(dialog, id)) c->pushed = held;
}

void tick(void* dialog, int timer_id) {
    HeadlessDialog* d = live(dialog);
    if (!d || timer_period_ms(d, timer_id) == 0 || !d->callbacks || !d->callbacks->timer) return;
    dispatch(d, [&](const DialogCallbacks& cb) { cb.timer(cb.context, d, timer_id); });
}

void sys_command(void* dialog, unsigned command) {
    HeadlessDialog* d = live(dialog);
    if (!d) return;
    if (d->callbacks && d->callbacks->sys_command) {
        // Released below, after the default processing.
        run_callback(d, [&](const DialogCallbacks& cb) { cb.sys_command(cb.context, d, command); });
        if (d->destroyed) {
            if (d->dispatch_depth == 0) release(d);
            return;
        }
    }
    if (command == kSysCommandMinimize) minimize_window(d);
    if (command == kSysCommandRestore) show_window(d);
}

void drag_window(void* dialog, int x, int y) {
    HeadlessDialog* d = live(dialog);
    if (!d) return;
    d->window.x = x;
    d->window.y = y;
    if (d->callbacks && d->callbacks->moved) dispatch(d, [&](const DialogCallbacks& cb) { cb.moved(cb.context, d); });
}

}  // namespace headless

}  // namespace qv::platform
