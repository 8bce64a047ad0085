#include <windows.h>

#include "platform/host_path.h"

namespace qv::platform {

bool host_executable_path(char* out, std::size_t cap) {
    if (!out || cap == 0) return false;
    const DWORD cap_dw = cap > 0x7fffffff ? 0x7fffffff : static_cast<DWORD>(cap);
    const DWORD n = GetModuleFileNameA(nullptr, out, cap_dw);
    // A result equal to the capacity means the path was cut short.
    if (n == 0 || n >= cap_dw) {
        out[0] = '\0';
        return false;
    }
    return true;
}

}  // namespace qv::platform
