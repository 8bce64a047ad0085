#pragma once
// Where the host keeps its files: the directory of the running executable
// (the host program, never the plug-in module).
#include <cstddef>

namespace qv::platform {

// Full path of the running host executable. POSIX: $QUORVANE_HOST_DIR/<exe
// name> when that variable is set (tests and the command-line tool use it),
// else the target of /proc/self/exe. Win32: GetModuleFileNameA(NULL).
// False when the path is unknown or does not fit in cap bytes.
bool host_executable_path(char* out, std::size_t cap);

// The host executable's path with its file name and extension replaced by
// file_name (drive and directory kept). False when it does not fit.
bool host_file_path(const char* file_name, char* out, std::size_t cap);

// Replaces the file name part of path (after the last directory separator,
// or the drive on Win32) with file_name. False when the result does not fit.
bool replace_file_name(const char* path, const char* file_name, char* out, std::size_t cap);

}  // namespace qv::platform
