#pragma once
// The module's keys in the host's INI file ("winamp.ini" beside the host
// executable, section "Quorvane2"), and the panel position kept there.
#include <cstddef>
#include <cstdint>

#include "settings/settings.h"

namespace qv {

constexpr char kIniSection[] = "Quorvane2";
constexpr char kKeyProcessNumber[] = "ProcessNumber";
constexpr char kKeyVisible[] = "Visible";
constexpr char kKeyMinimized[] = "Minimized";
constexpr char kKeyPosX[] = "pos_x";
constexpr char kKeyPosY[] = "pos_y";

// Full path of the host's INI file. False when the host path is unknown.
bool ini_path(char* out, std::size_t cap);

// Reads an integer key of the module's section (default when absent).
std::int32_t read_int_key(const char* key, std::int32_t default_value);

// Writes value as "%d" under section/key of the file at path; the result of
// the write is not used.
void write_int_key(const char* section, const char* key, std::int32_t value, const char* path);

// Writes "ProcessNumber", "Visible" and "Minimized", in this order.
void save_host_keys(const Settings& s);

// Places a freshly created panel window at the stored position, clamped to
// the desktop; updates host.panel_pos_x/y when it moves the window.
void restore_panel_position(Settings& s, void* window);

// Clamps host.panel_pos_x/y to the desktop and writes "pos_x" and "pos_y".
void save_panel_position(Settings& s);

}  // namespace qv
