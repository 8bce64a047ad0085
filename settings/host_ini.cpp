#include "settings/host_ini.h"

namespace qv {

bool ini_path(char*, std::size_t) { return false; }
std::int32_t read_int_key(const char*, std::int32_t d) { return d; }
void write_int_key(const char*, const char*, std::int32_t, const char*) {}
void save_host_keys(const Settings&) {}
void restore_panel_position(Settings&, void*) {}
void save_panel_position(Settings&) {}

}  // namespace qv
