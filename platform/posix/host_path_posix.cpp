#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/host_path.h"

namespace qv::platform {

bool host_executable_path(char* out, std::size_t cap) {
    if (!out || cap == 0) return false;
    out[0] = '\0';
    char exe[1024];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n > 0) {
        exe[n] = '\0';
    } else {
        std::strcpy(exe, "host");
    }
    const char* dir = std::getenv("QUORVANE_HOST_DIR");
    int len;
    if (dir && dir[0] != '\0') {
        const char* slash = std::strrchr(exe, '/');
        const char* name = slash ? slash + 1 : exe;
        const std::size_t dir_len = std::strlen(dir);
        const char* sep = dir[dir_len - 1] == '/' ? "" : "/";
        len = std::snprintf(out, cap, "%s%s%s", dir, sep, name);
    } else {
        if (n <= 0) return false;
        len = std::snprintf(out, cap, "%s", exe);
    }
    if (len < 0 || static_cast<std::size_t>(len) >= cap) {
        out[0] = '\0';
        return false;
    }
    return true;
}

}  // namespace qv::platform
