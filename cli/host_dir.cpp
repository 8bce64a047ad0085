#include "cli/host_dir.h"

#include <dirent.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/fs_util.h"
#include "settings/host_ini.h"
#include "settings/process_file.h"

namespace qv::cli {

namespace {

bool point_module_at(HostDir& dir, std::string& error) {
    if (setenv("QUORVANE_HOST_DIR", dir.path.c_str(), 1) != 0) {
        error = "cannot set QUORVANE_HOST_DIR";
        return false;
    }
    char ini[4096];
    if (!ini_path(ini, sizeof ini)) {
        error = dir.path + ": path too long";
        return false;
    }
    dir.ini_path = ini;
    return true;
}

// The two keys the tool needs: the process to put on air, and no panel.
bool write_run_keys(const HostDir& dir, int process_number, std::string& error) {
    write_int_key(kIniSection, kKeyProcessNumber, process_number, dir.ini_path.c_str());
    write_int_key(kIniSection, kKeyVisible, 0, dir.ini_path.c_str());
    if (!file_exists(dir.ini_path)) {
        error = dir.ini_path + ": cannot be written";
        return false;
    }
    return true;
}

void remove_private_dir(const std::string& path) {
    if (DIR* d = opendir(path.c_str())) {
        std::vector<std::string> names;
        while (dirent* e = readdir(d)) {
            const std::string name = e->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        closedir(d);
        for (const std::string& name : names) unlink((path + "/" + name).c_str());
    }
    rmdir(path.c_str());
}

}  // namespace

bool default_settings_dir(std::string& out, std::string& error) {
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
    error = "no settings directory: set HOME or use --settings-dir";
    return false;
}

bool prepare_shared_dir(HostDir& dir, const std::string& path, int process_number, std::string& error) {
    if (!make_directories(path, error)) return false;
    dir.path = path;
    dir.is_private = false;
    if (!point_module_at(dir, error)) return false;
    dir.ini_existed = file_exists(dir.ini_path);
    if (dir.ini_existed && !read_whole_file(dir.ini_path, dir.ini_backup, error)) return false;
    dir.active = true;
    if (!write_run_keys(dir, process_number, error)) {
        finish_host_dir(dir);
        return false;
    }
    return true;
}

bool prepare_private_dir(HostDir& dir, const ProcessParams& process, std::string& error) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp") + "/quorvane.XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data()) == nullptr) {
        error = errno_message(pattern);
        return false;
    }
    dir.path = buf.data();
    dir.is_private = true;
    dir.active = true;
    if (!point_module_at(dir, error)) {
        finish_host_dir(dir);
        return false;
    }
    char process_path[4096];
    if (!process_file_path(0, process_path, sizeof process_path) || !write_process_file(process_path, process)) {
        error = dir.path + ": cannot write the process file";
        finish_host_dir(dir);
        return false;
    }
    if (!write_run_keys(dir, 0, error)) {
        finish_host_dir(dir);
        return false;
    }
    return true;
}

void finish_host_dir(HostDir& dir) {
    if (!dir.active) return;
    dir.active = false;
    if (dir.is_private) {
        remove_private_dir(dir.path);
        return;
    }
    std::string error;
    if (dir.ini_existed)
        write_file_atomic(dir.ini_path, dir.ini_backup, error);
    else
        unlink(dir.ini_path.c_str());
}

}  // namespace qv::cli
