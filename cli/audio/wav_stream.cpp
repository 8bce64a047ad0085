#include "cli/audio/wav_stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "cli/audio/audio_convert.h"
#include "platform/posix/fs_util.h"

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
        const long got = platform::read_full(fd, buf, want);
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
    if (!input_rate_supported(format.rate)) {
        error = rate_refusal(format.rate);
        return WavHeaderStatus::unsupported;
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
    const long got = platform::read_full(fd, riff, sizeof riff);
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
    std::uint64_t header_bytes = sizeof riff;
    for (int chunks = 0;; ++chunks) {
        unsigned char chunk[8];
        if (platform::read_full(fd, chunk, sizeof chunk) != 8) {
            error = "input ends inside the WAV header";
            return WavHeaderStatus::truncated;
        }
        const std::uint32_t size = le32(chunk + 4);
        const bool is_data = std::memcmp(chunk, "data", 4) == 0;
        header_bytes += sizeof chunk + (is_data ? 0 : static_cast<std::uint64_t>(size) + (size & 1));
        if (chunks >= kMaxHeaderChunks || header_bytes > kMaxHeaderBytes) {
            error = "no audio data within the first " + std::to_string(kMaxHeaderChunks) + " chunks or " +
                    std::to_string(kMaxHeaderBytes >> 20) + " MiB of the WAV header";
            return WavHeaderStatus::not_wav;
        }
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            unsigned char f[kFmtKeep] = {};
            const std::size_t keep = size < kFmtKeep ? size : kFmtKeep;
            if (platform::read_full(fd, f, keep) != static_cast<long>(keep) ||
                !skip_bytes(fd, size - keep + (size & 1))) {
                error = "input ends inside the WAV header";
                return WavHeaderStatus::truncated;
            }
            const WavHeaderStatus st = check_fmt(f, size, format, error);
            if (st != WavHeaderStatus::ok) return st;
            have_fmt = true;
        } else if (is_data) {
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

bool wav_writer_start(WavStreamWriter& w, int fd, int channels) {
    w.fd = fd;
    w.channels = channels;
    w.data_bytes = 0;
    w.header_at = -1;
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && (fcntl(fd, F_GETFL) & O_APPEND) == 0)
        w.header_at = lseek(fd, 0, SEEK_CUR);
    unsigned char header[kWavHeaderBytes];
    make_wav_header(header, channels, 44100, kStreamingLength);
    return platform::write_full(fd, header, sizeof header);
}

bool wav_writer_samples(WavStreamWriter& w, const std::int16_t* samples, std::size_t count) {
    unsigned char bytes[4096];
    while (count > 0) {
        const std::size_t n = count < sizeof bytes / 2 ? count : sizeof bytes / 2;
        for (std::size_t i = 0; i < n; ++i) {
            const auto v = static_cast<std::uint16_t>(samples[i]);
            bytes[2 * i] = static_cast<unsigned char>(v & 0xFF);
            bytes[2 * i + 1] = static_cast<unsigned char>(v >> 8);
        }
        if (!wav_writer_bytes(w, bytes, 2 * n)) return false;
        samples += n;
        count -= n;
    }
    return true;
}

bool wav_writer_bytes(WavStreamWriter& w, const void* bytes, std::size_t count) {
    if (!platform::write_full(w.fd, bytes, count)) return false;
    w.data_bytes += count;
    return true;
}

bool wav_writer_finish(WavStreamWriter& w) {
    // Past 4 GiB the open-ended header is the only true one.
    if (w.header_at < 0 || w.data_bytes > kStreamingLength - 36 - 1) return true;
    unsigned char header[kWavHeaderBytes];
    make_wav_header(header, w.channels, 44100, static_cast<std::uint32_t>(w.data_bytes));
    const ssize_t put = pwrite(w.fd, header, sizeof header, w.header_at);
    if (put == static_cast<ssize_t>(sizeof header)) return true;
    if (put >= 0) errno = EIO;
    return false;
}

}  // namespace qv::cli
