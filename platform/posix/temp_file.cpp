#include "platform/posix/temp_file.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/posix/fs_util.h"

namespace qv::platform {

namespace {

// "dir/.name.<16 hex digits>": hidden, unpredictable, and within NAME_MAX
// however long the target's own name is.
std::string random_sibling(const std::string& target) {
    const std::size_t slash = target.rfind('/');
    std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    if (name.size() > 200) name.resize(200);
    unsigned char r[8] = {};
    if (getrandom(r, sizeof r, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof r)) {
        // No entropy yet this early in boot: the name need only be new, which
        // O_EXCL and linkat's EEXIST check anyway.
        static unsigned counter = 0;
        const unsigned long v = static_cast<unsigned long>(getpid()) * 2654435761ul + ++counter;
        std::memcpy(r, &v, sizeof r < sizeof v ? sizeof r : sizeof v);
    }
    char hex[17];
    for (int i = 0; i < 8; ++i) std::snprintf(hex + 2 * i, 3, "%02x", r[i]);
    return directory_of(target) + "/." + name + "." + hex;
}

std::string cause(const std::string& path) { return path + ": " + std::strerror(errno); }

// Gives the anonymous file f.fd a random name beside the target.
bool link_anonymous(PendingFile& f, std::string& error) {
    char proc[64];
    std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", f.fd);
    for (int attempt = 0; attempt < 16; ++attempt) {
        const std::string name = random_sibling(f.target);
        if (linkat(AT_FDCWD, proc, AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            f.named_temp = name;
            return true;
        }
        if (errno != EEXIST) break;
    }
    error = cause(f.target);
    return false;
}

}  // namespace

PendingFile::~PendingFile() { pending_discard(*this); }

bool is_write_protected(const char* path) {
    struct stat st;
    if (stat(path, &st) != 0 || !S_ISREG(st.st_mode)) return false;
    return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || access(path, W_OK) != 0;
}

bool pending_create(PendingFile& f, const std::string& target, std::string& error) {
    pending_discard(f);
    f.target = target;
    const std::string dir = directory_of(target);
    // 0666: the permissions of a file the user creates, the umask applied.
    f.fd = open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
    if (f.fd >= 0) {
        // Publishing names the file through /proc; without /proc it could
        // never be linked, so take the named way at once.
        char proc[64];
        std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", f.fd);
        struct stat a, b;
        if (fstat(f.fd, &a) == 0 && stat(proc, &b) == 0 && a.st_ino == b.st_ino && a.st_dev == b.st_dev) return true;
        close(f.fd);
        f.fd = -1;
    } else if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
        error = cause(dir);
        return false;
    }
    for (int attempt = 0; attempt < 16; ++attempt) {
        const std::string name = random_sibling(target);
        f.fd = open(name.c_str(), O_CREAT | O_EXCL | O_NOFOLLOW | O_RDWR | O_CLOEXEC, 0666);
        if (f.fd >= 0) {
            f.named_temp = name;
            return true;
        }
        if (errno != EEXIST) break;
    }
    error = cause(dir);
    return false;
}

bool pending_publish(PendingFile& f, ReplacePolicy policy, std::string& error) {
    if (f.fd < 0) {
        errno = EBADF;
        error = cause(f.target);
        return false;
    }
    if (fsync(f.fd) != 0) {
        error = cause(f.target);
        pending_discard(f);
        return false;
    }
    if (f.named_temp.empty() && !link_anonymous(f, error)) {
        pending_discard(f);
        return false;
    }
    const int closed = close(f.fd);
    f.fd = -1;
    if (closed != 0) {
        error = cause(f.target);
        pending_discard(f);
        return false;
    }
    if (policy == ReplacePolicy::never) {
        // link() refuses an existing target, which a check before rename()
        // could not do without a race.
        if (link(f.named_temp.c_str(), f.target.c_str()) != 0) {
            error = errno == EEXIST ? f.target + ": exists" : cause(f.target);
            pending_discard(f);
            return false;
        }
        unlink(f.named_temp.c_str());
        f.named_temp.clear();
        return true;
    }
    if (policy == ReplacePolicy::unless_protected && is_write_protected(f.target.c_str())) {
        errno = EACCES;
        error = f.target + ": write-protected";
        pending_discard(f);
        return false;
    }
    if (rename(f.named_temp.c_str(), f.target.c_str()) != 0) {
        error = cause(f.target);
        pending_discard(f);
        return false;
    }
    f.named_temp.clear();
    return true;
}

void pending_discard(PendingFile& f) {
    const int saved = errno;
    if (f.fd >= 0) close(f.fd);
    f.fd = -1;
    if (!f.named_temp.empty()) unlink(f.named_temp.c_str());
    f.named_temp.clear();
    errno = saved;
}

}  // namespace qv::platform
