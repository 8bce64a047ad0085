#pragma once
// The subcommands of the `quorvane` tool. Each returns the exit status:
// 0 success, 1 processing failure, 2 usage error (cli/report/messages.h).
#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "cli/presets/preset_command.h"
#include "cli/report/delivery.h"
#include "cli/report/messages.h"
#include "cli/session.h"

namespace qv::cli {

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
    std::string control;             // --control [ADDR:]PORT, empty for none
    std::string control_token;       // --control-token FILE
    std::string control_read_token;  // --control-read-token FILE
    // The dead-air alarm; given, the station monitor runs without --control too.
    std::optional<double> dead_air_below_dbfs;  // --dead-air-below
    std::optional<double> dead_air_after_s;     // --dead-air-after
};

int run_process(const ProcessOptions& options);
int run_stream(const StreamOptions& options);
// What `process` and `stream` check first: the process options (a bad --set
// is a usage error). kExitOk, or the exit status after printing the fault.
int check_choice_status(const ProcessChoice& choice);
// Audio never goes to a terminal: true, after saying so, when standard
// output is one (a usage error).
bool refuse_terminal_output();
}  // namespace qv::cli
