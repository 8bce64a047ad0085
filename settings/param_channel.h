#pragma once
// How a complete parameter set crosses from the control side to the audio
// thread: a triple buffer. The control side fills the slot it owns and swaps
// it with the shared middle slot; the audio thread, at the start of a block,
// swaps its slot with the middle one when that holds a newer set. Neither side
// ever waits, and neither ever reads a slot the other is writing.
#include <atomic>
#include <cstdint>

#include "settings/settings.h"

namespace qv {

struct ParamChannel {
    ChainParams slot[3];
    // Index of the middle slot, with kFresh set while it holds a set the
    // audio thread has not taken yet.
    std::atomic<std::uint32_t> middle{2};
    std::uint32_t back = 1;   // control side's slot
    std::uint32_t front = 0;  // audio thread's slot
    static constexpr std::uint32_t kFresh = 4;
};

// Control side: publishes a copy of p, played from the next block on.
inline void publish_params(ParamChannel& ch, const ChainParams& p) {
    ch.slot[ch.back] = p;
    ch.back = ch.middle.exchange(ch.back | ParamChannel::kFresh, std::memory_order_acq_rel) & 3u;
}

// Audio thread, once per block: the newest published set.
inline const ChainParams& acquire_params(ParamChannel& ch) {
    if (ch.middle.load(std::memory_order_relaxed) & ParamChannel::kFresh)
        ch.front = ch.middle.exchange(ch.front, std::memory_order_acq_rel) & 3u;
    return ch.slot[ch.front];
}

}  // namespace qv
