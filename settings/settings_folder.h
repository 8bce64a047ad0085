#pragma once
// Where the Linux front ends (command-line tool, plug-ins, web control) keep
// their processes: --settings-dir when given, else $XDG_CONFIG_HOME/quorvane,
// else ~/.config/quorvane. Process n is the file "qv$n.dat" there.
#include <string>

namespace qv {

// $XDG_CONFIG_HOME/quorvane (an absolute XDG_CONFIG_HOME only), else
// $HOME/.config/quorvane. False, with a message, when neither is set.
bool default_settings_folder(std::string& out, std::string& error);

// folder + "/qv$" + n + ".dat".
std::string process_file_in(const std::string& folder, int n);

}  // namespace qv
