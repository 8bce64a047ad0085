#pragma once
// One run of the module: which process it plays, its host directory, and the
// module itself from Init to Quit.
#include <optional>
#include <string>
#include <vector>

#include "cli/host_dir.h"
#include "cli/module_host.h"

namespace qv::cli {

// The process options shared by `process` and `stream`.
struct ProcessChoice {
    std::optional<int> process_number;  // --process N (default 0)
    std::string preset_file;            // --preset FILE.dat
    std::vector<std::string> sets;      // --set NAME=VALUE
    std::string settings_dir;           // --settings-dir DIR (default: the user's)
};

struct Session {
    HostDir dir;
    ModuleHost module;
    std::string description;  // e.g. `process 3 "NEWS"` or `preset x.dat "LOUD"`, for the summary
    int process_number = -1;  // the stored process played; -1 for --preset
    std::string process_name;
};

// Validates the choice and finds the module without touching any file.
// error_is_usage tells a bad option (exit 2) from a processing failure (exit 1).
bool check_choice(const ProcessChoice& choice, std::string& error, bool& error_is_usage);

// Prepares the host directory, loads the module and runs Init.
bool start_session(Session& s, const ProcessChoice& choice, std::string& error);
// Quit, then restores or removes the host directory. Safe to call twice.
void end_session(Session& s);

}  // namespace qv::cli
