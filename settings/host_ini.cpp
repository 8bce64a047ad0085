#include "settings/host_ini.h"

#include <algorithm>
#include <cstdio>

#include "platform/host_path.h"
#include "platform/profile.h"
#include "platform/window.h"

namespace qv {

namespace {

// Stored positions accepted as they are when the desktop cannot be trusted.
bool plausible(std::int32_t v) { return v > -32 && v < 8000; }

// A desktop whose rectangle can be used to clamp a position.
bool sane_desktop(platform::ScreenRect& d) {
    return platform::desktop_rect(d) && d.left < d.right && d.top < d.bottom && d.top >= 0 && d.left >= 0;
}

// Keeps at least 32 pixels of the panel's top edge (and its caption) reachable.
void clamp_to_desktop(const platform::ScreenRect& d, std::int32_t& x, std::int32_t& y) {
    x = std::max(x, d.left - 64);
    x = std::min(x, d.right - 32);
    y = std::max(y, d.top - 32);
    y = std::min(y, d.bottom - 32);
}

}  // namespace

bool ini_path(char* out, std::size_t cap) { return platform::host_file_path("winamp.ini", out, cap); }

std::int32_t read_int_key(const char* key, std::int32_t default_value) {
    char path[1024];
    if (!ini_path(path, sizeof path)) return default_value;
    return platform::profile_read_int(kIniSection, key, default_value, path);
}

void write_int_key(const char* section, const char* key, std::int32_t value, const char* path) {
    char text[16];
    std::snprintf(text, sizeof text, "%d", static_cast<int>(value));
    platform::profile_write_string(section, key, text, path);
}

void save_host_keys(const Settings& s) {
    char path[1024];
    if (!ini_path(path, sizeof path)) return;
    write_int_key(kIniSection, kKeyProcessNumber, s.selection.on_air_process, path);
    write_int_key(kIniSection, kKeyVisible, s.host.panel_visible, path);
    write_int_key(kIniSection, kKeyMinimized, s.host.panel_minimized, path);
}

void restore_panel_position(Settings& s, void* window) {
    std::int32_t x = read_int_key(kKeyPosX, -1);
    std::int32_t y = read_int_key(kKeyPosY, -1);
    platform::ScreenRect d;
    if (sane_desktop(d)) {
        clamp_to_desktop(d, x, y);
    } else if (!plausible(x) || !plausible(y)) {
        return;  // the window keeps the place the platform gave it
    }
    s.host.panel_pos_x = x;
    s.host.panel_pos_y = y;
    platform::move_window(window, x, y);
}

void save_panel_position(Settings& s) {
    platform::ScreenRect d;
    if (sane_desktop(d)) {
        clamp_to_desktop(d, s.host.panel_pos_x, s.host.panel_pos_y);
    } else if (!plausible(s.host.panel_pos_x) || !plausible(s.host.panel_pos_y)) {
        return;
    }
    char path[1024];
    if (!ini_path(path, sizeof path)) return;
    write_int_key(kIniSection, kKeyPosX, s.host.panel_pos_x, path);
    write_int_key(kIniSection, kKeyPosY, s.host.panel_pos_y, path);
}

}  // namespace qv
