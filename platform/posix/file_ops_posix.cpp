#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/file_ops.h"
#include "platform/posix/temp_file.h"

namespace qv::platform {

bool write_file_replacing(const char* path, const void* bytes, std::size_t len) {
    if (path == nullptr || path[0] == '\0') return false;
    PendingFile f;
    std::string error;
    if (!pending_create(f, path, error)) return false;
    const auto* p = static_cast<const unsigned char*>(bytes);
    while (len > 0) {
        const ssize_t put = write(f.fd, p, len);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
            if (put == 0) errno = EIO;
            pending_discard(f, &error);
            return false;
        }
        p += put;
        len -= static_cast<std::size_t>(put);
    }
    // A write-protected file is refused as Win32 refuses a read-only one,
    // although the directory alone would allow the rename (and does, for root).
    return pending_publish(f, ReplacePolicy::unless_protected, error);
}

}  // namespace qv::platform
