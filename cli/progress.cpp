#include "cli/progress.h"

#include <unistd.h>

#include <cstdio>

namespace qv::cli {

namespace {
constexpr double kMinSeconds = 5.0;  // shorter inputs finish before a bar is worth drawing
constexpr int kBarWidth = 40;
}  // namespace

void progress_start(Progress& p, double total_seconds) {
    p.total_seconds = total_seconds;
    p.enabled = total_seconds > kMinSeconds && isatty(STDERR_FILENO) == 1;
    p.last_draw = std::chrono::steady_clock::now() - std::chrono::seconds(1);
}

void progress_update(Progress& p, double done_seconds) {
    if (!p.enabled) return;
    const auto now = std::chrono::steady_clock::now();
    if (now - p.last_draw < std::chrono::milliseconds(100)) return;
    p.last_draw = now;
    double fraction = done_seconds / p.total_seconds;
    if (fraction > 1) fraction = 1;
    const int filled = static_cast<int>(fraction * kBarWidth);
    char bar[kBarWidth + 1];
    for (int i = 0; i < kBarWidth; ++i) bar[i] = i < filled ? '#' : '-';
    bar[kBarWidth] = '\0';
    std::fprintf(stderr, "\r[%s] %3d%%  %.0f/%.0f s", bar, static_cast<int>(fraction * 100), done_seconds,
                 p.total_seconds);
    std::fflush(stderr);
}

void progress_finish(Progress& p) {
    if (!p.enabled) return;
    std::fprintf(stderr, "\r%*s\r", kBarWidth + 24, "");
    std::fflush(stderr);
    p.enabled = false;
}

}  // namespace qv::cli
