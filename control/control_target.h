#pragma once
// What a front end lends the browser control: callbacks that read and work
// its processor, the format it plays, and the station monitor that measures
// its output. The server calls them from its own threads, one call at a time
// per callback but different callbacks at once; a front end serialises them
// with its other control-side calls (the stream holds its session's lock in
// each) and never lets the audio thread wait for them.
// control/processor_control.h makes them for a processor.
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "control/station_monitor.h"
#include "engine/meter_feed.h"
#include "settings/records.h"

namespace qv::control {

// What the page shows of the process on air.
struct ControlState {
    ProcessParams process{};  // the live process: every word, the name, Bypass All
    bool test_tone = false;
    int on_air_number = -1;  // the stored process on air; -1 for a file or the built-in default
    bool modified = false;   // edited since it was loaded or saved
    int latency_frames = 0;
    bool ceiling_on = false;  // the true-peak ceiling after the chain
    double ceiling_dbtp = 0.0;
    // A plug-in's ports that its host owns, shown but not set from the page:
    // the process port's number and the bypass port (the ceiling is above).
    int host_process = -1;
    bool host_bypass = false;
};

// How an action ended; the server gives each outcome its HTTP status.
enum class Outcome {
    ok,
    refused,  // a value the process cannot take, or a file that is not a process
    missing,  // no stored process of that number
    exists,   // a Save that would replace a process without being told to
    failed,   // the system refused (a write, a folder)
};

struct Result {
    Outcome outcome = Outcome::ok;
    std::string error;  // why, when not ok
    std::string name;   // the field at fault, empty for none
};

// The controls as the page sets them: assignments of the parameter table
// (name, value as text), already checked against its ranges, applied
// together; and the test tone.
struct ControlEdit {
    std::vector<std::pair<std::string, std::string>> assignments;
    int test_tone = -1;  // 0 or 1; -1 leaves it
};

struct SaveRequest {
    int number = 0;  // 0..100
    bool overwrite = false;
    std::optional<std::string> name;  // printable ASCII; else the process keeps its name
};

struct StoredProcess {
    int number;
    std::string name;  // 8-bit text as stored
};

struct MeterTick {
    MeterFrame frame{};
    bool bypass = false;  // Bypass All is on air
};

// The stream the processor plays, for the page.
struct ControlFormat {
    int channels = 2;
    int input_rate = 44100;
    bool raw = false;  // headerless PCM, else WAV
};

struct ControlTarget {
    // What lends it, for its label: "stream", "LADSPA", "LV2".
    std::string kind = "stream";
    // The host owns the process, bypass and ceiling (a plug-in's ports):
    // Load, Bypass All and the test tone are refused.
    bool host_owned = false;
    std::function<ControlState()> state;
    // The valid processes of the settings folder, by number.
    std::function<std::vector<StoredProcess>()> processes;
    // The actions give the state right after them, taken in the same step.
    // Load puts stored process `number` on air at the next block.
    std::function<Result(int number, ControlState& after)> load_process;
    // The state before the edit too, for the log of changes.
    std::function<Result(const ControlEdit& edit, ControlState& before, ControlState& after)> apply_controls;
    // Save writes what is on air as a stored process.
    std::function<Result(const SaveRequest& save, ControlState& after)> save_process;
    // One tick of the meters; called every kMeterTickMs from one thread.
    std::function<MeterTick()> meter_tick;
    ControlFormat format;
    // Measures the output and watches the input; null for none. Owned by
    // the front end, which keeps it running while the server runs.
    StationMonitor* monitor = nullptr;
    // One line of the front end's log (changes made from the page, Load,
    // Save); called from the server's threads.
    std::function<void(const std::string&)> log;
};

}  // namespace qv::control
