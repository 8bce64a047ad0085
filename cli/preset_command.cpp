// quorvane preset show|set|defaults FILE.dat: process files without the panel.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/fs_util.h"
#include "cli/param_edit.h"
#include "settings/process_file.h"
#include "settings/startup.h"

namespace qv::cli {

namespace {

bool read_valid(const std::string& file, ProcessParams& p) {
    if (is_directory(file)) {
        print_error(file + ": is a directory");
        return false;
    }
    if (!file_exists(file)) {
        print_error(file + ": no such process file");
        return false;
    }
    if (!read_process_file(file.c_str(), p)) {
        print_error(file + ": not a valid process file (" + std::to_string(kProcessFileBytes) +
                    " bytes with the magic number expected)");
        return false;
    }
    return true;
}

bool write_file(const std::string& file, const ProcessParams& p) {
    if (is_directory(file) || !write_process_file(file.c_str(), p)) {
        print_error(file + ": cannot be written");
        return false;
    }
    return true;
}

}  // namespace

int run_preset_show(const std::string& file) {
    ProcessParams p;
    if (!read_valid(file, p)) return kExitFailure;
    print_process(stdout, p);
    return std::fflush(stdout) == 0 ? kExitOk : kExitFailure;
}

int run_preset_set(const std::string& file, const std::vector<std::string>& assignments) {
    ProcessParams p;
    if (!read_valid(file, p)) return kExitFailure;
    // Every assignment is checked before the file is touched.
    std::string error;
    for (const std::string& a : assignments) {
        if (!apply_assignment(p, a, error)) {
            print_error(error + "; " + file + " left unchanged");
            return kExitUsage;
        }
    }
    if (!write_file(file, p)) return kExitFailure;
    if (g_verbosity >= kNormal)
        std::fprintf(stderr, "quorvane: %s: %zu value(s) set\n", file.c_str(), assignments.size());
    return kExitOk;
}

int run_preset_defaults(const std::string& file) {
    ProcessParams p;
    fill_defaults(p);
    if (!write_file(file, p)) return kExitFailure;
    if (g_verbosity >= kNormal) std::fprintf(stderr, "quorvane: %s: default process written\n", file.c_str());
    return kExitOk;
}

}  // namespace qv::cli
