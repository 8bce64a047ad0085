#include "settings/settings_dir.h"

#include <cstdlib>

namespace qv {

bool user_settings_dir(std::string& out) {
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
    return false;
}

}  // namespace qv
