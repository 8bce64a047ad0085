#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/file_ops.h"

namespace qv::platform {

bool commit_file(std::FILE* f) { return std::fflush(f) == 0 && fsync(fileno(f)) == 0; }

bool replace_file(const char* from, const char* to) {
    // rename() needs only the directory's permission, so alone it would
    // replace a file the user has write-protected. Such a target is refused,
    // as Win32 refuses a read-only one; a file without any write bit counts as
    // protected even for root, like the read-only attribute.
    struct stat st;
    if (stat(to, &st) == 0 && S_ISREG(st.st_mode) &&
        ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || access(to, W_OK) != 0)) {
        errno = EACCES;
        return false;
    }
    return std::rename(from, to) == 0;
}

}  // namespace qv::platform
