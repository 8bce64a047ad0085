#pragma once
// The subcommands of the `quorvane` tool. Each returns the exit status:
// 0 success, 1 processing failure, 2 usage error.
#include <csignal>
#include <string>
#include <vector>

#include "cli/session.h"

namespace qv::cli {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

struct ProcessOptions {
    std::string input;        // "-": a WAV stream on standard input
    std::string output;       // "-": WAV on standard output
    std::string plot;         // --plot FILE.svg, empty for none
    bool json = false;        // the summary as one JSON object
    bool force = false;       // replace a write-protected OUT
    bool no_clobber = false;  // never replace an existing OUT
    bool downmix = false;     // fold more than two channels to stereo
    ProcessChoice choice;
};

struct StreamOptions {
    bool raw = false;
    int channels = 2;  // --raw only
    int rate = 44100;  // --raw only
    ProcessChoice choice;
};

int run_process(const ProcessOptions& options);
int run_stream(const StreamOptions& options);
int run_preset_show(const std::string& file);
int run_preset_set(const std::string& file, const std::vector<std::string>& assignments);
int run_preset_defaults(const std::string& file);

// SIGINT and SIGTERM set this flag instead of killing the tool, so a run can
// remove its temporary files and restore the settings directory.
extern volatile std::sig_atomic_t g_interrupted;
void catch_interrupts();
// Exit status of a run stopped by a signal (128 + the signal's number).
int interrupted_status();

// How much a subcommand says besides its errors: -q, the default, -v.
constexpr int kQuiet = 0;
constexpr int kNormal = 1;
constexpr int kVerbose = 2;
extern int g_verbosity;

void print_error(const std::string& message);
// A line on standard error when g_verbosity is kVerbose.
void print_info(const std::string& message);

}  // namespace qv::cli
