#include "cli/report/progress.h"

#include <unistd.h>

#include <cmath>
#include <cstdio>

#include "cli/report/svg_plot.h"

namespace qv::cli {

namespace {
constexpr double kMinSeconds = 5.0;  // shorter inputs finish before a bar is worth drawing
constexpr int kBarWidth = 30;
}  // namespace

std::string progress_text(double done_seconds, double total_seconds, double elapsed_seconds) {
    double fraction = total_seconds > 0 ? done_seconds / total_seconds : 0;
    fraction = fraction < 0 ? 0 : fraction > 1 ? 1 : fraction;
    const int filled = static_cast<int>(fraction * kBarWidth);
    std::string bar(static_cast<std::size_t>(kBarWidth), '-');
    bar.replace(0, static_cast<std::size_t>(filled), static_cast<std::size_t>(filled), '#');
    const bool hours = total_seconds >= 3600;
    std::string text = "[" + bar + "] ";
    char buf[160];
    std::snprintf(buf, sizeof buf, "%3d%%  %s of %s  elapsed %s", static_cast<int>(fraction * 100),
                  time_label(done_seconds, hours).c_str(), time_label(total_seconds, hours).c_str(),
                  time_label(elapsed_seconds, elapsed_seconds >= 3600).c_str());
    text += buf;
    // Speed and time left only once there is something to go by.
    if (elapsed_seconds >= 0.2 && done_seconds > 0) {
        const double speed = done_seconds / elapsed_seconds;
        const double left = (total_seconds - done_seconds) / speed;
        std::snprintf(buf, sizeof buf, "  %.1fx realtime  left %s", speed, time_label(left, left >= 3600).c_str());
        text += buf;
    }
    return text;
}

void progress_start(Progress& p, double total_seconds) {
    p.total_seconds = total_seconds;
    p.enabled = total_seconds > kMinSeconds && isatty(STDERR_FILENO) == 1;
    p.started = std::chrono::steady_clock::now();
    p.last_draw = p.started - std::chrono::seconds(1);
}

void progress_update(Progress& p, double done_seconds) {
    if (!p.enabled) return;
    const auto now = std::chrono::steady_clock::now();
    if (now - p.last_draw < std::chrono::milliseconds(100)) return;
    p.last_draw = now;
    const std::string line =
        progress_text(done_seconds, p.total_seconds, std::chrono::duration<double>(now - p.started).count());
    // Padding covers a longer line drawn before.
    std::fprintf(stderr, "\r%s%*s", line.c_str(), p.drawn > line.size() ? static_cast<int>(p.drawn - line.size()) : 0,
                 "");
    p.drawn = line.size();
    std::fflush(stderr);
}

void progress_finish(Progress& p) {
    if (!p.enabled) return;
    std::fprintf(stderr, "\r%*s\r", static_cast<int>(p.drawn), "");
    std::fflush(stderr);
    p.drawn = 0;
    p.enabled = false;
}

}  // namespace qv::cli
