#include "cli/presets/preset_store.h"

#include <cstdlib>

#include "platform/posix/fs_util.h"
#include "settings/factory.h"
#include "settings/process_file.h"
#include "settings/settings_folder.h"
#include "settings/startup.h"

namespace qv::cli {

bool settings_folder(const std::string& option, std::string& dir, std::string& error) {
    if (option.empty()) return default_settings_folder(dir, error);
    dir = option;
    return true;
}

bool settings_folder_for_writing(const std::string& option, std::string& dir, std::string& error) {
    if (!settings_folder(option, dir, error)) return false;
    if (platform::is_directory(dir)) return true;
    if (!option.empty()) {
        error = dir + ": no such settings folder (it is never created; make it first or leave out --settings-dir)";
        return false;
    }
    return platform::make_directories(dir, error);
}

std::string missing_process_message(const std::string& dir, int number) {
    std::string message = "process " + std::to_string(number) + " does not exist in " + dir +
                          " (`quorvane preset list` shows the stored processes";
    if (const FactoryProcess* f = find_factory_process(number))
        message += "; factory process " + std::to_string(number) + " \"" + f->name +
                   "\" is stored there by `quorvane preset install-factory`";
    return message + ")";
}

bool process_target(const std::string& arg, const std::string& settings_dir_option, std::string& path,
                    std::optional<int>& number, std::string& error) {
    number.reset();
    const bool numeric = !arg.empty() && arg.size() <= 4 && arg.find_first_not_of("0123456789") == std::string::npos;
    if (!numeric) {
        path = arg;
        return true;
    }
    const int n = std::atoi(arg.c_str());
    if (n > kMaxProcessNumber) {
        error = "process " + arg + " is outside 0..100";
        return false;
    }
    std::string dir;
    if (!settings_folder(settings_dir_option, dir, error)) return false;
    number = n;
    path = process_file_in(dir, n);
    return true;
}

bool resolve_process(const std::string& settings_dir_option, std::optional<int> number, ProcessParams& out,
                     std::string& description, std::string& error) {
    std::string dir;
    if (!settings_folder(settings_dir_option, dir, error)) return false;
    if (!settings_dir_option.empty() && !platform::is_directory(dir)) {
        error = dir + ": no such settings folder";
        return false;
    }
    const int n = number.value_or(0);
    if (n < 0 || n > kMaxProcessNumber) {
        error = "process " + std::to_string(n) + " is outside 0..100";
        return false;
    }
    const std::string path = process_file_in(dir, n);
    if (!platform::file_exists(path) && !platform::is_directory(path)) {
        if (number.has_value()) {
            error = missing_process_message(dir, n);
            return false;
        }
        fill_defaults(out);
        description = "built-in default " + quoted_process_name(out);
        return true;
    }
    if (platform::is_directory(path) || !read_process_file(path.c_str(), out)) {
        error = path + ": not a valid process file";
        return false;
    }
    description = "process " + std::to_string(n) + " " + quoted_process_name(out);
    return true;
}

std::string quoted_process_name(const ProcessParams& p) {
    char name[20];
    copy_process_name(name, p.global.process_name);
    return std::string("\"") + name + "\"";
}

}  // namespace qv::cli
