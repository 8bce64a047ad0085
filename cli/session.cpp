#include "cli/session.h"

#include <cstdlib>
#include <string>

#include "cli/fs_util.h"
#include "cli/param_edit.h"
#include "settings/process_file.h"
#include "settings/startup.h"

namespace qv::cli {

namespace {

std::string plain_name(const ProcessParams& p) {
    char name[20];
    copy_process_name(name, p.global.process_name);
    return name;
}

std::string quoted_name(const ProcessParams& p) { return "\"" + plain_name(p) + "\""; }

bool settings_dir_of(const ProcessChoice& choice, std::string& dir, std::string& error) {
    if (!choice.settings_dir.empty()) {
        dir = choice.settings_dir;
        return true;
    }
    return default_settings_dir(dir, error);
}

// Path of process n in dir, by the module's own naming rule.
bool process_path_in(const std::string& dir, int n, std::string& path, std::string& error) {
    char buf[4096];
    if (setenv("QUORVANE_HOST_DIR", dir.c_str(), 1) != 0 || !process_file_path(n, buf, sizeof buf)) {
        error = dir + ": path too long";
        return false;
    }
    path = buf;
    return true;
}

}  // namespace

bool check_choice(const ProcessChoice& choice, std::string& error, bool& error_is_usage) {
    error_is_usage = true;
    ProcessParams scratch;
    fill_defaults(scratch);
    for (const std::string& set : choice.sets)
        if (!apply_assignment(scratch, set, error)) return false;
    error_is_usage = false;
    if (!choice.preset_file.empty()) {
        if (is_directory(choice.preset_file)) {
            error = choice.preset_file + ": is a directory";
            return false;
        }
        if (!file_exists(choice.preset_file)) {
            error = choice.preset_file + ": no such process file";
            return false;
        }
        if (!read_process_file(choice.preset_file.c_str(), scratch)) {
            error = choice.preset_file + ": not a valid process file";
            return false;
        }
    }
    return true;
}

bool start_session(Session& s, const ProcessChoice& choice, std::string& error) {
    std::string module_path;
    if (!find_module(module_path, error) || !open_module(s.module, module_path, error)) return false;

    const int number = choice.process_number.value_or(0);
    if (!choice.preset_file.empty() || !choice.sets.empty()) {
        ProcessParams p;
        if (!choice.preset_file.empty()) {
            if (!read_process_file(choice.preset_file.c_str(), p)) {
                error = choice.preset_file + ": not a valid process file";
                return false;
            }
            s.description = "preset " + choice.preset_file + " " + quoted_name(p);
            s.process_name = plain_name(p);
        } else {
            // The stored process as a player would play it: the defaults when
            // the file is missing or invalid. Only a copy is changed.
            std::string dir, path;
            if (!settings_dir_of(choice, dir, error) || !process_path_in(dir, number, path, error)) return false;
            if (!read_process_file(path.c_str(), p)) fill_defaults(p);
            s.description = "process " + std::to_string(number) + " " + quoted_name(p);
            s.process_number = number;
            s.process_name = plain_name(p);
        }
        for (const std::string& set : choice.sets)
            if (!apply_assignment(p, set, error)) return false;
        if (!choice.sets.empty()) s.description += " with --set";
        if (!prepare_private_dir(s.dir, p, error)) return false;
    } else {
        std::string dir;
        if (!settings_dir_of(choice, dir, error) || !prepare_shared_dir(s.dir, dir, number, error)) return false;
        s.description = "process " + std::to_string(number);
        s.process_number = number;
    }
    if (!init_module(s.module, error)) {
        end_session(s);
        return false;
    }
    if (!s.dir.is_private) {
        // Init has read the file, or written the defaults to it.
        ProcessParams p;
        std::string path;
        if (process_path_in(s.dir.path, number, path, error) && read_process_file(path.c_str(), p)) {
            s.description += " " + quoted_name(p);
            s.process_name = plain_name(p);
        }
        error.clear();
    }
    return true;
}

void end_session(Session& s) {
    quit_module(s.module);
    finish_host_dir(s.dir);
}

}  // namespace qv::cli
