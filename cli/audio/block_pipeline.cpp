#include "cli/audio/block_pipeline.h"

#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <system_error>

namespace qv::cli {

namespace {

// A wait also ends this often, to see the interrupt flag: a signal that
// arrives while a thread waits on a condition does not wake it.
constexpr auto kPoll = std::chrono::milliseconds(100);

}  // namespace

BlockPipeline::BlockPipeline(std::size_t blocks, std::size_t block_samples, std::array<std::size_t, 3> wake_at,
                             const std::atomic<int>* interrupted)
    : pool_(blocks), interrupted_(interrupted) {
    for (std::size_t i = 0; i < queues_.size(); ++i) {
        queues_[i].ring.resize(blocks);
        queues_[i].wake_at = wake_at[i] > 0 ? wake_at[i] : 1;
    }
    Queue& free = queue(Lane::free);
    for (PipelineBlock& b : pool_) {
        b.samples.resize(block_samples);
        free.ring[free.count++] = &b;
    }
}

PipelineBlock* BlockPipeline::take(Lane lane) {
    Queue& q = queue(lane);
    std::unique_lock lock(mutex_);
    for (;;) {
        if (stopped()) return nullptr;
        if (q.count > 0) {
            PipelineBlock* b = q.ring[q.head];
            q.head = (q.head + 1) % q.ring.size();
            --q.count;
            return b;
        }
        if (q.closed) return nullptr;
        q.ready.wait_for(lock, kPoll);
    }
}

void BlockPipeline::put(Lane lane, PipelineBlock* block) {
    Queue& q = queue(lane);
    bool wake;
    {
        std::lock_guard lock(mutex_);
        // Never full: the ring holds the whole pool.
        q.ring[(q.head + q.count) % q.ring.size()] = block;
        wake = ++q.count == q.wake_at;
    }
    if (wake) q.ready.notify_all();
}

void BlockPipeline::close(Lane lane) {
    Queue& q = queue(lane);
    {
        std::lock_guard lock(mutex_);
        q.closed = true;
    }
    q.ready.notify_all();
}

void BlockPipeline::stop(const std::string& error) {
    {
        std::lock_guard lock(mutex_);
        if (error_.empty()) error_ = error;
        stop_ = true;
    }
    for (Queue& q : queues_) q.ready.notify_all();
}

bool BlockPipeline::drained(Lane lane) const {
    std::lock_guard lock(mutex_);
    return queue(lane).closed && queue(lane).count == 0;
}

bool BlockPipeline::stopped() const { return stop_ || (interrupted_ != nullptr && *interrupted_ != 0); }

std::string BlockPipeline::error() const {
    std::lock_guard lock(mutex_);
    return error_;
}

StageThreads::~StageThreads() {
    if (threads_.empty()) return;
    pipe_.stop();
    join();
}

bool StageThreads::start(std::function<void()> body, std::string& error) {
    sigset_t blocked, old;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGINT);
    sigaddset(&blocked, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &blocked, &old);
    bool ok = true;
    try {
        threads_.emplace_back(std::move(body));
    } catch (const std::system_error& e) {
        error = std::string("cannot start a thread: ") + e.what();
        ok = false;
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    return ok;
}

void yield_to_chain_stage() {
    // On Linux a thread's nice value is its own: the other threads keep theirs.
    (void)setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 10);
}

void StageThreads::join() {
    for (std::thread& t : threads_)
        if (t.joinable()) t.join();
    threads_.clear();
}

}  // namespace qv::cli
