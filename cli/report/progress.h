#pragma once
// A one-line progress bar on standard error, shown only when standard error
// is a terminal and the input lasts longer than a few seconds: how far, the
// time taken so far, the speed as a multiple of real time and the time left.
#include <chrono>
#include <string>

namespace qv::cli {

struct Progress {
    bool enabled = false;
    double total_seconds = 0;  // of audio
    std::chrono::steady_clock::time_point started{};
    std::chrono::steady_clock::time_point last_draw{};
    std::size_t drawn = 0;  // characters of the line last drawn, to clear it
};

void progress_start(Progress& p, double total_seconds);
void progress_update(Progress& p, double done_seconds);
// Clears the line.
void progress_finish(Progress& p);

// The line for done of total seconds of audio after elapsed seconds, e.g.
// "[####----]  42%  1:23 of 3:20  elapsed 0:05  16.6x realtime  left 0:07".
std::string progress_text(double done_seconds, double total_seconds, double elapsed_seconds);

}  // namespace qv::cli
