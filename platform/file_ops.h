#pragma once
// File operations the portable C library lacks: committing written data to
// the disk and replacing a file in one step.
#include <cstdio>

namespace qv::platform {

// Flushes f's buffers and asks the system to put its data on the disk.
bool commit_file(std::FILE* f);

// Renames from over to in one step, replacing an existing to (POSIX rename;
// Win32 MoveFileExA with MOVEFILE_REPLACE_EXISTING). A write-protected to
// (Win32: read-only attribute; POSIX: no write permission bit, or not
// writable by this process) is never replaced: false, both files unchanged.
bool replace_file(const char* from, const char* to);

}  // namespace qv::platform
