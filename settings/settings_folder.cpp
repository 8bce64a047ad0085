#include "settings/settings_folder.h"

#include <cstdlib>

#include "settings/process_file.h"

namespace qv {

bool default_settings_folder(std::string& out, std::string& error) {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg != nullptr && xdg[0] == '/') {
        out = std::string(xdg) + "/quorvane";
        return true;
    }
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] != '\0') {
        out = std::string(home) + "/.config/quorvane";
        return true;
    }
    error = "no settings folder: set HOME or use --settings-dir";
    return false;
}

std::string process_file_in(const std::string& folder, int n) {
    char name[16];
    if (!process_file_name(n, name)) return folder + "/qv$" + std::to_string(n) + ".dat";
    return folder + "/" + name;
}

}  // namespace qv
