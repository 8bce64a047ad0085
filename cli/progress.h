#pragma once
// A one-line progress bar on standard error, shown only when standard error
// is a terminal and the input lasts longer than a few seconds.
#include <chrono>

namespace qv::cli {

struct Progress {
    bool enabled = false;
    double total_seconds = 0;
    std::chrono::steady_clock::time_point last_draw{};
};

void progress_start(Progress& p, double total_seconds);
void progress_update(Progress& p, double done_seconds);
// Clears the line.
void progress_finish(Progress& p);

}  // namespace qv::cli
