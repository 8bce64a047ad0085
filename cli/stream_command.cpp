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
#include "platform/posix/interrupt.h"

namespace qv::cli {

namespace {

// Bytes asked of each read: at most 1024 stereo frames (23 ms), less when
// less is waiting, so the delay through the tool stays one block.
constexpr std::size_t kReadBytes = 4096;

// One run's audio path: standard input, the converter, the chain and the
// writer on standard output.
struct StreamRun {
    explicit StreamRun(Session& s) : session(s) {}
    StreamRun(const StreamRun&) = delete;
    StreamRun& operator=(const StreamRun&) = delete;
    ~StreamRun() { converter_close(converter); }

    Session& session;
    WavStreamFormat format;
    std::size_t frame_bytes = 0;
    ChainConverter converter;
    WavStreamWriter writer;
    std::vector<unsigned char> in_bytes = std::vector<unsigned char>(kReadBytes);
    std::vector<std::int16_t> frames_in, frames_out;
    std::size_t carry = 0;  // bytes of an incomplete frame held for the next read
    std::uint64_t data_left = 0;
    bool output_closed = false;
    int status = kExitOk;
    control::SignalTap* tap = nullptr;  // the station monitor's, when it runs
};

std::string latency_text(int frames) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "latency %d frames (%.1f ms)", frames, frames * 1000.0 / 44100);
    return buf;
}

// The input's format: --raw as the options give it, else the WAV header
// read from standard input.
bool input_format(const StreamOptions& o, WavStreamFormat& format) {
    if (o.raw) {
        format.channels = o.channels;
        format.rate = o.rate;
        format.bits = 16;
        format.until_eof = true;
        return true;
    }
    std::string error;
    if (read_wav_header(STDIN_FILENO, format, error) == WavHeaderStatus::ok) return true;
    print_error("standard input: " + error);
    return false;
}

// A failed write to standard output: the reader going away ends the run
// quietly, anything else is an error.
void note_write_failure(StreamRun& run) {
    if (errno == EPIPE) {
        run.output_closed = true;
        return;
    }
    print_error(std::string("standard output: ") + std::strerror(errno));
    run.status = kExitFailure;
}

// The converted frames through the chain and out. False when the write failed.
bool emit(StreamRun& run) {
    const std::size_t n = run.frames_out.size() / static_cast<std::size_t>(run.format.channels);
    if (n == 0) return true;
    if (run.tap != nullptr) control::tap_input(*run.tap, run.frames_out.data(), run.frames_out.size());
    process_block(run.session, run.frames_out.data(), static_cast<int>(n), run.format.channels);
    if (run.tap != nullptr) control::tap_output(*run.tap, run.frames_out.data(), n);
    const bool written = wav_writer_samples(run.writer, run.frames_out.data(), run.frames_out.size());
    run.frames_out.clear();
    if (!written) note_write_failure(run);
    return written;
}

// One read of standard input through the chain. False once the input ended,
// failed or was interrupted, or the output failed.
bool pump_once(StreamRun& run) {
    std::size_t want = kReadBytes - run.carry;
    if (!run.format.until_eof && run.data_left < want) want = static_cast<std::size_t>(run.data_left);
    if (want == 0) return false;
    const ssize_t got = read(STDIN_FILENO, run.in_bytes.data() + run.carry, want);
    if (got < 0 && errno == EINTR && !platform::interrupted_signal) return true;
    if (platform::interrupted_signal || got == 0) return false;
    if (got < 0) {
        print_error(std::string("standard input: ") + std::strerror(errno));
        run.status = kExitFailure;
        return false;
    }
    if (!run.format.until_eof) run.data_left -= static_cast<std::uint64_t>(got);
    const std::size_t have = run.carry + static_cast<std::size_t>(got);
    const std::size_t frames = have / run.frame_bytes;
    const std::vector<unsigned char>& b = run.in_bytes;
    run.frames_in.resize(frames * static_cast<std::size_t>(run.format.channels));
    for (std::size_t i = 0; i < run.frames_in.size(); ++i)
        run.frames_in[i] = static_cast<std::int16_t>(
            static_cast<std::uint16_t>(b[2 * i] | (static_cast<unsigned>(b[2 * i + 1]) << 8)));
    run.carry = have - frames * run.frame_bytes;
    std::memmove(run.in_bytes.data(), run.in_bytes.data() + frames * run.frame_bytes, run.carry);
    convert_16(run.converter, run.frames_in.data(), frames, run.frames_out);
    return emit(run);
}

// Standard input to standard output block by block until the input ends,
// then the converter's last frames and any trailing partial frame, which
// cannot be processed and passes as it came.
void pump(StreamRun& run, bool raw) {
    run.writer.fd = STDOUT_FILENO;
    run.writer.channels = run.format.channels;
    run.data_left = run.format.data_bytes;
    if (!raw && !wav_writer_start(run.writer, STDOUT_FILENO, run.format.channels)) note_write_failure(run);
    while (!run.output_closed && run.status == kExitOk && pump_once(run)) {
    }
    if (run.output_closed || run.status != kExitOk || platform::interrupted_signal) return;
    convert_flush(run.converter, run.frames_out);
    if (emit(run) && run.carry > 0 && !wav_writer_bytes(run.writer, run.in_bytes.data(), run.carry))
        note_write_failure(run);
}

// The WAV header completed where standard output can be patched; the status.
int finish(StreamRun& run) {
    converter_close(run.converter);
    if (!run.output_closed && run.status == kExitOk && !wav_writer_finish(run.writer)) {
        print_error(std::string("standard output: cannot complete the WAV header: ") + std::strerror(errno));
        run.status = kExitFailure;
    }
    print_info("standard output: " + std::to_string(run.writer.data_bytes / run.frame_bytes) + " frames");
    if (platform::interrupted_signal) return platform::interrupted_status();
    return run.status;
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
            const int before = session_on_air(session_).latency_frames;
            OnAir now;
            std::string error;
            if (!reload_session(session_, now, error)) {
                print_error("reload: " + error + "; the process on air stays");
                continue;
            }
            std::string note = "reloaded: " + now.description;
            if (now.latency_frames != before) note += "; " + latency_text(now.latency_frames);
            print_note(note);
        }
    }
    Session& session_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace

int run_stream(const StreamOptions& o) {
    if (const int status = check_choice_status(o.choice); status != kExitOk) return status;
    std::string error;
    if (!o.log_file.empty() && !open_log(o.log_file, error)) {
        print_error(error);
        return kExitFailure;
    }
    Session session;        // declared first, so that the control server stops before it goes
    StreamControl control;  // --control
    bool usage = false;
    if (!prepare_stream_control(o, control, error, usage)) {
        print_error(error);
        return usage ? kExitUsage : kExitFailure;
    }
    if (refuse_terminal_output()) return kExitUsage;
    StreamRun run(session);
    if (!input_format(o, run.format)) return kExitFailure;
    run.frame_bytes = 2 * static_cast<std::size_t>(run.format.channels);
    // A reader that goes away ends the run through EPIPE, not a signal.
    signal(SIGPIPE, SIG_IGN);
    platform::catch_interrupts();
    if (!converter_open(run.converter, run.format.channels, run.format.rate, error) ||
        !start_session(session, o.choice, error) ||
        (control.monitored && !start_stream_monitor(control, run.format.channels, error)) ||
        (!o.control.empty() && !start_stream_control(control, o, session, run.format, error))) {
        print_error(error);
        return kExitFailure;
    }
    run.tap = control.tap.get();
    // The web control may put another process on air from here on.
    const OnAir on_air = session_on_air(session);
    print_note("stream: " + on_air.description + "; " + latency_text(on_air.latency_frames));
    ReloadOnHangup reload(session);
    print_info("standard input: " + std::to_string(run.format.channels) + " channel(s), " +
               std::to_string(run.format.rate) + " Hz 16-bit" +
               (run.format.until_eof ? ", until the end of the stream" : "") + "; playing " + on_air.description);
    pump(run, o.raw);
    control.server.reset();
    control.monitor.reset();
    return finish(run);
}

}  // namespace qv::cli
