#pragma once
// Small file-system helpers (POSIX): paths, whole files, directories and
// reads and writes that retry.
#include <cstddef>
#include <string>

namespace qv::platform {

bool is_directory(const std::string& path);
bool file_exists(const std::string& path);

// True when a and b name the same file: the same inode when both exist, or
// the same canonical path when b does not exist yet.
bool same_file(const std::string& a, const std::string& b);

// The directory part of path: "." for a bare name, "/" for a file in the root.
std::string directory_of(const std::string& path);

// Lower-case extension without the dot ("" when there is none).
std::string extension_of(const std::string& path);

// Whole-file read; false (with errno's text in error) when it cannot be read.
bool read_whole_file(const std::string& path, std::string& bytes, std::string& error);

// Writes bytes to path through a temporary file and one rename (replacing
// path even when it is write-protected).
bool write_file_atomic(const std::string& path, const std::string& bytes, std::string& error);

// Why no file can be created or replaced at path, judged by its folder:
// "read-only file system", "no permission to write in the folder DIR", a
// file of another user in a sticky folder, or "" when the folder allows it
// (whatever the file's own permissions).
std::string folder_refusal(const std::string& path);

// mkdir -p.
bool make_directories(const std::string& path, std::string& error);

// "path: cause" with the text of the current errno.
std::string errno_message(const std::string& path);

// Reads up to n bytes, retrying on EINTR; 0 at end of stream, -1 on error.
long read_some(int fd, void* buf, std::size_t n);
// Reads until n bytes or the end of the stream; the count read, -1 on error.
long read_full(int fd, void* buf, std::size_t n);
// Writes all n bytes, retrying on EINTR and short writes. False on error,
// with errno kept (EPIPE once the reader has gone).
bool write_full(int fd, const void* buf, std::size_t n);

}  // namespace qv::platform
