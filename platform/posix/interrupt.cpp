#include "platform/posix/interrupt.h"

#include <signal.h>

namespace qv::platform {

std::atomic<int> interrupted_signal{0};

namespace {
void on_interrupt(int sig) { interrupted_signal = sig; }
}  // namespace

void catch_interrupts() {
    struct sigaction sa = {};
    sa.sa_handler = on_interrupt;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;  // no SA_RESTART: a blocked read returns and the loop sees the flag
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

int interrupted_status() { return 128 + interrupted_signal.load(); }

}  // namespace qv::platform
