#include <windows.h>

#include <cstdio>

#include "platform/file_ops.h"

namespace qv::platform {

bool write_file_replacing(const char* path, const void* bytes, std::size_t len) {
    if (path == nullptr || path[0] == '\0') return false;
    // CREATE_NEW fails on any existing name, so a fresh name per attempt.
    char tmp[MAX_PATH + 32];
    HANDLE h = INVALID_HANDLE_VALUE;
    static unsigned counter = 0;
    for (int attempt = 0; attempt < 16 && h == INVALID_HANDLE_VALUE; ++attempt) {
        const unsigned tag = GetTickCount() ^ (GetCurrentProcessId() << 16) ^ (++counter * 2654435761u);
        if (std::snprintf(tmp, sizeof tmp, "%s.%08x.tmp", path, tag) >= static_cast<int>(sizeof tmp)) return false;
        h = CreateFileA(tmp, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) return false;
    }
    if (h == INVALID_HANDLE_VALUE) return false;
    const char* p = static_cast<const char*>(bytes);
    bool ok = true;
    while (ok && len > 0) {
        const DWORD chunk = len > 0x40000000u ? 0x40000000u : static_cast<DWORD>(len);
        DWORD put = 0;
        ok = WriteFile(h, p, chunk, &put, nullptr) != FALSE && put == chunk;
        p += chunk;
        len -= chunk;
    }
    ok = FlushFileBuffers(h) != FALSE && ok;
    ok = CloseHandle(h) != FALSE && ok;
    // A read-only target is refused here rather than left to MoveFileExA,
    // which honours the attribute on Windows but not under every runtime
    // (Wine run by root replaces the file).
    const DWORD attributes = GetFileAttributesA(path);
    if (ok && attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) &&
        !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        DeleteFileA(tmp);
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    if (!ok || !MoveFileExA(tmp, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const DWORD cause = GetLastError();
        DeleteFileA(tmp);
        SetLastError(cause);
        return false;
    }
    return true;
}

}  // namespace qv::platform
