#include "platform/posix/fs_util.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/posix/temp_file.h"

namespace qv::platform {

std::string errno_message(const std::string& path) { return path + ": " + std::strerror(errno); }

bool is_directory(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool file_exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

std::string directory_of(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

namespace {

std::string base_name_of(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Canonical path of a file that may not exist yet: its directory resolved.
std::string canonical_target(const std::string& path) {
    char buf[PATH_MAX];
    if (realpath(path.c_str(), buf) != nullptr) return buf;
    if (realpath(directory_of(path).c_str(), buf) != nullptr) return std::string(buf) + "/" + base_name_of(path);
    return path;
}

}  // namespace

bool same_file(const std::string& a, const std::string& b) {
    struct stat sa, sb;
    if (stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0) return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
    return canonical_target(a) == canonical_target(b);
}

std::string extension_of(const std::string& path) {
    const std::string name = base_name_of(path);
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) return "";
    std::string ext = name.substr(dot + 1);
    for (char& c : ext) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return ext;
}

bool read_whole_file(const std::string& path, std::string& bytes, std::string& error) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = errno_message(path);
        return false;
    }
    bytes.clear();
    char buf[65536];
    for (;;) {
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = errno_message(path);
            close(fd);
            return false;
        }
        if (n == 0) break;
        bytes.append(buf, static_cast<std::size_t>(n));
    }
    close(fd);
    return true;
}

bool write_file_atomic(const std::string& path, const std::string& bytes, std::string& error) {
    PendingFile f;
    if (!pending_create(f, path, error)) return false;
    if (!write_full(f.fd, bytes.data(), bytes.size())) {
        error = errno_message(path);
        pending_discard(f, &error);
        return false;
    }
    return pending_publish(f, ReplacePolicy::always, error);
}

std::string folder_refusal(const std::string& path) {
    const std::string dir = directory_of(path);
    struct statvfs fs;
    if (statvfs(dir.c_str(), &fs) == 0 && (fs.f_flag & ST_RDONLY) != 0) return "read-only file system";
    if (faccessat(AT_FDCWD, dir.c_str(), W_OK | X_OK, AT_EACCESS) == 0) {
        // In a folder with the sticky bit (/tmp) only the owner of a file or
        // of the folder can replace the file, whatever its permissions.
        struct stat folder, file;
        const uid_t me = geteuid();
        if (me != 0 && stat(dir.c_str(), &folder) == 0 && (folder.st_mode & S_ISVTX) != 0 && folder.st_uid != me &&
            lstat(path.c_str(), &file) == 0 && file.st_uid != me)
            return "another user's file in a folder with the sticky bit (only its owner can replace it)";
        return "";
    }
    if (errno == EROFS) return "read-only file system";
    // A missing folder is refused when the file is created, in its own words.
    if (errno == EACCES || errno == EPERM) return "no permission to write in the folder " + dir;
    return "";
}

bool make_directories(const std::string& path, std::string& error) {
    if (path.empty()) return true;
    std::string partial;
    std::size_t pos = 0;
    while (pos != std::string::npos) {
        pos = path.find('/', pos + 1);
        partial = path.substr(0, pos);
        if (partial.empty()) continue;
        if (mkdir(partial.c_str(), 0777) != 0 && errno != EEXIST) {
            error = errno_message(partial);
            return false;
        }
    }
    if (!is_directory(path)) {
        error = path + ": not a directory";
        return false;
    }
    return true;
}

long read_some(int fd, void* buf, std::size_t n) {
    for (;;) {
        const ssize_t got = read(fd, buf, n);
        if (got < 0 && errno == EINTR) continue;
        return static_cast<long>(got);
    }
}

long read_full(int fd, void* buf, std::size_t n) {
    std::size_t done = 0;
    while (done < n) {
        const long got = read_some(fd, static_cast<unsigned char*>(buf) + done, n - done);
        if (got < 0) return -1;
        if (got == 0) break;
        done += static_cast<std::size_t>(got);
    }
    return static_cast<long>(done);
}

bool write_full(int fd, const void* buf, std::size_t n) {
    const unsigned char* p = static_cast<const unsigned char*>(buf);
    while (n > 0) {
        const ssize_t put = write(fd, p, n);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        p += put;
        n -= static_cast<std::size_t>(put);
    }
    return true;
}

}  // namespace qv::platform
