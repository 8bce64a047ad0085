#include "platform/posix/temp_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/posix/fs_util.h"

namespace qv::platform {

namespace {

constexpr int kHexDigits = 16;

// ".name." for "dir/name": every temporary of the target starts so and ends
// in 16 hex digits. The name is cut so that the whole stays within NAME_MAX
// however long the target's own name is.
std::string temp_prefix(const std::string& target) {
    const std::size_t slash = target.rfind('/');
    std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    if (name.size() > 200) name.resize(200);
    return "." + name + ".";
}

bool is_temp_name(const char* name, const std::string& prefix) {
    if (std::strncmp(name, prefix.c_str(), prefix.size()) != 0) return false;
    const char* hex = name + prefix.size();
    for (int i = 0; i < kHexDigits; ++i)
        if (!((hex[i] >= '0' && hex[i] <= '9') || (hex[i] >= 'a' && hex[i] <= 'f'))) return false;
    return hex[kHexDigits] == '\0';
}

// "dir/.name.<16 hex digits>": hidden and unpredictable.
std::string random_sibling(const std::string& target) {
    unsigned char r[kHexDigits / 2] = {};
    if (getrandom(r, sizeof r, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof r)) {
        // No entropy yet this early in boot: the name need only be new, which
        // O_EXCL and linkat's EEXIST check anyway.
        static unsigned counter = 0;
        const unsigned long v = static_cast<unsigned long>(getpid()) * 2654435761ul + ++counter;
        std::memcpy(r, &v, sizeof r < sizeof v ? sizeof r : sizeof v);
    }
    char hex[kHexDigits + 1];
    for (int i = 0; i < kHexDigits / 2; ++i) std::snprintf(hex + 2 * i, 3, "%02x", r[i]);
    return directory_of(target) + "/" + temp_prefix(target) + hex;
}

std::string cause(const std::string& path) { return path + ": " + std::strerror(errno); }

std::string proc_path(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

bool same_inode(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// Where the file system has no locks (ENOLCK, EOPNOTSUPP) nothing is locked:
// a sweep cannot take the lock either and leaves every file alone.
void lock_exclusive(int fd) {
    while (flock(fd, LOCK_EX) != 0 && errno == EINTR) {
    }
}

// Gives the locked unnamed file a random name beside the target.
bool link_anonymous(PendingFile& f, int fd, std::string& error) {
    const std::string proc = proc_path(fd);
    for (int attempt = 0; attempt < 16; ++attempt) {
        const std::string name = random_sibling(f.target);
        if (linkat(AT_FDCWD, proc.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            f.named_temp = name;
            return true;
        }
        if (errno != EEXIST) break;
    }
    error = cause(f.target);
    return false;
}

// An unnamed file in dir, locked; -1 when the file system has none (errno
// EOPNOTSUPP, EISDIR or EINVAL) or on failure. Publishing names the file
// through /proc; without /proc it could never be linked, so it is refused
// then as well.
int open_unnamed(const std::string& dir, int mode) {
    const int fd = open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, mode);
    if (fd < 0) return -1;
    struct stat a, b;
    if (fstat(fd, &a) != 0 || stat(proc_path(fd).c_str(), &b) != 0 || !same_inode(a, b)) {
        close(fd);
        errno = EOPNOTSUPP;
        return -1;
    }
    lock_exclusive(fd);
    return fd;
}

// A new file under a random name beside the target, locked while the name
// still leads to it (see the header).
bool open_named(PendingFile& f, int mode, std::string& error) {
    for (int attempt = 0; attempt < 16; ++attempt) {
        const std::string name = random_sibling(f.target);
        const int fd = open(name.c_str(), O_CREAT | O_EXCL | O_NOFOLLOW | O_RDWR | O_CLOEXEC, mode);
        if (fd < 0 && errno == EEXIST) continue;
        if (fd < 0) break;
        lock_exclusive(fd);
        struct stat held, named;
        if (fstat(fd, &held) == 0 && held.st_nlink > 0 && lstat(name.c_str(), &named) == 0 && same_inode(held, named)) {
            f.fd = fd;
            f.named_temp = name;
            return true;
        }
        close(fd);
    }
    error = cause(directory_of(f.target));
    return false;
}

bool create(PendingFile& f, const std::string& target, int mode, std::string& error) {
    pending_discard(f);
    f.target = target;
    f.published = false;
    if (!remove_leftovers(target, error)) return false;
    const std::string dir = directory_of(target);
    f.fd = open_unnamed(dir, mode);
    if (f.fd >= 0) return true;
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
        error = cause(dir);
        return false;
    }
    return open_named(f, mode, error);
}

// Removes dir/name when it is a leftover: see remove_leftovers. False when
// removing it failed.
bool remove_if_leftover(int dir_fd, const char* name) {
    struct stat seen, held, again;
    if (fstatat(dir_fd, name, &seen, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(seen.st_mode) || seen.st_uid != geteuid())
        return true;
    const int fd = openat(dir_fd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return true;
    bool removed = true;
    // The name must still lead to the file locked: otherwise it is a new
    // file that its creator is about to lock.
    if (fstat(fd, &held) == 0 && same_inode(seen, held) && flock(fd, LOCK_EX | LOCK_NB) == 0 &&
        fstatat(dir_fd, name, &again, AT_SYMLINK_NOFOLLOW) == 0 && same_inode(held, again))
        removed = unlinkat(dir_fd, name, 0) == 0 || errno == ENOENT;
    const int saved = errno;
    close(fd);
    errno = saved;
    return removed;
}

void append(std::string* error, const std::string& message) {
    if (error == nullptr) return;
    *error += (error->empty() ? "" : "; ") + message;
}

}  // namespace

PendingFile::~PendingFile() { pending_discard(*this); }

bool is_write_protected(const char* path) {
    struct stat st;
    if (stat(path, &st) != 0 || !S_ISREG(st.st_mode)) return false;
    return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || access(path, W_OK) != 0;
}

bool remove_leftovers(const std::string& target, std::string& error) {
    const std::string dir = directory_of(target), prefix = temp_prefix(target);
    // A folder that cannot be read is one the file cannot be created in
    // either; creating it says why.
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) return true;
    bool all = true;
    while (const struct dirent* e = readdir(d)) {
        if (!is_temp_name(e->d_name, prefix) || remove_if_leftover(dirfd(d), e->d_name)) continue;
        if (all)
            error = dir + "/" + e->d_name +
                    ": a temporary file left by an earlier run cannot be removed: " + std::strerror(errno);
        all = false;
    }
    closedir(d);
    return all;
}

bool pending_create(PendingFile& f, const std::string& target, std::string& error) {
    // 0666: the permissions of a file the user creates, the umask applied.
    return create(f, target, 0666, error);
}

int scratch_file(const std::string& dir, const std::string& name, std::string& error) {
    PendingFile f;
    if (!create(f, dir + "/" + name, 0600, error)) return -1;
    if (!f.named_temp.empty()) {
        if (unlink(f.named_temp.c_str()) != 0) {
            error = f.named_temp + ": cannot be removed: " + std::strerror(errno);
            f.named_temp.clear();  // tried once; the next run's sweep takes it
            return -1;
        }
        f.named_temp.clear();
    }
    const int fd = f.fd;
    f.fd = -1;
    return fd;
}

bool pending_ready(PendingFile& f, ReplacePolicy policy, std::string& error) {
    f.policy = policy;
    if (f.fd < 0) {
        errno = EBADF;
        error = cause(f.target);
        return false;
    }
    if (policy == ReplacePolicy::unless_protected && is_write_protected(f.target.c_str())) {
        errno = EACCES;
        error = f.target + ": write-protected";
        pending_discard(f, &error);
        return false;
    }
    if (fsync(f.fd) != 0) {
        error = cause(f.target);
        pending_discard(f, &error);
        return false;
    }
    // The lock lives as long as one descriptor of the file: the duplicate
    // keeps the name guarded until the commit, while closing the file itself
    // reports what the file system keeps for close.
    f.guard_fd = fcntl(f.fd, F_DUPFD_CLOEXEC, 0);
    if (f.guard_fd < 0 ||
        (f.named_temp.empty() && policy != ReplacePolicy::never && !link_anonymous(f, f.guard_fd, error))) {
        if (f.guard_fd < 0) error = cause(f.target);
        pending_discard(f, &error);
        return false;
    }
    const int closed = close(f.fd);
    f.fd = -1;
    if (closed != 0) {
        error = cause(f.target);
        pending_discard(f, &error);
        return false;
    }
    return true;
}

bool pending_commit(PendingFile& f, std::string& error) {
    if (f.guard_fd < 0) {
        errno = EBADF;
        error = cause(f.target);
        return false;
    }
    bool done;
    if (f.policy != ReplacePolicy::never)
        done = rename(f.named_temp.c_str(), f.target.c_str()) == 0;
    else if (f.named_temp.empty())
        done = linkat(AT_FDCWD, proc_path(f.guard_fd).c_str(), AT_FDCWD, f.target.c_str(), AT_SYMLINK_FOLLOW) == 0;
    else
        // link() refuses an existing target, which a check before rename()
        // could not do without a race.
        done = link(f.named_temp.c_str(), f.target.c_str()) == 0;
    if (!done) {
        error = errno == EEXIST ? f.target + ": exists" : cause(f.target);
        pending_discard(f, &error);
        return false;
    }
    if (f.policy == ReplacePolicy::never && !f.named_temp.empty() && unlink(f.named_temp.c_str()) != 0) {
        f.published = true;
        error = f.target + " written; its temporary file " + f.named_temp +
                " could not be removed: " + std::strerror(errno);
        f.named_temp.clear();
        pending_discard(f);
        return false;
    }
    f.published = true;
    f.named_temp.clear();
    pending_discard(f);
    return true;
}

bool pending_publish(PendingFile& f, ReplacePolicy policy, std::string& error) {
    return pending_ready(f, policy, error) && pending_commit(f, error);
}

bool pending_discard(PendingFile& f, std::string* error) {
    const int saved = errno;
    bool removed = true;
    // The name goes before the descriptors: their lock guards it until then.
    if (!f.named_temp.empty() && unlink(f.named_temp.c_str()) != 0 && errno != ENOENT) {
        append(error, f.named_temp + ": cannot be removed: " + std::strerror(errno));
        removed = false;
    }
    f.named_temp.clear();
    if (f.fd >= 0) close(f.fd);
    if (f.guard_fd >= 0) close(f.guard_fd);
    f.fd = f.guard_fd = -1;
    errno = saved;
    return removed;
}

}  // namespace qv::platform
