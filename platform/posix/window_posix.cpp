#include "platform/posix/posix_window.h"

namespace qv::platform {

namespace {
ScreenRect g_desktop{0, 0, 1024, 768};
}

void set_posix_desktop_rect(const ScreenRect& r) { g_desktop = r; }

bool desktop_rect(ScreenRect& out) {
    out = g_desktop;
    return true;
}

bool window_rect(void* window, ScreenRect& out) {
    if (!window) return false;
    const auto* w = static_cast<const PosixWindow*>(window);
    out = ScreenRect{w->x, w->y, w->x + w->width, w->y + w->height};
    return true;
}

void move_window(void* window, int x, int y) {
    if (!window) return;
    auto* w = static_cast<PosixWindow*>(window);
    w->x = x;
    w->y = y;
}

}  // namespace qv::platform
