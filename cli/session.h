#pragma once
// One run of the processor: which process it plays and the processor
// instance itself. Nothing is written to the settings folder: a stored
// process is read once (and again on a reload), edits through --set stay in
// memory.
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "engine/processor.h"
#include "settings/records.h"

namespace qv::cli {

constexpr int kChainRate = 44100;  // every coefficient of the chain is designed for it

// The process options shared by `process` and `stream`.
struct ProcessChoice {
    std::optional<int> process_number;  // --process N
    std::string preset_file;            // --preset FILE.dat
    std::vector<std::string> sets;      // --set NAME=VALUE
    std::string settings_dir;           // --settings-dir DIR (default: the user's)
    // --ceiling DBTP: the processor's true-peak ceiling, for its whole life
    // (a reload or a Load puts another process on air, the ceiling stays).
    std::optional<double> ceiling_dbtp;
};

struct Session {
    ProcessChoice choice;
    std::unique_ptr<Processor> processor;
    // Held by every control-side call once audio runs (a reload, the web
    // control), and by every read of the fields below then (session_on_air);
    // the audio thread never takes it.
    std::mutex control;
    int process_number = -1;  // the stored process on air, -1 for a file or the built-in default
    std::string process_name;
    std::string description;  // e.g. `process 3 "NEWS"` or `preset x.dat "LOUD"`, for the summary
};

// What is on air, read under the session's lock.
struct OnAir {
    std::string description;
    int latency_frames = 0;  // frames the process on air delays its output by
};
OnAir session_on_air(Session& s);

// Validates the choice without touching any file.
// error_is_usage tells a bad option (exit 2) from a processing failure (exit 1).
bool check_choice(const ProcessChoice& choice, std::string& error, bool& error_is_usage);

// The process a choice plays, with --set applied: --preset FILE; --process N
// from the settings folder (a missing or invalid one is an error); without
// either, process 0 of the settings folder when it exists, else the built-in
// default. number is -1 unless a stored process was read.
bool resolve_process(const ProcessChoice& choice, ProcessParams& process, int& number, std::string& description,
                     std::string& error);

// Resolves the choice and makes the processor, with the ceiling when the
// choice has one.
bool start_session(Session& s, const ProcessChoice& choice, std::string& error);
// Reads the process again (files may have changed) and puts it on air at the
// next block, as the panel's Load does; now is what is on air after it, read
// in the same step. On failure nothing changes.
bool reload_session(Session& s, OnAir& now, std::string& error);
// Puts stored process `number` of the settings folder on air at the next
// block, --set applied on top; later reloads read that process. The caller
// holds s.control. On failure nothing changes.
bool load_stored_process_locked(Session& s, int number, std::string& error);

// One block of interleaved 16-bit frames at 44.1 kHz, processed in place.
inline void process_block(Session& s, std::int16_t* samples, int frames, int channels) {
    processor_run(*s.processor, samples, frames, channels);
}

}  // namespace qv::cli
