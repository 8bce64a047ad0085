// quorvane process IN OUT: a file through the module, with a loudness summary.
#include <sndfile.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/audio_convert.h"
#include "cli/commands.h"
#include "cli/delivery.h"
#include "cli/fs_util.h"
#include "cli/loudness.h"
#include "cli/progress.h"
#include "cli/svg_plot.h"

namespace qv::cli {

namespace {

constexpr std::size_t kReadFrames = 4096;
// Frames per ModifySamples call; three blocks make the 100 ms (4410-frame)
// step of the plot, so the gains are read exactly on its points.
constexpr std::size_t kBlockFrames = 1470;
constexpr std::size_t kBlocksPerPoint = 3;

// Input sub-formats of at most 16 bits, read as 16-bit samples without dither.
bool is_narrow_pcm(int format) {
    switch (format & SF_FORMAT_SUBMASK) {
        case SF_FORMAT_PCM_S8:
        case SF_FORMAT_PCM_U8:
        case SF_FORMAT_PCM_16:
        case SF_FORMAT_ULAW:
        case SF_FORMAT_ALAW:
        case SF_FORMAT_IMA_ADPCM:
        case SF_FORMAT_MS_ADPCM:
        case SF_FORMAT_GSM610:
        case SF_FORMAT_DWVW_12:
        case SF_FORMAT_DWVW_16:
        case SF_FORMAT_DPCM_8:
        case SF_FORMAT_DPCM_16:
        case SF_FORMAT_ALAC_16:
            return true;
        default:
            return false;
    }
}

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

const char* channels_name(int channels) { return channels == 1 ? "mono" : "stereo"; }

bool output_container(const std::string& path, int& container) {
    const std::string ext = extension_of(path);
    if (ext == "wav")
        container = SF_FORMAT_WAV;
    else if (ext == "flac")
        container = SF_FORMAT_FLAC;
    else if (ext == "aif" || ext == "aiff")
        container = SF_FORMAT_AIFF;
    else
        return false;
    return true;
}

std::string db_text(double v, const char* unit) {
    char buf[32];
    if (std::isfinite(v))
        std::snprintf(buf, sizeof buf, "%7.1f %-4s", v, unit);
    else
        std::snprintf(buf, sizeof buf, "%7s %-4s", "-inf", unit);
    return buf;
}

void print_summary(const ProcessOptions& o, const std::string& description, const SF_INFO& in_info,
                   std::uint64_t out_frames, int latency, const LoudnessFigures& before, const LoudnessFigures& after,
                   double elapsed) {
    const double seconds = in_info.samplerate > 0 ? static_cast<double>(in_info.frames) / in_info.samplerate : 0;
    std::fprintf(stderr, "quorvane: %s -> %s\n", o.input.c_str(), o.output.c_str());
    std::fprintf(stderr, "  %s\n", description.c_str());
    std::fprintf(stderr, "  duration            %.3f s (in: %d Hz %s %s; out: %llu frames, 44100 Hz 16-bit)\n", seconds,
                 in_info.samplerate, sample_format_name(in_info.format).c_str(), channels_name(in_info.channels),
                 static_cast<unsigned long long>(out_frames));
    std::fprintf(stderr, "  latency             %d frames (%.1f ms), %s\n", latency, latency * 1000.0 / 44100,
                 o.keep_latency ? "kept in the output" : "removed: the output is aligned with the input");
    std::fprintf(stderr, "  %-19s %-13s %s\n", "", "   input", "   output");
    std::fprintf(stderr, "  %-19s %s %s\n", "sample peak", db_text(before.sample_peak_dbfs, "dBFS").c_str(),
                 db_text(after.sample_peak_dbfs, "dBFS").c_str());
    std::fprintf(stderr, "  %-19s %s %s\n", "true peak", db_text(before.true_peak_dbtp, "dBTP").c_str(),
                 db_text(after.true_peak_dbtp, "dBTP").c_str());
    std::fprintf(stderr, "  %-19s %s %s\n", "integrated loudness", db_text(before.integrated_lufs, "LUFS").c_str(),
                 db_text(after.integrated_lufs, "LUFS").c_str());
    std::fprintf(stderr, "  %-19s %s %s\n", "loudness range", db_text(before.range_lu, "LU").c_str(),
                 db_text(after.range_lu, "LU").c_str());
    std::fprintf(stderr, "  time taken          %.2f s (%.1fx realtime)\n", elapsed,
                 elapsed > 0 ? seconds / elapsed : 0.0);
}

// Everything one run holds; the destructor removes whatever was not completed.
struct ProcessRun {
    SNDFILE* in = nullptr;
    SNDFILE* out = nullptr;
    int out_fd = -1;
    std::string out_temp;
    int plot_fd = -1;
    std::string plot_temp;
    Session session;
    ChainConverter converter;
    LoudnessMeter before, after, delivered;
    OutputSink sink;

    ~ProcessRun() {
        converter_close(converter);
        meter_close(before);
        meter_close(after);
        meter_close(delivered);
        if (in != nullptr) sf_close(in);
        if (out != nullptr) sf_close(out);
        if (out_fd >= 0) close(out_fd);
        if (plot_fd >= 0) close(plot_fd);
        if (!out_temp.empty()) unlink(out_temp.c_str());
        if (!plot_temp.empty()) unlink(plot_temp.c_str());
    }
};

bool finish_file(int& fd, std::string& temp, const std::string& target, std::string& error) {
    const bool synced = fsync(fd) == 0;
    const int closed = close(fd);
    fd = -1;
    if (!synced || closed != 0 || rename(temp.c_str(), target.c_str()) != 0) {
        error = errno_message(target);
        return false;
    }
    temp.clear();
    return true;
}

}  // namespace

int run_process(const ProcessOptions& o) {
    std::string error;
    bool usage = false;
    if (!check_choice(o.choice, error, usage)) {
        print_error(error);
        return usage ? kExitUsage : kExitFailure;
    }
    if (is_directory(o.input)) {
        print_error(o.input + ": is a directory");
        return kExitFailure;
    }
    if (!file_exists(o.input)) {
        print_error(o.input + ": no such file");
        return kExitFailure;
    }
    if (is_directory(o.output)) {
        print_error(o.output + ": is a directory");
        return kExitFailure;
    }
    if (same_file(o.input, o.output) ||
        (!o.plot.empty() && (same_file(o.input, o.plot) || same_file(o.output, o.plot)))) {
        print_error(o.output + ": the output may not be the input (nor the plot either of them)");
        return kExitFailure;
    }
    if (!o.plot.empty() && is_directory(o.plot)) {
        print_error(o.plot + ": is a directory");
        return kExitFailure;
    }
    int container = 0;
    if (!output_container(o.output, container)) {
        const std::string ext = extension_of(o.output);
        print_error(o.output + ": unsupported output format " + (ext.empty() ? "(no extension)" : "'." + ext + "'") +
                    "; use .wav, .flac or .aiff");
        return kExitFailure;
    }

    ProcessRun run;
    SF_INFO in_info = {};
    run.in = sf_open(o.input.c_str(), SFM_READ, &in_info);
    if (run.in == nullptr) {
        print_error(o.input + ": " + sf_strerror(nullptr));
        return kExitFailure;
    }
    if (in_info.channels > 2) {
        print_error(o.input + ": " + std::to_string(in_info.channels) +
                    " channels; only mono and stereo can be processed");
        return kExitFailure;
    }
    if (in_info.channels < 1 || in_info.samplerate < 1) {
        print_error(o.input + ": no channels or no sample rate");
        return kExitFailure;
    }
    const int channels = in_info.channels;
    const bool narrow = is_narrow_pcm(in_info.format);

    catch_interrupts();
    run.out_fd = create_temp_beside(o.output, run.out_temp, error);
    if (run.out_fd < 0) {
        print_error(error);
        return kExitFailure;
    }
    if (!o.plot.empty()) {
        run.plot_fd = create_temp_beside(o.plot, run.plot_temp, error);
        if (run.plot_fd < 0) {
            print_error(error);
            return kExitFailure;
        }
    }
    SF_INFO out_info = {};
    out_info.samplerate = 44100;
    out_info.channels = channels;
    out_info.format = container | SF_FORMAT_PCM_16;
    run.out = sf_open_fd(run.out_fd, SFM_WRITE, &out_info, SF_FALSE);
    if (run.out == nullptr) {
        print_error(o.output + ": " + sf_strerror(nullptr));
        return kExitFailure;
    }
    run.sink.out = run.out;
    run.sink.channels = channels;
    if (o.delivery.active() && !sink_hold(run.sink, channels, error)) {
        print_error(error);
        return kExitFailure;
    }

    const bool plotting = !o.plot.empty();
    if (!converter_open(run.converter, channels, in_info.samplerate, error) ||
        !meter_open(run.before, channels, in_info.samplerate, plotting, error) ||
        !meter_open(run.after, channels, 44100, plotting, error)) {
        print_error(o.input + ": " + error);
        return kExitFailure;
    }
    if (!start_session(run.session, o.choice, error)) {
        print_error(error);
        return kExitFailure;
    }

    const auto started = std::chrono::steady_clock::now();
    Progress progress;
    progress_start(progress, static_cast<double>(in_info.frames) / in_info.samplerate);

    PlotData plot;
    std::vector<float> float_in(kReadFrames * channels);
    std::vector<std::int16_t> short_in(kReadFrames * channels);
    std::vector<std::int16_t> pending;
    std::uint64_t frames_read = 0, frames_in = 0, frames_out = 0, blocks = 0;
    bool write_failed = false;
    // Aligned output: the first `latency` frames the chain returns are its
    // delay, not programme; they are dropped, and as many frames of silence
    // after the end bring the programme's tail out.
    const int latency = session_latency_frames(run.session);
    std::uint64_t to_drop = o.keep_latency ? 0 : static_cast<std::uint64_t>(latency);

    // Runs every whole block of pending frames (and, at the end, the rest);
    // counted as input unless they are the silence that flushes the tail.
    auto run_blocks = [&](bool final, bool input) {
        std::size_t done = 0;
        const std::size_t available = pending.size() / channels;
        while (!write_failed && (available - done >= kBlockFrames || (final && done < available))) {
            const std::size_t n = std::min(kBlockFrames, available - done);
            std::int16_t* block = pending.data() + done * channels;
            process_block(run.session, block, static_cast<int>(n), channels);
            std::size_t skip = 0;
            if (to_drop > 0) {
                skip = static_cast<std::size_t>(std::min<std::uint64_t>(to_drop, n));
                to_drop -= skip;
            }
            const std::size_t keep = n - skip;
            if (keep > 0) {
                meter_add(run.after, block + skip * channels, keep);
                if (!sink_write(run.sink, block + skip * channels, keep)) write_failed = true;
            }
            done += n;
            if (input) frames_in += n;
            frames_out += keep;
            if (plotting && n == kBlockFrames && ++blocks % kBlocksPerPoint == 0) {
                const ProcessorReadings r = processor_readings(*run.session.processor);
                plot.master_gain.push_back(r.master_agc_gain);
                plot.bass_gain.push_back(r.bass_agc_gain);
                for (int b = 0; b < kPlotBands; ++b)
                    plot.band_reduction_db[b].push_back(
                        -20 * std::log10(std::max(r.band_composite_gain[b], 1e-6)));
            }
        }
        pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(done * channels));
    };

    for (;;) {
        if (g_interrupted) {
            progress_finish(progress);
            print_error("interrupted; nothing written");
            return interrupted_status();
        }
        sf_count_t got;
        if (narrow) {
            got = sf_readf_short(run.in, short_in.data(), kReadFrames);
            if (got > 0) {
                meter_add(run.before, short_in.data(), static_cast<std::size_t>(got));
                convert_16(run.converter, short_in.data(), static_cast<std::size_t>(got), pending);
            }
        } else {
            got = sf_readf_float(run.in, float_in.data(), kReadFrames);
            if (got > 0) {
                meter_add(run.before, float_in.data(), static_cast<std::size_t>(got));
                convert_float(run.converter, float_in.data(), static_cast<std::size_t>(got), pending);
            }
        }
        if (got <= 0) break;
        frames_read += static_cast<std::uint64_t>(got);
        run_blocks(false, true);
        if (write_failed) break;
        progress_update(progress, static_cast<double>(frames_read) / in_info.samplerate);
    }
    progress_finish(progress);
    if (sf_error(run.in) != SF_ERR_NO_ERROR) {
        print_error(o.input + ": " + sf_strerror(run.in));
        return kExitFailure;
    }
    convert_flush(run.converter, pending);
    run_blocks(true, true);
    if (!o.keep_latency) {
        // The tail: silence through the chain until the output is as long as the input.
        while (!write_failed && frames_out < frames_in) {
            const std::uint64_t owed = frames_in - frames_out + to_drop;
            pending.assign(static_cast<std::size_t>(std::min<std::uint64_t>(owed, kBlockFrames)) * channels, 0);
            run_blocks(true, false);
        }
    }
    LoudnessFigures output_figures = meter_figures(run.after);
    DeliveryGain delivery;
    if (o.delivery.active() && !write_failed) {
        if (!meter_open(run.delivered, channels, 44100, plotting, error) ||
            !deliver(run.sink, output_figures, o.delivery, run.delivered, delivery, error)) {
            print_error(o.output + ": " + error);
            return g_interrupted ? interrupted_status() : kExitFailure;
        }
        output_figures = meter_figures(run.delivered);
    }
    if (write_failed || sf_error(run.out) != SF_ERR_NO_ERROR) {
        print_error(o.output + ": cannot write: " + sf_strerror(run.out));
        return kExitFailure;
    }
    const int closed = sf_close(run.out);
    run.out = nullptr;
    if (closed != 0) {
        print_error(o.output + ": cannot write: " + sf_error_number(closed));
        return kExitFailure;
    }
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    in_info.frames = static_cast<sf_count_t>(frames_read);

    if (plotting) {
        plot.title = o.input + " -> " + o.output + "  (" + run.session.description + ")";
        plot.input_lufs = run.before.short_term;
        plot.output_lufs = o.delivery.active() ? run.delivered.short_term : run.after.short_term;
        plot.input_integrated_lufs = meter_figures(run.before).integrated_lufs;
        plot.output_integrated_lufs = output_figures.integrated_lufs;
        plot.target_lufs = o.delivery.loudness_lufs;
        const std::string svg = render_plot(plot);
        if (!write_full(run.plot_fd, svg.data(), svg.size())) {
            print_error(errno_message(o.plot));
            return kExitFailure;
        }
    }
    if (!finish_file(run.out_fd, run.out_temp, o.output, error) ||
        (plotting && !finish_file(run.plot_fd, run.plot_temp, o.plot, error))) {
        print_error(error);
        return kExitFailure;
    }
    if (!o.quiet) {
        print_summary(o, run.session.description, in_info, frames_out, latency, meter_figures(run.before),
                      output_figures, elapsed);
        if (o.delivery.active()) print_delivery(stderr, o.delivery, delivery);
    }
    return kExitOk;
}

}  // namespace qv::cli
