#pragma once
// SIGINT and SIGTERM as a flag, for a tool that must clean up before it
// ends: after catch_interrupts() the signals set interrupted_signal (to the
// signal's number) instead of killing the process, so a run can remove its
// temporary files. Atomic because threads other than the one that took the
// signal read it; lock-free, so the handler may store to it.
#include <atomic>

namespace qv::platform {

extern std::atomic<int> interrupted_signal;
static_assert(std::atomic<int>::is_always_lock_free);
void catch_interrupts();
// Exit status of a run stopped by a signal (128 + the signal's number).
int interrupted_status();

}  // namespace qv::platform
