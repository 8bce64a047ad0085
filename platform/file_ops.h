#pragma once
// Replacing a file in one step, so that an interrupted write never leaves a
// host's file cut short.
#include <cstddef>

namespace qv::platform {

// Writes len bytes to a new temporary file beside path (created exclusively,
// never through a link), commits it to the disk and renames it over path.
// A write-protected path (Win32: read-only attribute; POSIX: no write
// permission bit, or not writable by this process) is never replaced. Every
// write, flush, close and the rename are checked: false leaves path as it
// was and no temporary file behind.
bool write_file_replacing(const char* path, const void* bytes, std::size_t len);

}  // namespace qv::platform
