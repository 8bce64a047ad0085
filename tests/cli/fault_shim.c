/* A preloaded library that makes chosen system calls fail, so tests can
 * reach the error paths of the tool even as root (where permission bits do
 * not stop anything):
 *
 *   QUORVANE_FAULT=OP:N[:ERRNO][,OP:N[:ERRNO]...]
 *       the Nth call of OP fails (N = 0: every call); up to four entries,
 *       each counting its own calls
 *
 * OP is write (to a regular file), write0 (a write at offset 0 of a regular
 * file: a header), fsync, close (of a regular file; the descriptor is still
 * closed, as Linux does), rename, link (link and linkat), unlink (unlink and
 * unlinkat), access (faccessat: `access:0:30` answers as on a read-only
 * file system, `access:0:13` as in a folder without write permission) or
 * tmpfile (open with O_TMPFILE: `tmpfile:0:95` refuses it with EOPNOTSUPP,
 * `tmpfile:0:21` with EISDIR, as file systems without unnamed files do).
 * ERRNO defaults to EIO. The variable is read at every call and
 * the counts restart whenever its value changes. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

static char g_setting[128];
static long g_count[4];

/* True when this call of op is the one to fail; sets errno then. */
static int should_fail(const char* op) {
    const char* setting = getenv("QUORVANE_FAULT");
    if (setting == NULL) return 0;
    if (strncmp(setting, g_setting, sizeof g_setting) != 0) {
        strncpy(g_setting, setting, sizeof g_setting - 1);
        memset(g_count, 0, sizeof g_count);
    }
    const size_t n = strlen(op);
    const char* entry = setting;
    for (int i = 0; i < 4 && entry != NULL; ++i) {
        const char* next = strchr(entry, ',');
        if (strncmp(entry, op, n) == 0 && entry[n] == ':') {
            char* end = NULL;
            const long nth = strtol(entry + n + 1, &end, 10);
            const int err = *end == ':' ? atoi(end + 1) : EIO;
            if (nth != 0 && ++g_count[i] != nth) return 0;
            errno = err;
            return 1;
        }
        entry = next != NULL ? next + 1 : NULL;
    }
    return 0;
}

static int is_regular(int fd) {
    struct stat st;
    return fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

typedef ssize_t (*write_fn)(int, const void*, size_t);
typedef off_t (*lseek_fn)(int, off_t, int);
typedef int (*fd_fn)(int);
typedef int (*paths_fn)(const char*, const char*);
typedef int (*linkat_fn)(int, const char*, int, const char*, int);
typedef int (*path_fn)(const char*);
typedef int (*unlinkat_fn)(int, const char*, int);
typedef int (*faccessat_fn)(int, const char*, int, int);

/* The next definition of name (libc's, or a sanitizer's wrapper of it). */
#define REAL(name, type)     \
    static type real_##name; \
    if (real_##name == NULL) real_##name = (type)dlsym(RTLD_NEXT, #name)

ssize_t write(int fd, const void* buf, size_t n) {
    REAL(write, write_fn);
    REAL(lseek, lseek_fn);
    if (is_regular(fd)) {
        if (real_lseek(fd, 0, SEEK_CUR) == 0 && should_fail("write0")) return -1;
        if (should_fail("write")) return -1;
    }
    return real_write(fd, buf, n);
}

int fsync(int fd) {
    REAL(fsync, fd_fn);
    if (should_fail("fsync")) return -1;
    return real_fsync(fd);
}

int close(int fd) {
    REAL(close, fd_fn);
    if (is_regular(fd) && should_fail("close")) {
        const int saved = errno;
        real_close(fd);
        errno = saved;
        return -1;
    }
    return real_close(fd);
}

int rename(const char* from, const char* to) {
    REAL(rename, paths_fn);
    if (should_fail("rename")) return -1;
    return real_rename(from, to);
}

int link(const char* from, const char* to) {
    REAL(link, paths_fn);
    if (should_fail("link")) return -1;
    return real_link(from, to);
}

int linkat(int fromfd, const char* from, int tofd, const char* to, int flags) {
    REAL(linkat, linkat_fn);
    if (should_fail("link")) return -1;
    return real_linkat(fromfd, from, tofd, to, flags);
}

int unlink(const char* path) {
    REAL(unlink, path_fn);
    if (should_fail("unlink")) return -1;
    return real_unlink(path);
}

int unlinkat(int dirfd, const char* path, int flags) {
    REAL(unlinkat, unlinkat_fn);
    if (should_fail("unlink")) return -1;
    return real_unlinkat(dirfd, path, flags);
}

int faccessat(int dirfd, const char* path, int mode, int flags) {
    REAL(faccessat, faccessat_fn);
    if (should_fail("access")) return -1;
    return real_faccessat(dirfd, path, mode, flags);
}

static int open_common(const char* name, const char* path, int flags, mode_t mode) {
    typedef int (*open_fn)(const char*, int, ...);
    open_fn real = (open_fn)dlsym(RTLD_NEXT, name);
    if ((flags & O_TMPFILE) == O_TMPFILE && should_fail("tmpfile")) return -1;
    return real(path, flags, mode);
}

int open(const char* path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    const mode_t mode = (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? va_arg(ap, mode_t) : 0;
    va_end(ap);
    return open_common("open", path, flags, mode);
}

int open64(const char* path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    const mode_t mode = (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? va_arg(ap, mode_t) : 0;
    va_end(ap);
    return open_common("open64", path, flags, mode);
}
