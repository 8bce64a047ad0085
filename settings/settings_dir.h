#pragma once
// The user's settings folder, where the command-line tool and the plug-ins
// find the stored processes qv$N.dat.
#include <string>

namespace qv {

// $XDG_CONFIG_HOME/quorvane when that variable holds an absolute path, else
// $HOME/.config/quorvane. False when neither is set.
bool user_settings_dir(std::string& out);

}  // namespace qv
