// quorvane stream: standard input to standard output, block by block as the
// audio arrives. Nothing but audio goes to standard output.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "cli/audio_convert.h"
#include "cli/commands.h"
#include "cli/fs_util.h"
#include "cli/stream_control.h"
#include "cli/wav_stream.h"

namespace qv::cli {

namespace {

// Bytes asked of each read: at most 1024 stereo frames (23 ms), less when
// less is waiting, so the delay through the tool stays one block.
constexpr std::size_t kReadBytes = 4096;

enum class WriteResult { ok, closed, failed };

WriteResult write_samples(const std::vector<std::int16_t>& samples, std::vector<unsigned char>& bytes) {
    bytes.resize(samples.size() * 2);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const auto v = static_cast<std::uint16_t>(samples[i]);
        bytes[2 * i] = static_cast<unsigned char>(v & 0xFF);
        bytes[2 * i + 1] = static_cast<unsigned char>(v >> 8);
    }
    if (write_full(STDOUT_FILENO, bytes.data(), bytes.size())) return WriteResult::ok;
    return errno == EPIPE ? WriteResult::closed : WriteResult::failed;
}

// Header position when standard output is a regular file we can patch at
// the end; -1 otherwise.
off_t patchable_header_offset() {
    struct stat st;
    if (fstat(STDOUT_FILENO, &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    if (fcntl(STDOUT_FILENO, F_GETFL) & O_APPEND) return -1;
    return lseek(STDOUT_FILENO, 0, SEEK_CUR);
}

void patch_header(off_t at, int channels, std::uint64_t data_bytes) {
    if (at < 0 || data_bytes > kStreamingLength - 36 - 1) return;
    unsigned char header[kWavHeaderBytes];
    make_wav_header(header, channels, 44100, static_cast<std::uint32_t>(data_bytes));
    if (pwrite(STDOUT_FILENO, header, sizeof header, at) != static_cast<ssize_t>(sizeof header)) return;
}

}  // namespace

int run_stream(const StreamOptions& o) {
    std::string error;
    bool usage = false;
    if (!check_choice(o.choice, error, usage)) {
        print_error(error);
        return usage ? kExitUsage : kExitFailure;
    }
    StreamControl control;  // --control
    if (!prepare_stream_control(o, control, error, usage)) {
        print_error(error);
        return usage ? kExitUsage : kExitFailure;
    }
    if (isatty(STDOUT_FILENO) == 1) {
        print_error("standard output is a terminal; redirect it to a file or a pipe");
        return kExitUsage;
    }
    WavStreamFormat format;
    if (o.raw) {
        format.channels = o.channels;
        format.rate = o.rate;
        format.bits = 16;
        format.until_eof = true;
    } else if (read_wav_header(STDIN_FILENO, format, error) != WavHeaderStatus::ok) {
        print_error("standard input: " + error);
        return kExitFailure;
    }
    const std::size_t frame_bytes = 2 * static_cast<std::size_t>(format.channels);

    // A reader that goes away ends the run through EPIPE, not a signal.
    signal(SIGPIPE, SIG_IGN);
    catch_interrupts();
    ChainConverter converter;
    Session session;
    if (!converter_open(converter, format.channels, format.rate, error) || !start_session(session, o.choice, error)) {
        print_error(error);
        end_session(session);
        converter_close(converter);
        return kExitFailure;
    }
    if (!o.control.empty() && !start_stream_control(control, o, session, format, error)) {
        print_error(error);
        end_session(session);
        converter_close(converter);
        return kExitFailure;
    }

    int status = kExitOk;
    const off_t header_at = o.raw ? -1 : patchable_header_offset();
    std::uint64_t bytes_out = 0;
    std::vector<unsigned char> in_bytes(kReadBytes);
    std::vector<unsigned char> out_bytes;
    std::vector<std::int16_t> frames_in, frames_out;
    std::size_t carry = 0;  // bytes of an incomplete frame held for the next read
    std::uint64_t data_left = format.data_bytes;
    bool output_closed = false;

    auto emit = [&]() -> bool {
        const std::size_t n = frames_out.size() / static_cast<std::size_t>(format.channels);
        if (n == 0) return true;
        if (control.processor)
            processor_run(*control.processor, frames_out.data(), static_cast<int>(n), format.channels);
        else
            process_block(session.module, frames_out.data(), static_cast<int>(n), format.channels);
        const WriteResult w = write_samples(frames_out, out_bytes);
        frames_out.clear();
        if (w == WriteResult::ok) {
            bytes_out += out_bytes.size();
            return true;
        }
        if (w == WriteResult::closed)
            output_closed = true;
        else {
            print_error(std::string("standard output: ") + std::strerror(errno));
            status = kExitFailure;
        }
        return false;
    };

    if (!o.raw) {
        unsigned char header[kWavHeaderBytes];
        make_wav_header(header, format.channels, 44100, kStreamingLength);
        if (!write_full(STDOUT_FILENO, header, sizeof header)) {
            if (errno == EPIPE)
                output_closed = true;
            else {
                print_error(std::string("standard output: ") + std::strerror(errno));
                status = kExitFailure;
            }
        }
    }

    bool input_done = output_closed || status != kExitOk;
    while (!input_done) {
        std::size_t want = kReadBytes - carry;
        if (!format.until_eof && data_left < want) want = static_cast<std::size_t>(data_left);
        if (want == 0) break;
        const ssize_t got = read(STDIN_FILENO, in_bytes.data() + carry, want);
        if (got < 0 && errno == EINTR && !g_interrupted) continue;
        if (g_interrupted) break;
        if (got < 0) {
            print_error(std::string("standard input: ") + std::strerror(errno));
            status = kExitFailure;
            break;
        }
        if (got == 0) break;
        if (!format.until_eof) data_left -= static_cast<std::uint64_t>(got);
        const std::size_t have = carry + static_cast<std::size_t>(got);
        const std::size_t frames = have / frame_bytes;
        frames_in.resize(frames * static_cast<std::size_t>(format.channels));
        for (std::size_t i = 0; i < frames_in.size(); ++i)
            frames_in[i] = static_cast<std::int16_t>(
                static_cast<std::uint16_t>(in_bytes[2 * i] | (static_cast<unsigned>(in_bytes[2 * i + 1]) << 8)));
        carry = have - frames * frame_bytes;
        std::memmove(in_bytes.data(), in_bytes.data() + frames * frame_bytes, carry);
        convert_16(converter, frames_in.data(), frames, frames_out);
        if (!emit()) break;
    }
    if (!output_closed && status == kExitOk && !g_interrupted) {
        convert_flush(converter, frames_out);
        // A trailing partial frame cannot be processed; it passes as it came.
        if (emit() && carry > 0) {
            if (write_full(STDOUT_FILENO, in_bytes.data(), carry))
                bytes_out += carry;
            else if (errno != EPIPE)
                status = kExitFailure;
        }
    }
    control.server.reset();
    end_session(session);
    converter_close(converter);
    if (!output_closed) patch_header(header_at, format.channels, bytes_out);
    if (g_interrupted) return interrupted_status();
    return status;
}

}  // namespace qv::cli
