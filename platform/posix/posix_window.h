#pragma once
// Headless stand-ins for windows and the desktop on POSIX, so that window
// placement runs (and is tested) without a display.
#include "platform/window.h"

namespace qv::platform {

// A window as far as placement is concerned: its top-left corner and size.
struct PosixWindow {
    int x, y, width, height;
};

// Sets the rectangle desktop_rect reports (initially 0, 0, 1024, 768).
void set_posix_desktop_rect(const ScreenRect& r);

}  // namespace qv::platform
