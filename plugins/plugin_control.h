#pragma once
// A plug-in instance in the browser control, when the host's environment
// names an address: QUORVANE_CONTROL=[ADDR:]PORT, and off loopback
// QUORVANE_CONTROL_TOKEN=FILE (the rules of `stream --control`). The
// instance registers with the host process's one server
// (control/control_registry.h) and runs a station monitor on its output.
//
// The server's threads never touch what the audio thread owns. Edits from
// the page cross to run() as whole processes through one exchange, and run()
// tells what is on air through another; neither end waits. An edit carries
// the generation of the host's process it was made on: run() drops it when
// the host selected another process (or reloaded) in between, so a
// selection of the host always wins. The meters and the loudness come from
// the processor's atomic readings and the signal tap.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "control/control_registry.h"
#include "control/signal_tap.h"
#include "control/station_monitor.h"
#include "settings/records.h"

namespace qv::plugin {

struct PluginCore;
struct LogSink;

// One writer, one reader, whole values, no waiting: the writer fills
// write_slot() and publishes it; the reader takes the newest published one
// into read_slot(), which stays its own until the next take.
template <typename T>
struct Exchange {
    static constexpr unsigned kFresh = 4;
    T slot[3]{};
    std::atomic<unsigned> middle{1};
    unsigned back = 0;   // the writer's
    unsigned front = 2;  // the reader's

    T& write_slot() { return slot[back]; }
    void publish() { back = middle.exchange(back | kFresh, std::memory_order_acq_rel) & 3u; }
    // True when a newer value came.
    bool take() {
        if ((middle.load(std::memory_order_relaxed) & kFresh) == 0) return false;
        front = middle.exchange(front, std::memory_order_acq_rel) & 3u;
        return true;
    }
    const T& read_slot() const { return slot[front]; }
};

// An edit of the page: the whole process it puts on air.
struct PageEdit {
    ProcessParams process{};
    std::uint64_t generation = 0;  // of the host's process it was made on
    std::uint64_t seq = 0;         // 1, 2, ...
    bool modified = false;         // false after a Save
};

// What run() has on air, for the page.
struct OnAirCopy {
    ProcessParams process{};  // the bypass port not folded in
    int number = -1;          // the process port, -1 before it was read
    bool modified = false;
    bool bypass = false;
    bool test_tone = false;
    std::uint64_t generation = 0;
    std::uint64_t edit_seq = 0;  // the last edit run() took, applied or dropped
};

struct PluginControl {
    Exchange<PageEdit> edits;    // the server's threads (under lock) -> run()
    Exchange<OnAirCopy> on_air;  // run() -> the server's threads (under lock)
    // The server's side: its ends of the exchanges, the last edit sent, and
    // the processor, which activate replaces under it.
    std::mutex lock;
    PageEdit sent;
    control::SignalTap tap;
    control::StationMonitorPtr monitor;
    // Last: its end takes the instance off the server before the monitor,
    // the tap and the core go.
    control::RegistrationPtr registration;
};

// --- control side ---
// Sets c.control when the environment names an address and the instance is
// registered; leaves it null otherwise (a fault said through log, a port in
// use once per process). kind: "LADSPA" or "LV2".
void plugin_control_start(PluginCore& c, const char* kind, const LogSink& log);

// --- audio thread (or the control side while run() is not called) ---
// Takes the page's newest edit; true when it went on air (c.on_air changed).
bool take_page_edit(PluginCore& c);
// Tells the page what is on air now.
void publish_on_air(PluginCore& c);

}  // namespace qv::plugin
