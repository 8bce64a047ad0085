#pragma once
// The browser control's callbacks over a processor: the state, the controls,
// Save and the meters work the processor's control side under the front
// end's control lock (never taken by the audio thread), and the meters are
// read through a take-and-reset feed. Load is the front end's own.
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "control/control_target.h"
#include "engine/processor.h"

namespace qv::control {

struct ProcessorControl {
    Processor* processor = nullptr;
    // Held around every use of the processor's control side (settings,
    // processor_update/publish/load, the selection fields) and around
    // load_locked.
    std::mutex* lock = nullptr;
    std::string settings_dir;  // where qv$N.dat live; created by the first Save
    // Puts stored process number (0..100) on air at the next block and sets
    // selection.on_air_process and process_modified; called with lock held;
    // changes nothing unless it returns ok (missing: no such process;
    // refused: not a valid one).
    std::function<Result(int number)> load_locked;
    ControlFormat format;
};

ControlTarget processor_control_target(const ProcessorControl& control);

// Pieces that other front ends (the plug-ins) share.
// The ceiling's switch and level, read from the processor's atomics.
void fill_ceiling_state(const Processor& p, ControlState& state);
// The valid processes of the settings folder dir, by number.
std::vector<StoredProcess> stored_processes(const std::string& dir);
// Writes process, renamed when save names it, as stored process
// save.number in dir (created when missing); saved is what was written.
Result write_stored_process(const std::string& dir, const SaveRequest& save, const ProcessParams& process,
                            ProcessParams& saved);

}  // namespace qv::control
