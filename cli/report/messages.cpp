#include "cli/report/messages.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace qv::cli {

int g_verbosity = kNormal;

namespace {
int g_log_fd = -1;

void log_line(const std::string& line) {
    if (g_log_fd < 0) return;
    char stamp[32];
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&now, &tm);
    std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ ", &tm);
    const std::string text = stamp + line + "\n";
    // One write per line, so lines from two runs appending to one log stay whole.
    if (write(g_log_fd, text.data(), text.size()) < 0) return;
}
}  // namespace

std::string dbtp_text(double dbtp) {
    char text[32];
    std::snprintf(text, sizeof text, "%g dBTP", dbtp);
    return text;
}

bool open_log(const std::string& path, std::string& error) {
    g_log_fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (g_log_fd < 0) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

void print_error(const std::string& message) {
    std::fprintf(stderr, "quorvane: %s\n", message.c_str());
    log_line("error: " + message);
}

void print_note(const std::string& message) {
    if (g_verbosity >= kNormal) std::fprintf(stderr, "quorvane: %s\n", message.c_str());
    log_line(message);
}

void print_info(const std::string& message) {
    if (g_verbosity >= kVerbose) std::fprintf(stderr, "quorvane: %s\n", message.c_str());
}

}  // namespace qv::cli
