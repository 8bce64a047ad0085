#pragma once
// Our own WAV reader and writer for pipes, where libsndfile cannot seek:
// a RIFF/WAVE (or RF64) header read front to back, then 16-bit PCM until the
// declared data length or the end of the stream.
//
// Tools writing to a pipe cannot know the length in advance and put 0 or a
// value near 0xFFFFFFFF in the data length; both mean "until the end".
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

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
// What a header may hold before its data chunk: a stream of empty or huge
// chunks is refused instead of read for ever.
constexpr std::uint64_t kMaxHeaderBytes = 16u << 20;
constexpr int kMaxHeaderChunks = 64;

// Reads the header from fd, consuming exactly the bytes up to the audio data.
// Accepts PCM (format 1, or extensible with the PCM sub-format); anything but
// 16-bit with one or two channels at a rate the converter takes is
// `unsupported`, with the reason in error.
WavHeaderStatus read_wav_header(int fd, WavStreamFormat& format, std::string& error);

// The canonical 44-byte header of 16-bit PCM; data_bytes = kStreamingLength
// gives the open-ended form (RIFF length likewise 0xFFFFFFFF).
void make_wav_header(unsigned char (&out)[kWavHeaderBytes], int channels, int rate, std::uint32_t data_bytes);

// A 44.1 kHz 16-bit WAV written front to back to a descriptor that may be a
// pipe: the open-ended header first, the lengths filled in at the end when
// the descriptor is a regular file that can be patched.
struct WavStreamWriter {
    int fd = -1;
    int channels = 0;
    off_t header_at = -1;  // where the header was written; -1 when it cannot be patched
    std::uint64_t data_bytes = 0;
};

// Writes the header. False with errno set (EPIPE once the reader has gone).
bool wav_writer_start(WavStreamWriter& w, int fd, int channels);
// Writes interleaved samples (little-endian on the wire).
bool wav_writer_samples(WavStreamWriter& w, const std::int16_t* samples, std::size_t count);
// Bytes that pass as they came (a trailing partial frame).
bool wav_writer_bytes(WavStreamWriter& w, const void* bytes, std::size_t count);
// Patches the lengths where possible. False with errno set when the patch
// was attempted and failed.
bool wav_writer_finish(WavStreamWriter& w);
}  // namespace qv::cli
