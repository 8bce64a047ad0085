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
    std::string input;
    std::string output;
    std::string plot;  // --plot FILE.svg, empty for none
    bool quiet = false;
    ProcessChoice choice;
};

struct StreamOptions {
    bool raw = false;
    int channels = 2;  // --raw only
    int rate = 44100;  // --raw only
    ProcessChoice choice;
    std::string control;        // --control [ADDR:]PORT, empty for none
    std::string control_token;  // --control-token FILE
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

void print_error(const std::string& message);

}  // namespace qv::cli
