#pragma once
// The directory the module treats as its host's: process files qv$N.dat and
// winamp.ini. The module finds it through QUORVANE_HOST_DIR.
//
// Shared: the user's settings directory, used for --process N. The module
// reads process N there (writing the defaults when the file is missing or
// invalid, as in a player); the INI file is given ProcessNumber=N and
// Visible=0 for the run and restored byte for byte afterwards, so the tool
// never changes what a player using the same directory puts on air.
//
// Private: a fresh temporary directory holding qv$0.dat and a winamp.ini
// with ProcessNumber=0 and Visible=0, used for --preset and --set; removed
// at the end, so a stored process is never touched.
#include <string>

#include "settings/records.h"

namespace qv::cli {

struct HostDir {
    std::string path;
    bool is_private = false;
    bool ini_existed = false;
    std::string ini_path;
    std::string ini_backup;  // the INI file's bytes before the run
    bool active = false;
};

// $XDG_CONFIG_HOME/quorvane, else $HOME/.config/quorvane.
bool default_settings_dir(std::string& out, std::string& error);

bool prepare_shared_dir(HostDir& dir, const std::string& path, int process_number, std::string& error);
bool prepare_private_dir(HostDir& dir, const ProcessParams& process, std::string& error);

// Restores the INI file (shared) or removes the directory (private).
// Safe to call more than once.
void finish_host_dir(HostDir& dir);

}  // namespace qv::cli
