#include "platform/host_path.h"

#include <cstring>

namespace qv::platform {

namespace {

bool is_separator(char c) {
#ifdef _WIN32
    return c == '\\' || c == '/' || c == ':';
#else
    return c == '/';
#endif
}

}  // namespace

bool replace_file_name(const char* path, const char* file_name, char* out, std::size_t cap) {
    if (!path || !file_name || !out || cap == 0) return false;
    std::size_t dir_len = std::strlen(path);
    while (dir_len > 0 && !is_separator(path[dir_len - 1])) --dir_len;
    const std::size_t name_len = std::strlen(file_name);
    if (dir_len + name_len + 1 > cap) {
        out[0] = '\0';
        return false;
    }
    std::memmove(out, path, dir_len);
    std::memcpy(out + dir_len, file_name, name_len + 1);
    return true;
}

bool host_file_path(const char* file_name, char* out, std::size_t cap) {
    char exe[1024];
    if (!host_executable_path(exe, sizeof exe)) {
        if (out && cap) out[0] = '\0';
        return false;
    }
    return replace_file_name(exe, file_name, out, cap);
}

}  // namespace qv::platform
