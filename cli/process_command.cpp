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
    AudioInput in;
    AudioOutput out;
    platform::PendingFile plot;
    OutputSink sink;  // the chain's frames: to out, or held for the delivery pass
    Session session;
    ChainConverter converter;
    LoudnessMeter before, after, delivered;

    ~ProcessRun() {
        converter_close(converter);
        meter_close(before);
        meter_close(after);
        meter_close(delivered);
        input_close(in);
        output_discard(out);
        platform::pending_discard(plot);
    }
};

platform::ReplacePolicy replace_policy(const ProcessOptions& o) {
    if (o.no_clobber) return platform::ReplacePolicy::never;
    return o.force ? platform::ReplacePolicy::always : platform::ReplacePolicy::unless_protected;
}

// Refuses an existing file that the options say must stay. Checked again
// when the output takes its place, for --no-clobber in the same step.
bool may_replace(const ProcessOptions& o, const std::string& path) {
    if (!platform::file_exists(path)) return true;
    if (o.no_clobber) {
        print_error(path + ": exists, and --no-clobber keeps it");
        return false;
    }
    if (!o.force && platform::is_write_protected(path.c_str())) {
        print_error(path + ": write-protected; --force replaces it");
        return false;
    }
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

}  // namespace

int run_process(const ProcessOptions& o) {
    std::string error;
    bool usage = false;
    if (!check_choice(o.choice, error, usage)) {
        print_error(error);
        return usage ? kExitUsage : kExitFailure;
    }
    const bool from_stdin = o.input == "-", to_stdout = o.output == "-";
    if (to_stdout && isatty(STDOUT_FILENO) == 1) {
        print_error("standard output is a terminal; redirect it to a file or a pipe");
        return kExitUsage;
    }
    if (from_stdin && isatty(STDIN_FILENO) == 1) {
        print_error("standard input is a terminal; send a WAV stream to it");
        return kExitUsage;
    }
    if (!from_stdin && platform::is_directory(o.input)) {
        print_error(o.input + ": is a directory");
        return kExitFailure;
    }
    if (!from_stdin && !platform::file_exists(o.input)) {
        print_error(o.input + ": no such file");
        return kExitFailure;
    }
    if (!to_stdout && platform::is_directory(o.output)) {
        print_error(o.output + ": is a directory");
        return kExitFailure;
    }
    int container = 0;
    if (!output_container(o.output, container)) {
        const std::string ext = platform::extension_of(o.output);
        print_error(o.output + ": unsupported output format " + (ext.empty() ? "(no extension)" : "'." + ext + "'") +
                    "; use .wav, .flac or .aiff, or - for WAV on standard output");
        return kExitUsage;
    }
    if ((!from_stdin && !to_stdout && platform::same_file(o.input, o.output)) ||
        (!o.plot.empty() && ((!from_stdin && platform::same_file(o.input, o.plot)) ||
                             (!to_stdout && platform::same_file(o.output, o.plot))))) {
        print_error(o.output + ": the output may not be the input (nor the plot either of them)");
        return kExitFailure;
    }
    if (!o.plot.empty() && platform::is_directory(o.plot)) {
        print_error(o.plot + ": is a directory");
        return kExitFailure;
    }
    if ((!to_stdout && !may_replace(o, o.output)) || (!o.plot.empty() && !may_replace(o, o.plot))) return kExitFailure;

    ProcessRun run;
    if (!input_open(run.in, o.input, error)) {
        print_error(error);
        return kExitFailure;
    }
    const SF_INFO in_info = run.in.info;
    if (in_info.channels < 1 || in_info.samplerate < 1) {
        print_error(o.input + ": no channels or no sample rate");
        return kExitFailure;
    }
    if (!input_rate_supported(in_info.samplerate)) {
        print_error(o.input + ": " + rate_refusal(in_info.samplerate));
        return kExitFailure;
    }
    Downmix downmix;
    const bool folding = in_info.channels > 2;
    if (folding && !o.downmix) {
        print_error(o.input + ": " + std::to_string(in_info.channels) +
                    " channels; only mono and stereo can be processed (--downmix folds them to stereo)");
        return kExitFailure;
    }
    if (folding && !downmix_plan(downmix, in_info.channels, input_channel_positions(run.in), in_info.format, error)) {
        print_error(o.input + ": " + error);
        return kExitFailure;
    }
    const int channels = folding ? 2 : in_info.channels;
    const bool narrow = !folding && input_is_narrow(run.in);

    catch_interrupts();
    // A reader that goes away is a write error (EPIPE), so the run still
    // cleans up after itself.
    if (to_stdout) signal(SIGPIPE, SIG_IGN);
    const auto tags = input_tags(run.in);
    if (!output_open(run.out, o.output, channels, tags, error)) {
        print_error(error);
        return kExitFailure;
    }
    run.sink.out = &run.out;
    run.sink.channels = channels;
    if (o.delivery.active() && !sink_hold(run.sink, channels, error)) {
        print_error(error);
        return kExitFailure;
    }
    if (!o.plot.empty() && !platform::pending_create(run.plot, o.plot, error)) {
        print_error(error);
        return kExitFailure;
    }

    const bool plotting = !o.plot.empty();
    if (!converter_open(run.converter, channels, in_info.samplerate, error) ||
        !meter_open(run.before, in_info.channels, in_info.samplerate, plotting, error) ||
        !meter_open(run.after, channels, 44100, plotting, error)) {
        print_error(o.input + ": " + error);
        return kExitFailure;
    }
    // The input is measured as the speakers it feeds, the LFE left out.
    for (int ch = 0; folding && ch < in_info.channels; ++ch)
        ebur128_set_channel(run.before.state, static_cast<unsigned>(ch),
                            downmix.loudness[static_cast<std::size_t>(ch)]);
    if (!start_session(run.session, o.choice, error)) {
        print_error(error);
        return kExitFailure;
    }
    if (g_verbosity >= kVerbose) {
        print_info(run.in.name + ": " + std::to_string(in_info.samplerate) + " Hz " +
                   sample_format_name(in_info.format) + ", " + std::to_string(in_info.channels) + " channel(s)" +
                   (folding ? " (" + downmix.layout + ") folded to stereo" : ""));
        std::string copied;
        for (int type : run.out.tags_written) copied += std::string(copied.empty() ? "" : ", ") + tag_name(type);
        if (!tags.empty()) print_info(run.out.name + ": tags copied: " + (copied.empty() ? "none" : copied));
        print_info("playing " + run.session.description);
    }

    const auto started = std::chrono::steady_clock::now();
    Progress progress;
    // Standard input's length is unknown (0 frames): no bar.
    progress_start(progress, g_verbosity >= kNormal ? static_cast<double>(in_info.frames) / in_info.samplerate : 0);

    PlotData plot;
    // Aligned output: the first `latency` frames the chain returns are its
    // delay, not programme; they are dropped, and as many frames of silence
    // after the end bring the programme's tail out.
    const int latency = session_latency_frames(run.session);
    ChainStage chain;
    chain.session = &run.session;
    chain.channels = channels;
    chain.plotting = plotting;
    chain.flush_tail = !o.keep_latency;
    chain.to_drop = o.keep_latency ? 0 : static_cast<std::uint64_t>(latency);
    OutputStage output;
    output.meter = &run.after;
    output.sink = &run.sink;
    output.plot = plotting ? &plot : nullptr;

    BlockPipeline pipe(kPoolBlocks, kBlockFrames * static_cast<std::size_t>(channels), kWakeAt, &g_interrupted);
    StageThreads threads(pipe);
    if (!threads.start([&] { run_chain_stage(pipe, chain); }, error) ||
        !threads.start([&] { run_output_stage(pipe, output); }, error)) {
        progress_finish(progress);
        print_error(error);
        return kExitFailure;
    }

    // Decoding and the input's meter share a core with the output's stage.
    yield_to_chain_stage();
    std::vector<float> float_in(kReadFrames * static_cast<std::size_t>(in_info.channels));
    std::vector<float> folded(folding ? kReadFrames * 2 : 0);
    std::vector<std::int16_t> short_in(kReadFrames * static_cast<std::size_t>(channels));
    std::vector<std::int16_t> pending;
    std::uint64_t frames_read = 0;
    bool input_ended = false, read_failed = false;
    for (;;) {
        long got;
        if (narrow) {
            got = input_read(run.in, short_in.data(), kReadFrames, error);
            if (got > 0) {
                meter_add(run.before, short_in.data(), static_cast<std::size_t>(got));
                convert_16(run.converter, short_in.data(), static_cast<std::size_t>(got), pending);
            }
        } else {
            got = input_read(run.in, float_in.data(), kReadFrames, error);
            if (got > 0) {
                meter_add(run.before, float_in.data(), static_cast<std::size_t>(got));
                if (folding) downmix_apply(downmix, float_in.data(), static_cast<std::size_t>(got), folded.data());
                convert_float(run.converter, folding ? folded.data() : float_in.data(), static_cast<std::size_t>(got),
                              pending);
            }
        }
        if (g_interrupted) break;
        if (got < 0) {
            read_failed = true;
            break;
        }
        if (got == 0) {
            convert_flush(run.converter, pending);
            input_ended = true;
        }
        if (!send_blocks(pipe, pending, channels, input_ended) || input_ended) break;
        frames_read += static_cast<std::uint64_t>(got);
        progress_update(progress, static_cast<double>(frames_read) / in_info.samplerate);
    }
    if (input_ended)
        pipe.close(Lane::decoded);
    else
        pipe.stop();
    threads.join();
    progress_finish(progress);
    // An interrupt after the last block was written changes nothing.
    if (!output.finished) {
        if (g_interrupted) {
            print_error("interrupted; nothing written");
            return interrupted_status();
        }
        print_error(read_failed ? error : pipe.error());
        return kExitFailure;
    }
    LoudnessFigures output_figures = meter_figures(run.after);
    DeliveryGain delivery;
    if (o.delivery.active()) {
        if (!meter_open(run.delivered, channels, 44100, plotting, error) ||
            !deliver(run.sink, output_figures, o.delivery, run.delivered, delivery, error)) {
            print_error(o.output + ": " + error);
            return g_interrupted ? interrupted_status() : kExitFailure;
        }
        output_figures = meter_figures(run.delivered);
    }
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    if (plotting) {
        plot.title = o.input + " -> " + o.output + "  (" + run.session.description + ")";
        plot.input_lufs = run.before.short_term;
        plot.output_lufs = o.delivery.active() ? run.delivered.short_term : run.after.short_term;
        plot.input_integrated_lufs = meter_figures(run.before).integrated_lufs;
        plot.output_integrated_lufs = output_figures.integrated_lufs;
        plot.target_lufs = o.delivery.loudness_lufs;
        const std::string svg = render_plot(plot);
        if (!platform::write_full(run.plot.fd, svg.data(), svg.size())) {
            print_error(platform::errno_message(o.plot));
            return kExitFailure;
        }
    }
    if (!output_finish(run.out, replace_policy(o), error) ||
        (plotting && !platform::pending_publish(run.plot, replace_policy(o), error))) {
        print_error(error);
        return kExitFailure;
    }

    ProcessSummary summary;
    summary.input = o.input;
    summary.output = o.output;
    summary.description = run.session.description;
    summary.process_number = run.session.process_number;
    summary.process_name = run.session.process_name;
    summary.input_rate = in_info.samplerate;
    summary.input_channels = in_info.channels;
    summary.input_format = sample_format_name(in_info.format);
    summary.input_frames = frames_read;
    summary.output_frames = run.out.frames;
    summary.elapsed_s = elapsed;
    summary.before = meter_figures(run.before);
    summary.after = output_figures;
    summary.latency_frames = latency;
    summary.latency_kept = o.keep_latency;
    if (folding) {
        summary.downmix_layout = downmix.layout;
        summary.downmix_overloads = downmix.overloads;
    }
    if (o.json)
        print_summary_json(to_stdout ? stderr : stdout, summary);
    else if (g_verbosity >= kNormal) {
        print_summary_text(stderr, summary);
        if (o.delivery.active()) print_delivery(stderr, o.delivery, delivery);
    }
    if (o.json && !to_stdout && std::fflush(stdout) != 0) {
        print_error(std::string("standard output: ") + std::strerror(errno));
        return kExitFailure;
    }
    return kExitOk;
}

}  // namespace qv::cli
