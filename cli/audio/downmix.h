#pragma once
// Folding more than two channels to stereo with the ITU coefficients: front
// left and right at unity, centre and surrounds at -3 dB, the LFE dropped.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qv::cli {

struct Downmix {
    int channels = 0;         // input channels
    std::vector<float> left;  // per input channel: its gain into the left output
    std::vector<float> right;
    std::vector<int> loudness;    // per input channel: its libebur128 channel, for measuring the input
    std::string layout;           // e.g. "FL FR FC LFE BL BR"
    std::uint64_t overloads = 0;  // output samples beyond full scale (clipped on conversion)
};

// Plans the fold of `channels` channels. positions holds libsndfile's
// SF_CHANNEL_MAP_* per channel (from the WAVE channel mask), or is empty for
// the container's own order (FLAC; Ogg; else the WAVE order). False with
// the reason in error for a layout that cannot be folded.
bool downmix_plan(Downmix& d, int channels, const std::vector<int>& positions, int sf_format, std::string& error);

// frames interleaved frames of d.channels floats into 2 * frames floats.
void downmix_apply(Downmix& d, const float* in, std::size_t frames, float* out);

}  // namespace qv::cli
