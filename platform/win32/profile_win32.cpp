#include <windows.h>

#include "platform/profile.h"

namespace qv::platform {

int profile_read_int(const char* section, const char* key, int default_value, const char* path) {
    return static_cast<int>(GetPrivateProfileIntA(section, key, default_value, path));
}

bool profile_write_string(const char* section, const char* key, const char* value, const char* path) {
    return WritePrivateProfileStringA(section, key, value, path) != FALSE;
}

}  // namespace qv::platform
