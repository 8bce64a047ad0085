// quorvane preset list|params|show|set|defaults|install-factory: processes
// without the panel, by number in the settings folder or by file path.
#include "cli/presets/preset_command.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "cli/presets/preset_store.h"
#include "cli/report/messages.h"
#include "platform/posix/fs_util.h"
#include "platform/posix/temp_file.h"
#include "settings/factory.h"
#include "settings/param_edit.h"
#include "settings/param_table.h"
#include "settings/process_file.h"
#include "settings/settings_folder.h"
#include "settings/startup.h"

namespace qv::cli {

namespace {

// The file a target names; a number names a process of the settings folder.
bool target_path(const PresetOptions& o, std::string& path, std::optional<int>& number) {
    std::string error;
    if (!process_target(o.target, o.settings_dir, path, number, error)) {
        print_error(error);
        return false;
    }
    return true;
}

bool read_valid(const std::string& file, std::optional<int> number, const std::string& dir, ProcessParams& p) {
    if (platform::is_directory(file)) {
        print_error(file + ": is a directory");
        return false;
    }
    if (!platform::file_exists(file)) {
        print_error(number ? missing_process_message(dir, *number) : file + ": no such process file");
        return false;
    }
    if (!read_process_file(file.c_str(), p)) {
        print_error(file + ": not a valid process file (" + std::to_string(kProcessFileBytes) +
                    " bytes with the magic number expected)");
        return false;
    }
    return true;
}

// The process the target names, read from path. kExitOk, or the exit
// status after printing the fault.
int read_target(const PresetOptions& o, std::string& path, ProcessParams& p) {
    std::string dir, error;
    std::optional<int> number;
    if (!target_path(o, path, number)) return kExitUsage;
    if (number) settings_folder(o.settings_dir, dir, error);
    return read_valid(path, number, dir, p) ? kExitOk : kExitFailure;
}

bool write_file(const std::string& file, const ProcessParams& p) {
    if (platform::is_directory(file) || !write_process_file(file.c_str(), p)) {
        print_error(file + ": cannot be written");
        return false;
    }
    return true;
}

// Stores p as path unless a file of that name exists: the file appears
// complete under its name or not at all, and never replaces one. What a
// killed earlier run left for path is removed either way.
// 1 written, 0 kept, -1 failure (error set).
int store_new(const std::string& path, const ProcessParams& p, std::string& error) {
    if (!platform::remove_leftovers(path, error)) return -1;
    struct stat st;
    if (lstat(path.c_str(), &st) == 0) return 0;
    static unsigned char bytes[kProcessFileBytes];
    encode_process(p, bytes);
    platform::PendingFile file;
    if (!platform::pending_create(file, path, error)) return -1;
    if (!platform::write_full(file.fd, bytes, sizeof bytes)) {
        error = platform::errno_message(path);
        platform::pending_discard(file, &error);
        return -1;
    }
    if (platform::pending_publish(file, platform::ReplacePolicy::never, error)) return 1;
    return errno == EEXIST ? 0 : -1;
}

std::string modified_text(const struct stat& st) {
    struct tm local;
    char text[32];
    if (localtime_r(&st.st_mtime, &local) == nullptr || std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local) == 0)
        return "?";
    return text;
}

}  // namespace

int run_preset_list(const PresetOptions& o) {
    std::string dir, error;
    if (!settings_folder(o.settings_dir, dir, error)) {
        print_error(error);
        return kExitFailure;
    }
    if (!platform::is_directory(dir)) {
        if (!o.settings_dir.empty()) {
            print_error(dir + ": no such settings folder");
            return kExitFailure;
        }
        std::fprintf(stderr, "quorvane: %s does not exist yet: no stored processes\n", dir.c_str());
        return kExitOk;
    }
    std::printf("%3s  %-19s  %s\n", "N", "name", "modified");
    int listed = 0;
    std::string missing_factory;
    for (int n = 0; n <= kMaxProcessNumber; ++n) {
        const std::string path = process_file_in(dir, n);
        struct stat st;
        if (stat(path.c_str(), &st) != 0) {
            if (const FactoryProcess* f = find_factory_process(n))
                missing_factory += (missing_factory.empty() ? "" : ", ") + std::to_string(n) + " " + f->name;
            continue;
        }
        ProcessParams p;
        char name[20] = "(not a process)";
        if (S_ISREG(st.st_mode) && read_process_file(path.c_str(), p)) copy_process_name(name, p.global.process_name);
        std::printf("%3d  %-19s  %s\n", n, name, modified_text(st).c_str());
        ++listed;
    }
    if (std::fflush(stdout) != 0) return kExitFailure;
    std::fprintf(stderr, "quorvane: %d process(es) in %s\n", listed, dir.c_str());
    if (!missing_factory.empty())
        std::fprintf(stderr, "quorvane: factory processes not stored here: %s (`quorvane preset install-factory`)\n",
                     missing_factory.c_str());
    return kExitOk;
}

int run_preset_params() {
    print_param_list(stdout);
    return std::fflush(stdout) == 0 ? kExitOk : kExitFailure;
}

int run_preset_show(const PresetOptions& o) {
    std::string path;
    ProcessParams p;
    if (const int status = read_target(o, path, p); status != kExitOk) return status;
    print_process(stdout, p);
    return std::fflush(stdout) == 0 ? kExitOk : kExitFailure;
}

int run_preset_set(const PresetOptions& o) {
    std::string path, error;
    ProcessParams p;
    if (const int status = read_target(o, path, p); status != kExitOk) return status;
    // Every assignment is checked before the file is touched.
    for (const std::string& a : o.assignments) {
        if (!apply_param_assignment(p, a, error)) {
            print_error(error + "; " + path + " left unchanged");
            return kExitUsage;
        }
    }
    if (!write_file(path, p)) return kExitFailure;
    if (g_verbosity >= kNormal)
        std::fprintf(stderr, "quorvane: %s: %zu value(s) set, file rewritten\n", path.c_str(), o.assignments.size());
    return kExitOk;
}

int run_preset_defaults(const PresetOptions& o) {
    std::string path, dir, error;
    std::optional<int> number;
    if (!target_path(o, path, number)) return kExitUsage;
    if (number && !settings_folder_for_writing(o.settings_dir, dir, error)) {
        print_error(error);
        return kExitFailure;
    }
    ProcessParams p;
    fill_defaults(p);
    if (!write_file(path, p)) return kExitFailure;
    if (g_verbosity >= kNormal) std::fprintf(stderr, "quorvane: %s: default process written\n", path.c_str());
    return kExitOk;
}

int run_preset_install_factory(const PresetOptions& o) {
    std::string dir, error;
    if (!settings_folder_for_writing(o.settings_dir, dir, error)) {
        print_error(error);
        return kExitFailure;
    }
    int status = kExitOk;
    for (int i = 0; i < kFactoryProcessCount; ++i) {
        const FactoryProcess& f = kFactoryProcesses[i];
        ProcessParams p;
        if (!factory_params(f, p, error)) {
            print_error(error);
            return kExitFailure;
        }
        const std::string path = process_file_in(dir, f.number);
        const int stored = store_new(path, p, error);
        if (stored < 0) {
            print_error(error);
            status = kExitFailure;
        } else if (g_verbosity >= kNormal) {
            std::fprintf(stderr,
                         stored ? "quorvane: %3d %-19s stored as %s\n"
                                : "quorvane: %3d %-19s kept the process already stored as %s\n",
                         f.number, f.name, path.c_str());
        }
    }
    return status;
}

}  // namespace qv::cli
