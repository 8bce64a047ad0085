#pragma once
// The `preset` subcommands. Each returns the exit status (cli/report/messages.h).
#include <string>
#include <vector>

namespace qv::cli {

// target is a process number 0..100 of the settings folder or a file path.
struct PresetOptions {
    std::string target;
    std::string settings_dir;  // --settings-dir DIR (default: the user's)
    std::vector<std::string> assignments;
};

int run_preset_list(const PresetOptions& options);
int run_preset_params();
int run_preset_show(const PresetOptions& options);
int run_preset_set(const PresetOptions& options);
int run_preset_defaults(const PresetOptions& options);
int run_preset_install_factory(const PresetOptions& options);

}  // namespace qv::cli
