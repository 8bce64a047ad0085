#pragma once
// Our own WAV reader and writer for pipes, where libsndfile cannot seek:
// a RIFF/WAVE (or RF64) header read front to back, then 16-bit PCM until the
// declared data length or the end of the stream.
//
// Tools writing to a pipe cannot know the length in advance and put 0 or a
// value near 0xFFFFFFFF in the data length; both mean "until the end".
#include <cstddef>
#include <cstdint>
#include <string>

#include "cli/fs_util.h"

namespace qv::cli {

struct WavStreamFormat {
    int channels = 0;
    int rate = 0;
    int bits = 0;
    std::uint64_t data_bytes = 0;  // meaningful when until_eof is false
    bool until_eof = false;
};

enum class WavHeaderStatus { ok, truncated, not_wav, unsupported };

// Data lengths from this value up (and 0) mean "until the end of the stream".
constexpr std::uint32_t kOpenEndedFrom = 0x7FFFF000;
// What the writer puts in both length fields of a header it cannot patch.
constexpr std::uint32_t kStreamingLength = 0xFFFFFFFF;
constexpr std::size_t kWavHeaderBytes = 44;

// Reads the header from fd, consuming exactly the bytes up to the audio data.
// Accepts PCM (format 1, or extensible with the PCM sub-format); anything but
// 16-bit with one or two channels is `unsupported`, with the reason in error.
WavHeaderStatus read_wav_header(int fd, WavStreamFormat& format, std::string& error);

// The canonical 44-byte header of 16-bit PCM; data_bytes = kStreamingLength
// gives the open-ended form (RIFF length likewise 0xFFFFFFFF).
void make_wav_header(unsigned char (&out)[kWavHeaderBytes], int channels, int rate, std::uint32_t data_bytes);

}  // namespace qv::cli
