// quorvane process IN OUT: a file through the module, with a loudness summary.
#include <signal.h>
#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/audio/audio_convert.h"
#include "cli/audio/audio_input.h"
#include "cli/audio/audio_output.h"
#include "cli/audio/block_pipeline.h"
#include "cli/audio/downmix.h"
#include "cli/commands.h"
#include "cli/report/delivery.h"
#include "cli/report/loudness.h"
#include "cli/report/progress.h"
#include "cli/report/summary.h"
#include "cli/report/svg_plot.h"
#include "platform/posix/fs_util.h"
#include "platform/posix/interrupt.h"
#include "platform/posix/temp_file.h"

namespace qv::cli {

namespace {

constexpr std::size_t kReadFrames = 4096;
// Frames per ModifySamples call; three blocks make the 100 ms (4410-frame)
// step of the plot, so the gains are read exactly on its points.
constexpr std::size_t kBlockFrames = 1470;
constexpr std::size_t kBlocksPerPoint = 3;

std::string sample_format_name(int format) {
    switch (format & SF_FORMAT_SUBMASK) {
        case SF_FORMAT_PCM_S8:
        case SF_FORMAT_PCM_U8:
        case SF_FORMAT_DPCM_8:
            return "8-bit";
        case SF_FORMAT_PCM_16:
        case SF_FORMAT_DPCM_16:
        case SF_FORMAT_DWVW_16:
        case SF_FORMAT_ALAC_16:
            return "16-bit";
        case SF_FORMAT_PCM_24:
        case SF_FORMAT_DWVW_24:
        case SF_FORMAT_ALAC_24:
            return "24-bit";
        case SF_FORMAT_PCM_32:
        case SF_FORMAT_ALAC_32:
            return "32-bit";
        case SF_FORMAT_FLOAT:
            return "float";
        case SF_FORMAT_DOUBLE:
            return "double";
        default:
            return "compressed";
    }
}

// The pool of blocks in flight between the stages: about 1.6 s of audio.
constexpr std::size_t kPoolBlocks = 48;
// Blocks a lane gathers before its waiting consumer is woken (free, decoded,
// processed): the chain is woken by every block, the stages that share the
// other core in bursts.
constexpr std::array<std::size_t, 3> kWakeAt = {8, 1, 4};

// Cuts the whole blocks of pending frames (and, at the end, the rest) into
// blocks of the pool and sends them to the chain. False when the pipeline
// stopped.
bool send_blocks(BlockPipeline& pipe, std::vector<std::int16_t>& pending, int channels, bool final) {
    const std::size_t width = static_cast<std::size_t>(channels);
    const std::size_t available = pending.size() / width;
    std::size_t done = 0;
    while (available - done >= kBlockFrames || (final && done < available)) {
        PipelineBlock* b = pipe.take(Lane::free);
        if (b == nullptr) return false;
        b->frames = std::min(kBlockFrames, available - done);
        std::copy_n(pending.begin() + static_cast<std::ptrdiff_t>(done * width), b->frames * width, b->samples.begin());
        pipe.put(Lane::decoded, b);
        done += b->frames;
    }
    pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(done * width));
    return true;
}

// The chain's thread: every block through the module in order, then the
// silence that brings out the tail.
struct ChainStage {
    Session* session = nullptr;
    int channels = 0;
    bool plotting = false;
    bool flush_tail = false;    // silence after the end until the output is as long as the input
    std::uint64_t to_drop = 0;  // frames of the chain's delay still to drop
    std::uint64_t frames_in = 0, frames_out = 0, blocks = 0;
};

void chain_block(BlockPipeline& pipe, ChainStage& s, PipelineBlock* b, bool input) {
    process_block(*s.session, b->samples.data(), static_cast<int>(b->frames), s.channels);
    b->skip = static_cast<std::size_t>(std::min<std::uint64_t>(s.to_drop, b->frames));
    s.to_drop -= b->skip;
    if (input) s.frames_in += b->frames;
    s.frames_out += b->frames - b->skip;
    // Three whole blocks make a plot point.
    b->has_readings = s.plotting && b->frames == kBlockFrames && ++s.blocks % kBlocksPerPoint == 0;
    if (b->has_readings) b->readings = processor_readings(*s.session->processor);
    pipe.put(Lane::processed, b);
}

void run_chain_stage(BlockPipeline& pipe, ChainStage& s) {
    while (PipelineBlock* b = pipe.take(Lane::decoded)) chain_block(pipe, s, b, true);
    if (!pipe.drained(Lane::decoded)) return;
    // The tail: silence through the chain, counted as output only.
    while (s.flush_tail && s.frames_out < s.frames_in) {
        PipelineBlock* b = pipe.take(Lane::free);
        if (b == nullptr) return;
        const std::uint64_t owed = s.frames_in - s.frames_out + s.to_drop;
        b->frames = static_cast<std::size_t>(std::min<std::uint64_t>(owed, kBlockFrames));
        std::fill_n(b->samples.begin(), b->frames * static_cast<std::size_t>(s.channels), 0);
        chain_block(pipe, s, b, false);
    }
    pipe.close(Lane::processed);
}

// The output's thread: the output meter, the encoder and the plot's readings.
struct OutputStage {
    LoudnessMeter* meter = nullptr;
    OutputSink* sink = nullptr;
    PlotData* plot = nullptr;  // null when not plotting
    bool finished = false;     // every block written
};

void run_output_stage(BlockPipeline& pipe, OutputStage& s) {
    yield_to_chain_stage();
    const std::size_t width = static_cast<std::size_t>(s.sink->channels);
    std::string error;
    while (PipelineBlock* b = pipe.take(Lane::processed)) {
        const std::size_t keep = b->frames - b->skip;
        const std::int16_t* kept = b->samples.data() + b->skip * width;
        if (keep > 0) {
            meter_add(*s.meter, kept, keep);
            if (!sink_write(*s.sink, kept, keep, error)) {
                pipe.stop(error);
                return;
            }
        }
        if (b->has_readings && s.plot != nullptr) {
            const ProcessorReadings& r = b->readings;
            s.plot->master_gain.push_back(r.master_agc_gain);
            s.plot->bass_gain.push_back(r.bass_agc_gain);
            for (int k = 0; k < kPlotBands; ++k)
                s.plot->band_reduction_db[k].push_back(-20 * std::log10(std::max(r.band_composite_gain[k], 1e-6)));
        }
        pipe.put(Lane::free, b);
    }
    s.finished = pipe.drained(Lane::processed);
}

// Everything one run holds; the destructor removes whatever was not completed.
struct ProcessRun {
    explicit ProcessRun(const ProcessOptions& options) : o(options) {}
    ProcessRun(const ProcessRun&) = delete;
    ProcessRun& operator=(const ProcessRun&) = delete;
    ~ProcessRun() {
        converter_close(converter);
        meter_close(before);
        meter_close(after);
        meter_close(delivered);
        input_close(in);
        output_discard(out);
        platform::pending_discard(plot_file);
    }

    const ProcessOptions& o;
    const bool to_stdout = o.output == "-";
    const bool plotting = !o.plot.empty();
    AudioInput in;
    AudioOutput out;
    platform::PendingFile plot_file;
    OutputSink sink;  // the chain's frames: to out, or held for the delivery pass
    Session session;
    ChainConverter converter;
    LoudnessMeter before, after, delivered;

    SF_INFO in_info{};
    Downmix downmix;
    bool folding = false;  // more than two channels, folded to stereo
    bool narrow = false;   // 16 bits or fewer: read as 16-bit samples
    int channels = 0;      // what the chain plays
    std::vector<std::pair<int, std::string>> tags;
    int latency = 0;  // the chain's delay, frames
    std::uint64_t frames_read = 0;
    std::chrono::steady_clock::time_point started;
    PlotData plot;
    // --loudness and --true-peak, and --ceiling as a true-peak limit of theirs.
    const DeliveryTargets targets = [this] {
        DeliveryTargets t = o.delivery;
        t.ceiling_dbtp = o.choice.ceiling_dbtp;
        return t;
    }();
    DeliveryGain delivery;
    LoudnessFigures output_figures{};
};

// Says why a step failed; false.
bool failed(const std::string& message) {
    print_error(message);
    return false;
}

platform::ReplacePolicy replace_policy(const ProcessOptions& o) {
    if (o.no_clobber) return platform::ReplacePolicy::never;
    return o.force ? platform::ReplacePolicy::always : platform::ReplacePolicy::unless_protected;
}

// Refuses a file that cannot be written where it is named (a read-only file
// system, a folder without write permission) or an existing one that the
// options say must stay. Checked again when the output takes its place, for
// --no-clobber in the same step.
bool may_replace(const ProcessOptions& o, const std::string& path) {
    if (const std::string refusal = platform::folder_refusal(path); !refusal.empty())
        return failed(path + ": " + refusal);
    if (!platform::file_exists(path)) return true;
    if (o.no_clobber) return failed(path + ": exists, and --no-clobber keeps it");
    if (!o.force && platform::is_write_protected(path.c_str()))
        return failed(path + ": write-protected; --force replaces it");
    return true;
}

const char* tag_name(int type) {
    switch (type) {
        case SF_STR_TITLE:
            return "title";
        case SF_STR_COPYRIGHT:
            return "copyright";
        case SF_STR_SOFTWARE:
            return "software";
        case SF_STR_ARTIST:
            return "artist";
        case SF_STR_COMMENT:
            return "comment";
        case SF_STR_DATE:
            return "date";
        case SF_STR_ALBUM:
            return "album";
        case SF_STR_LICENSE:
            return "license";
        case SF_STR_TRACKNUMBER:
            return "track number";
        case SF_STR_GENRE:
            return "genre";
        default:
            return "tag";
    }
}

// Says why the options cannot be run; the exit status.
int refuse(const std::string& message, int status) {
    print_error(message);
    return status;
}

// The files the options name, checked before anything is opened. kExitOk,
// or the exit status after printing the fault.
int check_files(const ProcessOptions& o) {
    const bool from_stdin = o.input == "-", to_stdout = o.output == "-";
    if (to_stdout && refuse_terminal_output()) return kExitUsage;
    if (from_stdin && isatty(STDIN_FILENO) == 1)
        return refuse("standard input is a terminal; send a WAV stream to it", kExitUsage);
    if (!from_stdin && platform::is_directory(o.input)) return refuse(o.input + ": is a directory", kExitFailure);
    if (!from_stdin && !platform::file_exists(o.input)) return refuse(o.input + ": no such file", kExitFailure);
    if (!to_stdout && platform::is_directory(o.output)) return refuse(o.output + ": is a directory", kExitFailure);
    int container = 0;
    if (!output_container(o.output, container)) {
        const std::string ext = platform::extension_of(o.output);
        return refuse(o.output + ": unsupported output format " + (ext.empty() ? "(no extension)" : "'." + ext + "'") +
                          "; use .wav, .flac or .aiff, or - for WAV on standard output",
                      kExitUsage);
    }
    if ((!from_stdin && !to_stdout && platform::same_file(o.input, o.output)) ||
        (!o.plot.empty() && ((!from_stdin && platform::same_file(o.input, o.plot)) ||
                             (!to_stdout && platform::same_file(o.output, o.plot)))))
        return refuse(o.output + ": the output may not be the input (nor the plot either of them)", kExitFailure);
    if (!o.plot.empty() && platform::is_directory(o.plot)) return refuse(o.plot + ": is a directory", kExitFailure);
    if ((!to_stdout && !may_replace(o, o.output)) || (!o.plot.empty() && !may_replace(o, o.plot))) return kExitFailure;
    return kExitOk;
}

// The input opened and its layout planned: the chain's channels, the fold
// of more than two, whether it is read as 16-bit samples.
bool open_input(ProcessRun& run) {
    const std::string& name = run.o.input;
    std::string error;
    if (!input_open(run.in, name, error)) return failed(error);
    run.in_info = run.in.info;
    const SF_INFO& info = run.in_info;
    if (info.channels < 1 || info.samplerate < 1) return failed(name + ": no channels or no sample rate");
    if (!input_rate_supported(info.samplerate)) return failed(name + ": " + rate_refusal(info.samplerate));
    run.folding = info.channels > 2;
    if (run.folding && !run.o.downmix)
        return failed(name + ": " + std::to_string(info.channels) +
                      " channels; only mono and stereo can be processed (--downmix folds them to stereo)");
    if (run.folding && !downmix_plan(run.downmix, info.channels, input_channel_positions(run.in), info.format, error))
        return failed(name + ": " + error);
    run.channels = run.folding ? 2 : info.channels;
    run.narrow = !run.folding && input_is_narrow(run.in);
    return true;
}

// The output, where the chain's frames go (held when delivering), the plot's
// file, the conversion, the meters and the processor.
bool open_run(ProcessRun& run) {
    const ProcessOptions& o = run.o;
    std::string error;
    platform::catch_interrupts();
    // A reader that goes away is a write error (EPIPE), so the run still
    // cleans up after itself.
    if (run.to_stdout) signal(SIGPIPE, SIG_IGN);
    run.tags = input_tags(run.in);
    if (!output_open(run.out, o.output, run.channels, run.tags, error)) return failed(error);
    run.sink.out = &run.out;
    run.sink.channels = run.channels;
    if (o.delivery.active() && !sink_hold(run.sink, run.channels, error)) return failed(error);
    if (run.plotting && !platform::pending_create(run.plot_file, o.plot, error)) return failed(error);
    const SF_INFO& info = run.in_info;
    if (!converter_open(run.converter, run.channels, info.samplerate, error) ||
        !meter_open(run.before, info.channels, info.samplerate, run.plotting, error) ||
        !meter_open(run.after, run.channels, 44100, run.plotting, error))
        return failed(o.input + ": " + error);
    // The input is measured as the speakers it feeds, the LFE left out.
    for (int ch = 0; run.folding && ch < info.channels; ++ch)
        ebur128_set_channel(run.before.state, static_cast<unsigned>(ch),
                            run.downmix.loudness[static_cast<std::size_t>(ch)]);
    return start_session(run.session, o.choice, error) || failed(error);
}

// -v: the input's format, the tags copied, the process played.
void tell_formats(const ProcessRun& run) {
    if (g_verbosity < kVerbose) return;
    const SF_INFO& info = run.in_info;
    print_info(run.in.name + ": " + std::to_string(info.samplerate) + " Hz " + sample_format_name(info.format) + ", " +
               std::to_string(info.channels) + " channel(s)" +
               (run.folding ? " (" + run.downmix.layout + ") folded to stereo" : ""));
    std::string copied;
    for (int type : run.out.tags_written) copied += std::string(copied.empty() ? "" : ", ") + tag_name(type);
    if (!run.tags.empty()) print_info(run.out.name + ": tags copied: " + (copied.empty() ? "none" : copied));
    print_info("playing " + run.session.description);
}

struct DecodeBuffers {
    std::vector<float> float_in, folded;
    std::vector<std::int16_t> short_in;
};

// Reads up to kReadFrames frames, measures them and appends them to pending
// in the chain's format. The count read; 0 at the end, negative on failure.
long read_converted(ProcessRun& run, DecodeBuffers& b, std::vector<std::int16_t>& pending, std::string& error) {
    if (run.narrow) {
        const long got = input_read(run.in, b.short_in.data(), kReadFrames, error);
        if (got > 0) {
            meter_add(run.before, b.short_in.data(), static_cast<std::size_t>(got));
            convert_16(run.converter, b.short_in.data(), static_cast<std::size_t>(got), pending);
        }
        return got;
    }
    const long got = input_read(run.in, b.float_in.data(), kReadFrames, error);
    if (got > 0) {
        const auto frames = static_cast<std::size_t>(got);
        meter_add(run.before, b.float_in.data(), frames);
        if (run.folding) downmix_apply(run.downmix, b.float_in.data(), frames, b.folded.data());
        convert_float(run.converter, run.folding ? b.folded.data() : b.float_in.data(), frames, pending);
    }
    return got;
}

// The decoding stage, on the calling thread: blocks to the chain until the
// input ends (the lane is closed) or a read fails or the run is interrupted
// (the pipeline is stopped). False when a read failed, with its cause.
bool decode(ProcessRun& run, BlockPipeline& pipe, Progress& progress, std::string& error) {
    // Decoding and the input's meter share a core with the output's stage.
    yield_to_chain_stage();
    DecodeBuffers b;
    b.float_in.resize(kReadFrames * static_cast<std::size_t>(run.in_info.channels));
    b.folded.resize(run.folding ? kReadFrames * 2 : 0);
    b.short_in.resize(kReadFrames * static_cast<std::size_t>(run.channels));
    std::vector<std::int16_t> pending;
    bool input_ended = false, read_failed = false;
    for (;;) {
        const long got = read_converted(run, b, pending, error);
        if (platform::interrupted_signal) break;
        if (got < 0) {
            read_failed = true;
            break;
        }
        if (got == 0) {
            convert_flush(run.converter, pending);
            input_ended = true;
        }
        if (!send_blocks(pipe, pending, run.channels, input_ended) || input_ended) break;
        run.frames_read += static_cast<std::uint64_t>(got);
        progress_update(progress, static_cast<double>(run.frames_read) / run.in_info.samplerate);
    }
    if (input_ended)
        pipe.close(Lane::decoded);
    else
        pipe.stop();
    return !read_failed;
}

// The three stages: the chain and the output on threads of their own, the
// decoding on this one. kExitOk when every block was written.
int play(ProcessRun& run) {
    run.started = std::chrono::steady_clock::now();
    Progress progress;
    // Standard input's length is unknown (0 frames): no bar.
    progress_start(progress,
                   g_verbosity >= kNormal ? static_cast<double>(run.in_info.frames) / run.in_info.samplerate : 0);
    // Aligned output: the first `latency` frames the chain returns are its
    // delay, not programme; they are dropped, and as many frames of silence
    // after the end bring the programme's tail out.
    run.latency = session_on_air(run.session).latency_frames;
    const bool keep = run.o.keep_latency;
    ChainStage chain{&run.session, run.channels, run.plotting, !keep,
                     keep ? 0 : static_cast<std::uint64_t>(run.latency)};
    OutputStage output{&run.after, &run.sink, run.plotting ? &run.plot : nullptr};
    BlockPipeline pipe(kPoolBlocks, kBlockFrames * static_cast<std::size_t>(run.channels), kWakeAt,
                       &platform::interrupted_signal);
    StageThreads threads(pipe);
    std::string error;
    if (!threads.start([&] { run_chain_stage(pipe, chain); }, error) ||
        !threads.start([&] { run_output_stage(pipe, output); }, error)) {
        progress_finish(progress);
        return refuse(error, kExitFailure);
    }
    const bool read = decode(run, pipe, progress, error);
    threads.join();
    progress_finish(progress);
    // An interrupt after the last block was written changes nothing.
    if (output.finished) return kExitOk;
    if (platform::interrupted_signal) return refuse("interrupted; nothing written", platform::interrupted_status());
    return refuse(read ? pipe.error() : error, kExitFailure);
}

// The delivery pass when --loudness or --true-peak asks for it; the output's
// figures either way.
bool deliver_output(ProcessRun& run) {
    run.output_figures = meter_figures(run.after);
    if (!run.o.delivery.active()) return true;
    std::string error;
    if (!meter_open(run.delivered, run.channels, 44100, run.plotting, error) ||
        !deliver(run.sink, run.output_figures, run.targets, run.delivered, run.delivery, error))
        return failed(run.o.output + ": " + error);
    run.output_figures = meter_figures(run.delivered);
    return true;
}

// The plot written and made ready to take its place (every step of
// publishing but the last). False with the cause in error.
bool ready_plot(ProcessRun& run, std::string& error) {
    const ProcessOptions& o = run.o;
    PlotData& plot = run.plot;
    plot.title = o.input + " -> " + o.output + "  (" + run.session.description + ")";
    plot.input_lufs = run.before.short_term;
    plot.output_lufs = o.delivery.active() ? run.delivered.short_term : run.after.short_term;
    plot.input_integrated_lufs = meter_figures(run.before).integrated_lufs;
    plot.output_integrated_lufs = run.output_figures.integrated_lufs;
    plot.target_lufs = o.delivery.loudness_lufs;
    const std::string svg = render_plot(plot);
    if (!platform::write_full(run.plot_file.fd, svg.data(), svg.size())) {
        error = platform::errno_message(o.plot);
        platform::pending_discard(run.plot_file, &error);
        return false;
    }
    return platform::pending_ready(run.plot_file, replace_policy(o), error);
}

// OUT and the plot, all or nothing: both are made ready (every step that can
// fail but the last), then the plot takes its place and OUT last, so a
// failure never leaves OUT written with status 1. Standard output has had
// the audio by then: a failure of the plot after it is status 3, as is a
// temporary name that stays after OUT was linked (--no-clobber).
int publish_outputs(ProcessRun& run) {
    const ProcessOptions& o = run.o;
    std::string error;
    if (!output_finish(run.out, replace_policy(o), error)) return refuse(error, kExitFailure);
    if (run.to_stdout) {
        if (run.plotting && (!ready_plot(run, error) || !platform::pending_commit(run.plot_file, error)))
            return refuse(run.out.name + " written; the plot could not be written: " + error, kExitPartial);
        return kExitOk;
    }
    if (run.plotting && (!ready_plot(run, error) || !platform::pending_commit(run.plot_file, error)))
        return refuse(error + "; " + o.output + " not written", kExitFailure);
    if (!platform::pending_commit(run.out.pending, error)) {
        if (run.out.pending.published) return refuse(error, kExitPartial);
        return refuse(error + (run.plotting ? "; " + o.output + " not written, but the plot " + o.plot + " was" : ""),
                      kExitFailure);
    }
    return kExitOk;
}

ProcessSummary summary_of(const ProcessRun& run, double elapsed_s) {
    ProcessSummary s;
    s.input = run.o.input;
    s.output = run.o.output;
    s.description = run.session.description;
    s.process_number = run.session.process_number;
    s.process_name = run.session.process_name;
    s.input_rate = run.in_info.samplerate;
    s.input_channels = run.in_info.channels;
    s.input_format = sample_format_name(run.in_info.format);
    s.input_frames = run.frames_read;
    s.output_frames = run.out.frames;
    s.elapsed_s = elapsed_s;
    s.before = meter_figures(run.before);
    s.after = run.output_figures;
    s.latency_frames = run.latency;
    s.latency_kept = run.o.keep_latency;
    s.ceiling_dbtp = run.o.choice.ceiling_dbtp;
    // Nothing takes the readings during a run: the lowest gain of all of it.
    if (s.ceiling_dbtp)
        s.ceiling_reduction_db = -20 * std::log10(processor_readings(*run.session.processor).ceiling_gain);
    if (run.folding) {
        s.downmix_layout = run.downmix.layout;
        s.downmix_overloads = run.downmix.overloads;
    }
    return s;
}

// The summary as text on standard error, or --json on standard output
// (standard error when the audio goes to standard output).
int report(const ProcessRun& run, double elapsed_s) {
    const ProcessOptions& o = run.o;
    const ProcessSummary summary = summary_of(run, elapsed_s);
    if (o.json)
        print_summary_json(run.to_stdout ? stderr : stdout, summary);
    else if (g_verbosity >= kNormal) {
        print_summary_text(stderr, summary);
        if (o.delivery.active()) print_delivery(stderr, run.targets, run.delivery);
    }
    if (o.json && !run.to_stdout && std::fflush(stdout) != 0)
        return refuse(o.output + " written; the summary could not be written: standard output: " + std::strerror(errno),
                      kExitPartial);
    return kExitOk;
}

// Everything after the checks; the exit status.
int run_steps(ProcessRun& run) {
    if (!open_input(run) || !open_run(run)) return kExitFailure;
    tell_formats(run);
    if (const int status = play(run); status != kExitOk) return status;
    if (!deliver_output(run)) return platform::interrupted_signal ? platform::interrupted_status() : kExitFailure;
    const double elapsed_s = std::chrono::duration<double>(std::chrono::steady_clock::now() - run.started).count();
    if (const int status = publish_outputs(run); status != kExitOk) return status;
    return report(run, elapsed_s);
}

// Removes what a failed run left unpublished, saying so when a temporary
// name cannot be removed.
int discard_unpublished(ProcessRun& run, int status) {
    std::string left;
    if (output_discard(run.out, &left) && platform::pending_discard(run.plot_file, &left)) return status;
    print_error(left);
    return status == kExitOk ? kExitFailure : status;
}

}  // namespace

int run_process(const ProcessOptions& o) {
    if (const int status = check_choice_status(o.choice); status != kExitOk) return status;
    if (const int status = check_files(o); status != kExitOk) return status;
    ProcessRun run(o);
    return discard_unpublished(run, run_steps(run));
}

}  // namespace qv::cli
