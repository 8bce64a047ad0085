#include "cli/wav_stream.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace qv::cli {

namespace {

constexpr std::uint16_t kFormatPcm = 1;
constexpr std::uint16_t kFormatExtensible = 0xFFFE;
constexpr std::size_t kFmtKeep = 64;  // the fields we read all lie in the first 40 bytes

std::uint16_t le16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
std::uint32_t le32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
void put16(unsigned char* p, std::uint32_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}
void put32(unsigned char* p, std::uint32_t v) {
    put16(p, v);
    put16(p + 2, v >> 16);
}

// Discards n bytes of the stream. False at a premature end or an error.
bool skip_bytes(int fd, std::uint64_t n) {
    unsigned char buf[4096];
    while (n > 0) {
        const std::size_t want = n < sizeof buf ? static_cast<std::size_t>(n) : sizeof buf;
        const long got = read_full(fd, buf, want);
        if (got != static_cast<long>(want)) return false;
        n -= want;
    }
    return true;
}

WavHeaderStatus check_fmt(const unsigned char* f, std::uint32_t size, WavStreamFormat& format, std::string& error) {
    if (size < 16) {
        error = "WAV 'fmt ' chunk is too short";
        return WavHeaderStatus::not_wav;
    }
    std::uint16_t tag = le16(f);
    format.channels = le16(f + 2);
    format.rate = static_cast<int>(le32(f + 4));
    format.bits = le16(f + 14);
    if (tag == kFormatExtensible && size >= 40) tag = le16(f + 24);  // first bytes of the sub-format GUID
    if (tag != kFormatPcm) {
        error = "the stream is not integer PCM (WAV format " + std::to_string(tag) + "); send 16-bit PCM";
        return WavHeaderStatus::unsupported;
    }
    if (format.channels < 1 || format.rate < 1 || le32(f + 4) > 0x7FFFFFFF) {
        error = "WAV header with no channels or no sample rate";
        return WavHeaderStatus::not_wav;
    }
    if (format.channels > 2) {
        error = std::to_string(format.channels) + " channels: only mono and stereo can be processed";
        return WavHeaderStatus::unsupported;
    }
    if (format.bits != 16) {
        error = std::to_string(format.bits) + "-bit samples: the stream must be 16-bit PCM";
        return WavHeaderStatus::unsupported;
    }
    return WavHeaderStatus::ok;
}

}  // namespace

WavHeaderStatus read_wav_header(int fd, WavStreamFormat& format, std::string& error) {
    unsigned char riff[12];
    const long got = read_full(fd, riff, sizeof riff);
    if (got < 0) {
        error = std::string("cannot read the stream: ") + std::strerror(errno);
        return WavHeaderStatus::truncated;
    }
    if (got == 0) {
        error = "empty input: expected a WAV header";
        return WavHeaderStatus::truncated;
    }
    // Whatever of "RIFF....WAVE" arrived must match before a short read counts as truncation.
    const std::size_t n = static_cast<std::size_t>(got);
    const bool riff_id = std::memcmp(riff, "RIFF", n < 4 ? n : 4) == 0 || std::memcmp(riff, "RF64", n < 4 ? n : 4) == 0;
    const bool wave_id = n <= 8 || std::memcmp(riff + 8, "WAVE", n - 8) == 0;
    if (riff_id && wave_id && n < 12) {
        error = "input ends inside the WAV header";
        return WavHeaderStatus::truncated;
    }
    if (!riff_id || !wave_id) {
        error = "input is not a WAV stream (use --raw for headerless PCM)";
        return WavHeaderStatus::not_wav;
    }
    bool have_fmt = false;
    for (;;) {
        unsigned char chunk[8];
        if (read_full(fd, chunk, sizeof chunk) != 8) {
            error = "input ends inside the WAV header";
            return WavHeaderStatus::truncated;
        }
        const std::uint32_t size = le32(chunk + 4);
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            unsigned char f[kFmtKeep] = {};
            const std::size_t keep = size < kFmtKeep ? size : kFmtKeep;
            if (read_full(fd, f, keep) != static_cast<long>(keep) || !skip_bytes(fd, size - keep + (size & 1))) {
                error = "input ends inside the WAV header";
                return WavHeaderStatus::truncated;
            }
            const WavHeaderStatus st = check_fmt(f, size, format, error);
            if (st != WavHeaderStatus::ok) return st;
            have_fmt = true;
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            if (!have_fmt) {
                error = "WAV data before its 'fmt ' chunk";
                return WavHeaderStatus::not_wav;
            }
            format.until_eof = size == 0 || size >= kOpenEndedFrom;
            format.data_bytes = size;
            return WavHeaderStatus::ok;
        } else if (!skip_bytes(fd, static_cast<std::uint64_t>(size) + (size & 1))) {
            error = "input ends inside the WAV header";
            return WavHeaderStatus::truncated;
        }
    }
}

void make_wav_header(unsigned char (&out)[kWavHeaderBytes], int channels, int rate, std::uint32_t data_bytes) {
    const std::uint32_t block = 2u * static_cast<std::uint32_t>(channels);
    std::memcpy(out, "RIFF", 4);
    put32(out + 4,
          data_bytes == kStreamingLength || data_bytes > kStreamingLength - 36 ? kStreamingLength : data_bytes + 36);
    std::memcpy(out + 8, "WAVEfmt ", 8);
    put32(out + 16, 16);
    put16(out + 20, kFormatPcm);
    put16(out + 22, static_cast<std::uint32_t>(channels));
    put32(out + 24, static_cast<std::uint32_t>(rate));
    put32(out + 28, static_cast<std::uint32_t>(rate) * block);
    put16(out + 32, block);
    put16(out + 34, 16);
    std::memcpy(out + 36, "data", 4);
    put32(out + 40, data_bytes);
}

}  // namespace qv::cli
