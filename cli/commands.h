#pragma once
// The subcommands of the `quorvane` tool. Each returns the exit status:
// 0 success, 1 processing failure, 2 usage error.
#include <atomic>
#include <string>
#include <vector>

#include "cli/report/delivery.h"
#include "cli/session.h"

namespace qv::cli {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

struct ProcessOptions {
    std::string input;          // "-": a WAV stream on standard input
    std::string output;         // "-": WAV on standard output
    std::string plot;           // --plot FILE.svg, empty for none
    bool json = false;          // the summary as one JSON object
    bool force = false;         // replace a write-protected OUT
    bool no_clobber = false;    // never replace an existing OUT
    bool downmix = false;       // fold more than two channels to stereo
    bool keep_latency = false;  // --keep-latency: the chain's delay stays in the output
    DeliveryTargets delivery;   // --loudness, --true-peak
    ProcessChoice choice;
};

struct StreamOptions {
    std::string log_file;  // --log FILE: messages appended there too
    bool raw = false;
    int channels = 2;  // --raw only
    int rate = 44100;  // --raw only
    ProcessChoice choice;
    std::string control;        // --control [ADDR:]PORT, empty for none
    std::string control_token;  // --control-token FILE
};

int run_process(const ProcessOptions& options);
int run_stream(const StreamOptions& options);
// What `process` and `stream` check first: the process options (a bad --set
// is a usage error). kExitOk, or the exit status after printing the fault.
int check_choice_status(const ProcessChoice& choice);
// Audio never goes to a terminal: true, after saying so, when standard
// output is one (a usage error).
bool refuse_terminal_output();
// `preset` subcommands; target is a process number 0..100 of the settings
// folder or a file path.
struct PresetOptions {
    std::string target;
    std::string settings_dir;  // --settings-dir DIR (default: the user's)
    std::vector<std::string> assignments;
};

int run_preset_list(const PresetOptions& options);
int run_preset_params();
int run_preset_show(const PresetOptions& options);
int run_preset_set(const PresetOptions& options);
int run_preset_defaults(const PresetOptions& options);
int run_preset_install_factory(const PresetOptions& options);

// How much a subcommand says besides its errors: -q, the default, -v.
constexpr int kQuiet = 0;
constexpr int kNormal = 1;
constexpr int kVerbose = 2;
extern int g_verbosity;

void print_error(const std::string& message);
// A line on standard error when g_verbosity is kVerbose.
void print_info(const std::string& message);
// A message that is not an error (stream start, reloads), on standard error
// and in the log file.
void print_note(const std::string& message);
// Appends every later message to path too, each with a UTC time stamp.
bool open_log(const std::string& path, std::string& error);

}  // namespace qv::cli
