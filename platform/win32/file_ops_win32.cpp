#include <io.h>
#include <windows.h>

#include <cstdio>

#include "platform/file_ops.h"

namespace qv::platform {

bool commit_file(std::FILE* f) { return std::fflush(f) == 0 && _commit(_fileno(f)) == 0; }

bool replace_file(const char* from, const char* to) {
    // A read-only target is refused here rather than left to MoveFileExA,
    // which honours the attribute on Windows but not under every runtime
    // (Wine run by root replaces the file).
    const DWORD attributes = GetFileAttributesA(to);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) &&
        !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
}

}  // namespace qv::platform
