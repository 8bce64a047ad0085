#pragma once
// The input of `process`: a file through libsndfile, or "-" for a WAV
// stream on standard input (what `stream` takes: 16-bit PCM, lengths that
// may be open-ended).
#include <sndfile.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "cli/audio/wav_stream.h"

namespace qv::cli {

struct AudioInput {
    std::string name;  // the path, or "standard input"
    SNDFILE* file = nullptr;
    bool from_stdin = false;
    SF_INFO info{};          // frames is 0 for standard input until the end
    std::uint64_t left = 0;  // standard input: bytes still declared (when not open-ended)
    bool open_ended = false;
    std::vector<unsigned char> bytes;  // standard input: read buffer
};

// "-" is standard input. False with "name: cause" in error.
bool input_open(AudioInput& in, const std::string& path, std::string& error);
void input_close(AudioInput& in);

// True when the samples have at most 16 bits and read exactly as 16-bit.
bool input_is_narrow(const AudioInput& in);

// Reads up to frames interleaved frames; the count read, 0 at the end, -1 on
// an error (with the cause in error) or when interrupted.
long input_read(AudioInput& in, std::int16_t* out, std::size_t frames, std::string& error);
long input_read(AudioInput& in, float* out, std::size_t frames, std::string& error);

// The text tags the input holds (SF_STR_* and the value).
std::vector<std::pair<int, std::string>> input_tags(const AudioInput& in);

// The speaker position of each channel (SF_CHANNEL_MAP_*) from the file's
// own map (a WAVE channel mask, a CAF layout); empty when it has none.
std::vector<int> input_channel_positions(const AudioInput& in);

}  // namespace qv::cli
