// quorvane stream: standard input to standard output, block by block as the
// audio arrives. Nothing but audio goes to standard output.
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "cli/audio/audio_convert.h"
#include "cli/audio/wav_stream.h"
#include "cli/commands.h"
#include "cli/stream_control.h"

namespace qv::cli {

namespace {

// Bytes asked of each read: at most 1024 stereo frames (23 ms), less when
// less is waiting, so the delay through the tool stays one block.
constexpr std::size_t kReadBytes = 4096;

// A failed write to standard output: the reader going away ends the run
// quietly, anything else is an error.
void note_write_failure(bool& output_closed, int& status) {
    if (errno == EPIPE) {
        output_closed = true;
        return;
    }
    print_error(std::string("standard output: ") + std::strerror(errno));
    status = kExitFailure;
}

std::string latency_text(int frames) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "latency %d frames (%.1f ms)", frames, frames * 1000.0 / 44100);
    return buf;
}

// SIGHUP reloads the process on a thread of its own: the audio loop never
// waits for the file to be read; the new set reaches it at a block boundary.
class ReloadOnHangup {
public:
    explicit ReloadOnHangup(Session& s) : session_(s) {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGHUP);
        // Blocked here before the thread starts, so only sigwait takes it.
        pthread_sigmask(SIG_BLOCK, &set, nullptr);
        thread_ = std::thread([this, set] { wait_loop(set); });
    }
    ~ReloadOnHangup() {
        stop_ = true;
        pthread_kill(thread_.native_handle(), SIGHUP);
        thread_.join();
    }
    ReloadOnHangup(const ReloadOnHangup&) = delete;
    ReloadOnHangup& operator=(const ReloadOnHangup&) = delete;

private:
    void wait_loop(sigset_t set) {
        for (;;) {
            int sig = 0;
            if (sigwait(&set, &sig) != 0 || stop_) return;
            const int before = session_latency_frames(session_);
            std::string error;
            if (!reload_session(session_, error)) {
                print_error("reload: " + error + "; the process on air stays");
                continue;
            }
            const int after = session_latency_frames(session_);
            std::string note = "reloaded: " + session_.description;
            if (after != before) note += "; " + latency_text(after);
            print_note(note);
        }
    }
    Session& session_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace

int run_stream(const StreamOptions& o) {
    std::string error;
    bool usage = false;
    if (!check_choice(o.choice, error, usage)) {
        print_error(error);
        return usage ? kExitUsage : kExitFailure;
    }
    if (!o.log_file.empty() && !open_log(o.log_file, error)) {
        print_error(error);
        return kExitFailure;
    }
    Session session;        // declared first, so that the control server stops before it goes
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
    if (!converter_open(converter, format.channels, format.rate, error) || !start_session(session, o.choice, error)) {
        print_error(error);
        converter_close(converter);
        return kExitFailure;
    }
    if (!o.control.empty() && !start_stream_control(control, o, session, format, error)) {
        print_error(error);
        converter_close(converter);
        return kExitFailure;
    }
    print_note("stream: " + session.description + "; " + latency_text(session_latency_frames(session)));
    ReloadOnHangup reload(session);

    print_info("standard input: " + std::to_string(format.channels) + " channel(s), " + std::to_string(format.rate) +
               " Hz 16-bit" + (format.until_eof ? ", until the end of the stream" : "") + "; playing " +
               session.description);
    int status = kExitOk;
    WavStreamWriter writer;
    writer.fd = STDOUT_FILENO;
    writer.channels = format.channels;
    std::vector<unsigned char> in_bytes(kReadBytes);
    std::vector<std::int16_t> frames_in, frames_out;
    std::size_t carry = 0;  // bytes of an incomplete frame held for the next read
    std::uint64_t data_left = format.data_bytes;
    bool output_closed = false;

    auto emit = [&]() -> bool {
        const std::size_t n = frames_out.size() / static_cast<std::size_t>(format.channels);
        if (n == 0) return true;
        process_block(session, frames_out.data(), static_cast<int>(n), format.channels);
        const bool written = wav_writer_samples(writer, frames_out.data(), frames_out.size());
        frames_out.clear();
        if (!written) note_write_failure(output_closed, status);
        return written;
    };

    if (!o.raw && !wav_writer_start(writer, STDOUT_FILENO, format.channels)) note_write_failure(output_closed, status);

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
        if (emit() && carry > 0 && !wav_writer_bytes(writer, in_bytes.data(), carry))
            note_write_failure(output_closed, status);
    }
    control.server.reset();
    converter_close(converter);
    if (!output_closed && status == kExitOk && !wav_writer_finish(writer)) {
        print_error(std::string("standard output: cannot complete the WAV header: ") + std::strerror(errno));
        status = kExitFailure;
    }
    print_info("standard output: " + std::to_string(writer.data_bytes / frame_bytes) + " frames");
    if (g_interrupted) return interrupted_status();
    return status;
}

}  // namespace qv::cli
