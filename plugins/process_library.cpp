#include "plugins/process_library.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "settings/factory.h"
#include "settings/settings_folder.h"
#include "settings/startup.h"

// Reclaiming snapshots without the audio thread's help.
//
// The library thread publishes snapshot after snapshot through `newest`
// (release) with growing sequence numbers. An audio thread loads `newest`
// (acquire) and stores the loaded snapshot's number in its member's `held`
// (release) once it has switched to it; it never goes back to an older one.
// So a member's `held` only grows, and it is never above the number of any
// snapshot the member may still read: the one it holds, or one it loaded
// from `newest` and has not yet said it holds, whose number is at least as
// high because `newest` only grows too. The library thread frees a retired
// snapshot only when its number is below every member's `held` (read with
// acquire, so the member's reads of the older snapshot happened before), and
// a retired entry only when the last snapshot that held it is below them
// all. A member joins holding the newest snapshot, under the lock the
// library thread reclaims under, and leaves under it; the audio thread
// never takes the lock.

namespace qv::plugin {
namespace {

constexpr int kTickMs = 200;     // the thread's wake: reports, reclaiming
constexpr int kRescanMs = 1000;  // re-scan, or retry of the folder's watch
constexpr std::uint32_t kWatchMask =
    IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

// What stat says of a file, to see a change without reading it.
struct FileStamp {
    bool exists = false;
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    timespec mtime{};
    timespec ctime{};
    bool operator==(const FileStamp& o) const {
        return exists == o.exists && dev == o.dev && ino == o.ino && size == o.size && mtime.tv_sec == o.mtime.tv_sec &&
               mtime.tv_nsec == o.mtime.tv_nsec && ctime.tv_sec == o.ctime.tv_sec && ctime.tv_nsec == o.ctime.tv_nsec;
    }
};

struct Library {
    std::string folder;
    bool use_inotify = true;
    int inotify_fd = -1;
    int watch = -1;    // the folder's watch; -1 while the folder is missing
    int wake_fd = -1;  // eventfd: the last leave wakes the thread to stop
    bool stop = false;
    std::thread thread;

    std::atomic<const LibrarySnapshot*> newest{nullptr};
    std::uint64_t next_seq = 1;
    std::uint64_t next_version = 1;
    ProcessParams built_in[kMaxProcessNumber + 1];  // defaults, or the factory process
    bool has_built_in[kMaxProcessNumber + 1] = {};
    FileStamp stamp[kMaxProcessNumber + 1];
    // The entries and snapshots alive, newest snapshot last.
    std::vector<std::unique_ptr<ProcessEntry>> entries;
    std::vector<std::unique_ptr<LibrarySnapshot>> snapshots;
    std::vector<LibraryMember*> members;
    std::chrono::steady_clock::time_point last_scan;
};

// The process-wide state: lock, member count and the library while any
// member is there.
std::mutex g_lock;
Library* g_library = nullptr;

FileStamp stamp_of(const std::string& path) {
    FileStamp s;
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return s;
    s.exists = true;
    s.dev = st.st_dev;
    s.ino = st.st_ino;
    s.size = st.st_size;
    s.mtime = st.st_mtim;
    s.ctime = st.st_ctim;
    return s;
}

// Reads number n from the folder into a new entry (not yet published).
std::unique_ptr<ProcessEntry> read_entry(Library& lib, int n) {
    auto e = std::make_unique<ProcessEntry>();
    e->status = FileStatus::kMissing;
    if (!lib.folder.empty()) {
        const std::string path = process_file_in(lib.folder, n);
        lib.stamp[n] = stamp_of(path);
        if (lib.stamp[n].exists) {
            fill_defaults(e->process);
            e->status = read_process_file(path.c_str(), e->process) ? FileStatus::kValid : FileStatus::kInvalid;
        }
    }
    if (e->status == FileStatus::kMissing && lib.has_built_in[n]) {
        e->built_in = true;
        e->process = lib.built_in[n];
    }
    return e;
}

bool same_entry(const ProcessEntry& a, const ProcessEntry& b) {
    if (a.status != b.status || a.built_in != b.built_in) return false;
    if (a.status != FileStatus::kValid) return true;
    static unsigned char x[kProcessFileBytes], y[kProcessFileBytes];  // under the lock
    encode_process(a.process, x);
    encode_process(b.process, y);
    return std::memcmp(x, y, sizeof x) == 0;
}

// The snapshot being made: a copy of the newest with entries replaced.
struct Draft {
    std::unique_ptr<LibrarySnapshot> snapshot;
    bool changed = false;
};

Draft start_draft(const Library& lib) {
    Draft d{std::make_unique<LibrarySnapshot>(), false};
    if (const LibrarySnapshot* s = lib.newest.load(std::memory_order_relaxed)) *d.snapshot = *s;
    return d;
}

void reread(Library& lib, Draft& d, int n) {
    std::unique_ptr<ProcessEntry> e = read_entry(lib, n);
    const ProcessEntry* old = d.snapshot->entry[n];
    if (old != nullptr && same_entry(*old, *e)) return;
    e->version = lib.next_version++;
    d.snapshot->entry[n] = e.get();
    lib.entries.push_back(std::move(e));
    d.changed = true;
}

// Every number whose file changed by its stamp (all of them the first time).
void rescan(Library& lib, Draft& d) {
    for (int n = 0; n <= kMaxProcessNumber; ++n) {
        if (d.snapshot->entry[n] != nullptr &&
            (lib.folder.empty() || stamp_of(process_file_in(lib.folder, n)) == lib.stamp[n]))
            continue;
        reread(lib, d, n);
    }
    lib.last_scan = std::chrono::steady_clock::now();
}

void publish(Library& lib, Draft& d) {
    if (!d.changed) return;
    d.snapshot->seq = lib.next_seq++;
    for (const ProcessEntry* e : d.snapshot->entry) const_cast<ProcessEntry*>(e)->last_seq = d.snapshot->seq;
    lib.newest.store(d.snapshot.get(), std::memory_order_release);
    lib.snapshots.push_back(std::move(d.snapshot));
}

// Frees what no member can still read (see the top of this file).
void reclaim(Library& lib) {
    std::uint64_t low = lib.newest.load(std::memory_order_relaxed)->seq;
    for (const LibraryMember* m : lib.members) low = std::min(low, m->held.load(std::memory_order_acquire));
    const LibrarySnapshot* newest = lib.newest.load(std::memory_order_relaxed);
    std::erase_if(lib.snapshots, [&](const auto& s) { return s.get() != newest && s->seq < low; });
    std::erase_if(lib.entries, [&](const auto& e) { return e->last_seq < low; });
}

void tell(const Library& lib, LibraryMember& m, int number) {
    const std::uint32_t word = m.report[number].load(std::memory_order_acquire);
    if (word == 0 || word == m.told[number]) return;
    m.told[number] = word;
    const bool missing = (word & 3) == 1;
    char text[700];
    if (lib.folder.empty())
        std::snprintf(text, sizeof text,
                      "quorvane: process %d cannot be read: no settings folder (neither XDG_CONFIG_HOME nor HOME is "
                      "set); the process on air stays\n",
                      number);
    else
        std::snprintf(text, sizeof text, "quorvane: process %d: %s is %s; the process on air stays\n", number,
                      process_file_in(lib.folder, number).c_str(), missing ? "missing" : "not a valid process");
    if (m.log.write != nullptr)
        m.log.write(m.log.context, text);
    else
        std::fprintf(stderr, "%s", text);
}

void tell_all(const Library& lib, LibraryMember& m) {
    for (int n = 0; n <= kMaxProcessNumber; ++n) tell(lib, m, n);
}

void try_watch(Library& lib) {
    if (lib.inotify_fd < 0 || lib.watch >= 0 || lib.folder.empty()) return;
    lib.watch = inotify_add_watch(lib.inotify_fd, lib.folder.c_str(), kWatchMask);
}

// Reads the pending inotify events; the numbers they name are re-read.
void drain_events(Library& lib, Draft& d) {
    alignas(inotify_event) char buf[4096];
    bool full = false;
    for (;;) {
        const ssize_t got = read(lib.inotify_fd, buf, sizeof buf);
        if (got <= 0) break;
        for (ssize_t at = 0; at < got;) {
            const auto* ev = reinterpret_cast<const inotify_event*>(buf + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
            if (ev->mask & IN_Q_OVERFLOW) {
                full = true;
                continue;
            }
            // A removed watch's late events (its IN_IGNORED) carry its old number.
            if (ev->wd != lib.watch) continue;
            if (ev->mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF)) {
                // The folder went: every number reads missing until it is back.
                if (!(ev->mask & IN_IGNORED)) inotify_rm_watch(lib.inotify_fd, lib.watch);
                lib.watch = -1;
                full = true;
                continue;
            }
            int n = -1;
            char tail = 0;
            if (ev->len == 0 || std::sscanf(ev->name, "qv$%d.da%c", &n, &tail) != 2 || tail != 't') continue;
            char name[16];
            if (process_file_name(n, name) && std::strcmp(name, ev->name) == 0) reread(lib, d, n);
        }
    }
    if (full) rescan(lib, d);
}

// One wake of the thread, under the lock.
void tick(Library& lib, bool events) {
    Draft d = start_draft(lib);
    if (events) drain_events(lib, d);
    const auto now = std::chrono::steady_clock::now();
    if (now - lib.last_scan >= std::chrono::milliseconds(kRescanMs)) {
        if (lib.inotify_fd < 0) {
            rescan(lib, d);
        } else if (lib.watch < 0) {
            // The folder (re)appeared: watch it and read what it holds.
            try_watch(lib);
            rescan(lib, d);
        }
        lib.last_scan = now;
    }
    publish(lib, d);
    for (LibraryMember* m : lib.members) tell_all(lib, *m);
    reclaim(lib);
}

void thread_main(Library* lib) {
    for (;;) {
        pollfd fds[2] = {{lib->wake_fd, POLLIN, 0}, {lib->inotify_fd, POLLIN, 0}};
        const int r = poll(fds, lib->inotify_fd >= 0 ? 2 : 1, kTickMs);
        const std::lock_guard<std::mutex> hold(g_lock);
        if (lib->stop) return;
        tick(*lib, r > 0 && (fds[1].revents & POLLIN) != 0);
    }
}

void close_library(Library* lib) {
    if (lib->inotify_fd >= 0) close(lib->inotify_fd);
    if (lib->wake_fd >= 0) close(lib->wake_fd);
    delete lib;
}

// The first member's start: the built-in processes, the watch (before the
// first read, so that nothing written in between is missed), the first
// snapshot and the thread.
Library* open_library() {
    auto lib = std::make_unique<Library>();
    std::string error;
    if (!default_settings_folder(lib->folder, error)) lib->folder.clear();
    const char* no_inotify = std::getenv("QUORVANE_NO_INOTIFY");
    lib->use_inotify = !(no_inotify != nullptr && std::strcmp(no_inotify, "1") == 0);
    for (int n = 0; n <= kMaxProcessNumber; ++n) {
        fill_defaults(lib->built_in[n]);
        lib->has_built_in[n] = n == 0;
        if (const FactoryProcess* f = find_factory_process(n))
            lib->has_built_in[n] = factory_params(*f, lib->built_in[n], error);
    }
    lib->wake_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (lib->wake_fd < 0) return nullptr;
    if (lib->use_inotify) lib->inotify_fd = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    try_watch(*lib);
    Draft d = start_draft(*lib);
    rescan(*lib, d);
    publish(*lib, d);
    try {
        lib->thread = std::thread(thread_main, lib.get());
    } catch (...) {
        close_library(lib.release());
        return nullptr;
    }
    return lib.release();
}

}  // namespace

LibraryMember* library_join(LogSink log) {
    auto m = std::make_unique<LibraryMember>();
    m->log = log;
    const std::lock_guard<std::mutex> hold(g_lock);
    if (g_library == nullptr) g_library = open_library();
    if (g_library == nullptr) return nullptr;
    m->newest = &g_library->newest;
    m->held.store(g_library->newest.load(std::memory_order_relaxed)->seq, std::memory_order_relaxed);
    g_library->members.push_back(m.get());
    return m.release();
}

void library_leave(LibraryMember* member) {
    if (member == nullptr) return;
    Library* closing = nullptr;
    {
        const std::lock_guard<std::mutex> hold(g_lock);
        Library& lib = *g_library;
        tell_all(lib, *member);
        std::erase(lib.members, member);
        if (lib.members.empty()) {
            lib.stop = true;
            const std::uint64_t one = 1;
            if (write(lib.wake_fd, &one, sizeof one) < 0) {
                // The thread still stops at its next tick.
            }
            closing = g_library;
            g_library = nullptr;
        }
    }
    delete member;
    if (closing != nullptr) {
        closing->thread.join();
        close_library(closing);
    }
}

std::string library_folder() {
    const std::lock_guard<std::mutex> hold(g_lock);
    return g_library != nullptr ? g_library->folder : std::string();
}

bool library_watches() {
    const std::lock_guard<std::mutex> hold(g_lock);
    return g_library != nullptr && g_library->inotify_fd >= 0;
}

}  // namespace qv::plugin
