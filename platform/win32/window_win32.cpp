#include <windows.h>

#include "platform/window.h"

namespace qv::platform {

bool desktop_rect(ScreenRect& out) {
    RECT r;
    if (!GetClientRect(GetDesktopWindow(), &r)) return false;
    out = ScreenRect{r.left, r.top, r.right, r.bottom};
    return true;
}

bool window_rect(void* window, ScreenRect& out) {
    RECT r;
    if (!window || !GetWindowRect(static_cast<HWND>(window), &r)) return false;
    out = ScreenRect{r.left, r.top, r.right, r.bottom};
    return true;
}

void move_window(void* window, int x, int y) {
    if (!window) return;
    SetWindowPos(static_cast<HWND>(window), nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace qv::platform
