#pragma once
// What the tool says: its exit statuses, and its messages on standard error
// (and in the log file of `stream --log`).
#include <string>

namespace qv::cli {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
// `process`: OUT was written, but a step after it failed (the plot when OUT
// is standard output, the --json summary); the message says which.
constexpr int kExitPartial = 3;

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
// A level as the command line gives it: "-1 dBTP", "-0.5 dBTP".
std::string dbtp_text(double dbtp);
// Appends every later message to path too, each with a UTC time stamp.
bool open_log(const std::string& path, std::string& error);

}  // namespace qv::cli
