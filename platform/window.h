#pragma once
// Window placement services. A window handle is opaque here: an HWND on
// Win32, a platform::PosixWindow* natively (platform/posix/posix_window.h).

namespace qv::platform {

struct ScreenRect {
    int left, top, right, bottom;
};

// The client rectangle of the desktop window. False when it cannot be queried.
bool desktop_rect(ScreenRect& out);

// The screen rectangle of a window. False for a null or invalid handle.
bool window_rect(void* window, ScreenRect& out);

// Moves a window's top-left corner to (x, y), keeping its size and z-order.
void move_window(void* window, int x, int y);

}  // namespace qv::platform
