#pragma once
// Frames go through the chain a chunk at a time: each step runs over the
// whole chunk before the next one starts. A step's frames depend on each
// other only through its own memories, so the processor overlaps the work of
// neighbouring frames, which one long pass through all the stages per frame
// does not let it do. Every frame still meets the stages in the same order
// with the same parameters, so the samples are those of a frame-by-frame
// pass. What a later step needs from an earlier one in the same frame travels
// in the chunk.
#include <cstdint>

namespace qv {

constexpr int kChunkFrames = 128;

struct Chunk {
    double left[kChunkFrames];
    double right[kChunkFrames];
    double input_peak[kChunkFrames];       // step 3, the AGC gate's reference
    std::int32_t agc_gated[kChunkFrames];  // step 7, read by the band gain computers
    std::int32_t ring_slot[kChunkFrames];  // step 11, the look-ahead slot the dual band shares
};

}  // namespace qv
