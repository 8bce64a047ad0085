#include "cli/commands.h"

#include <signal.h>

#include <cstdio>

namespace qv::cli {

volatile std::sig_atomic_t g_interrupted = 0;
int g_verbosity = kNormal;

namespace {
void on_interrupt(int sig) { g_interrupted = sig; }
}  // namespace

void catch_interrupts() {
    struct sigaction sa = {};
    sa.sa_handler = on_interrupt;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;  // no SA_RESTART: a blocked read returns and the loop sees the flag
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

int interrupted_status() { return 128 + static_cast<int>(g_interrupted); }

void print_error(const std::string& message) { std::fprintf(stderr, "quorvane: %s\n", message.c_str()); }

void print_info(const std::string& message) {
    if (g_verbosity >= kVerbose) std::fprintf(stderr, "quorvane: %s\n", message.c_str());
}

}  // namespace qv::cli
