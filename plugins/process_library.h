#pragma once
// The stored processes of the settings folder ($XDG_CONFIG_HOME/quorvane,
// else ~/.config/quorvane), one library per host process shared by every
// plug-in instance of this module. The first instance to join reads the
// folder and starts the library's thread; the thread then follows the folder
// (inotify, or a re-scan every second when inotify is unavailable or
// QUORVANE_NO_INOTIFY=1) and publishes immutable snapshots; the last
// instance to leave stops and joins the thread and frees everything. The
// host process's control server is the other such service
// (control/control_registry.h): each instance registers with it itself.
//
// The audio thread reads the newest snapshot through library_newest() and
// says which one it reads through library_hold(): neither waits, locks,
// allocates nor makes a system call. The library thread frees a retired
// snapshot (and the entries only it held) once every member's held
// sequence number has passed it; see process_library.cpp.
#include <atomic>
#include <cstdint>
#include <string>

#include "settings/process_file.h"

namespace qv::plugin {

enum class FileStatus : std::uint8_t { kValid, kMissing, kInvalid };

// Where messages go: the LV2 log when the host offers one, else stderr.
struct LogSink {
    void (*write)(void* context, const char* text) = nullptr;
    void* context = nullptr;
};

// One number's process as last read; never changed once published.
struct ProcessEntry {
    std::uint64_t version = 0;  // new with every read that changed something
    FileStatus status = FileStatus::kMissing;
    // Plays although no valid file holds it: a missing 0 (the built-in
    // default) or a missing factory number (its factory process).
    bool built_in = false;
    ProcessParams process{};  // what plays when the status is valid or built_in
    // Library thread: the sequence number of the last snapshot holding the
    // entry (the newest one's until the entry is replaced).
    std::uint64_t last_seq = 0;
};

inline bool playable(const ProcessEntry& e) { return e.status == FileStatus::kValid || e.built_in; }

struct LibrarySnapshot {
    std::uint64_t seq = 0;  // 1, 2, ... in the order published
    const ProcessEntry* entry[kMaxProcessNumber + 1] = {};
};

// An instance's membership: what its audio thread tells the library.
struct LibraryMember {
    // Audio thread (and the control side while run() is not called): the
    // sequence number of the snapshot the instance reads; only grows.
    std::atomic<std::uint64_t> held{0};
    // Audio thread: per number, the last selection to tell about,
    // report_word(...); 0 = none.
    std::atomic<std::uint32_t> report[kMaxProcessNumber + 1] = {};
    // Library side, under its lock: the words told.
    std::uint32_t told[kMaxProcessNumber + 1] = {};
    LogSink log;
    // Where the library publishes its newest snapshot; set at join.
    const std::atomic<const LibrarySnapshot*>* newest = nullptr;
};

// A selection whose file is missing (status 1) or invalid (2); serial tells
// one selection of a number from the next (30 bits, wrapping).
constexpr std::uint32_t report_word(std::uint32_t serial, int status) {
    return (serial << 2) | static_cast<std::uint32_t>(status & 3);
}

// --- control side ---
// Joins the library, starting it (a first read of the folder and the
// thread) for the first member, and holds the newest snapshot. Allocates;
// null when the thread cannot be started.
LibraryMember* library_join(LogSink log);
// Tells what the member still had to tell, then leaves; the last member
// stops and joins the thread and frees the snapshots.
void library_leave(LibraryMember* member);
// The settings folder (empty when neither XDG_CONFIG_HOME nor HOME is set),
// fixed while the library runs, and whether it is followed through inotify
// (else re-scanned); empty and false while no member has joined.
std::string library_folder();
bool library_watches();

// --- audio thread (or the control side) of a member ---
// The newest snapshot; never null while the member has joined. Reading it
// is safe up to the member's next library_hold() of a newer one.
inline const LibrarySnapshot* library_newest(const LibraryMember& m) {
    return m.newest->load(std::memory_order_acquire);
}
// Says that the member reads s (library_newest()'s) from now on and is done
// with the older ones.
inline void library_hold(LibraryMember& m, const LibrarySnapshot& s) { m.held.store(s.seq, std::memory_order_release); }

}  // namespace qv::plugin
