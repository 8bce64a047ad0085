#pragma once
// The stages of `process` on their own threads: decoding (with the input's
// meter and the conversion to the chain's format), the chain, and the output
// (its meter and the encoder). Blocks of frames circulate through a fixed
// pool, free -> decoded -> processed -> free, so every queue is bounded by
// the pool, the blocks keep their order, and nothing is allocated per block.
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/processor.h"

namespace qv::cli {

struct PipelineBlock {
    std::vector<std::int16_t> samples;  // interleaved, sized for a whole block
    std::size_t frames = 0;
    std::size_t skip = 0;  // leading frames that are the chain's delay: not written
    // The readings the plot takes right after this block went through the
    // chain, read on the chain's thread so they belong to this block.
    bool has_readings = false;
    ProcessorReadings readings{};
};

enum class Lane : std::size_t { free, decoded, processed };

class BlockPipeline {
public:
    // wake_at: how many blocks a lane gathers before its waiting consumer is
    // woken (the end of a lane and a stop always wake it), so that the
    // stages sharing a core with the chain run in bursts, not once per block.
    // The pool must exceed the sum of the free and processed lanes' wake_at.
    BlockPipeline(std::size_t blocks, std::size_t block_samples, std::array<std::size_t, 3> wake_at,
                  const std::atomic<int>* interrupted);
    BlockPipeline(const BlockPipeline&) = delete;
    BlockPipeline& operator=(const BlockPipeline&) = delete;

    // The oldest block of the lane, waiting for one; null once the lane is
    // closed and empty, or when the pipeline stopped.
    PipelineBlock* take(Lane lane);
    void put(Lane lane, PipelineBlock* block);
    // No more blocks come to the lane.
    void close(Lane lane);
    // Ends every wait and every take from now on: a stage failed (with its
    // cause in error, which the first failure sets) or the run was interrupted.
    void stop(const std::string& error = {});
    // Closed, and every block put to it was taken.
    bool drained(Lane lane) const;
    // Stopped, or the interrupt flag is set.
    bool stopped() const;
    std::string error() const;

private:
    struct Queue {
        std::vector<PipelineBlock*> ring;  // capacity: the whole pool
        std::size_t head = 0, count = 0;
        std::size_t wake_at = 1;
        bool closed = false;
        std::condition_variable ready;
    };
    Queue& queue(Lane lane) { return queues_[static_cast<std::size_t>(lane)]; }
    const Queue& queue(Lane lane) const { return queues_[static_cast<std::size_t>(lane)]; }

    std::vector<PipelineBlock> pool_;
    std::array<Queue, 3> queues_;
    mutable std::mutex mutex_;
    std::atomic<bool> stop_{false};
    std::string error_;
    const std::atomic<int>* interrupted_;
};

// The threads of a pipeline; each runs with SIGINT and SIGTERM blocked, so
// those signals reach the thread that reads the input (and can interrupt a
// read of standard input that waits for data). The destructor stops the
// pipeline and joins whatever still runs, before the stages' state goes away.
class StageThreads {
public:
    explicit StageThreads(BlockPipeline& pipe) : pipe_(pipe) {}
    StageThreads(const StageThreads&) = delete;
    StageThreads& operator=(const StageThreads&) = delete;
    ~StageThreads();

    // False (with the cause in error) when the system has no thread to give.
    bool start(std::function<void()> body, std::string& error);
    void join();

private:
    BlockPipeline& pipe_;
    std::vector<std::thread> threads_;
};

// Lowers the calling thread's scheduling priority (nice 10), so that when the
// stages around the chain compete for the cores, the chain's thread, the
// slowest stage, keeps one to itself. Best effort: a refusal changes nothing.
void yield_to_chain_stage();

}  // namespace qv::cli
