#include "cli/report/delivery.h"

#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <vector>

#include "cli/audio/audio_convert.h"
#include "cli/report/messages.h"
#include "platform/posix/fs_util.h"
#include "platform/posix/interrupt.h"
#include "platform/posix/temp_file.h"

namespace qv::cli {

namespace {

constexpr std::size_t kPassFrames = 4096;

std::string temp_dir() {
    const char* tmp = std::getenv("TMPDIR");
    return tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp";
}

std::string format_db(double v, const char* unit) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %s", v, unit);
    return text;
}

}  // namespace

DeliveryGain delivery_gain(const LoudnessFigures& measured, double peak_sample, const DeliveryTargets& targets) {
    DeliveryGain g;
    bool any = false;
    auto consider = [&](double gain_db, DeliveryLimit limit) {
        if (!std::isfinite(gain_db)) return;
        if (!any || gain_db < g.gain_db) {
            g.gain_db = gain_db;
            g.limit = limit;
        }
        any = true;
    };
    if (targets.loudness_lufs) consider(*targets.loudness_lufs - measured.integrated_lufs, DeliveryLimit::loudness);
    if (targets.true_peak_dbtp) consider(*targets.true_peak_dbtp - measured.true_peak_dbtp, DeliveryLimit::true_peak);
    if (targets.ceiling_dbtp) consider(*targets.ceiling_dbtp - measured.true_peak_dbtp, DeliveryLimit::ceiling);
    if (any && peak_sample > 0) {
        const double full_scale_db = 20.0 * std::log10(32767.0 / peak_sample);
        if (full_scale_db < g.gain_db) {
            g.gain_db = full_scale_db;
            g.limit = DeliveryLimit::full_scale;
        }
    }
    if (!any) g = DeliveryGain{};
    return g;
}

OutputSink::~OutputSink() {
    if (held_fd >= 0) close(held_fd);
}

bool sink_hold(OutputSink& sink, int channels, std::string& error) {
    sink.channels = channels;
    // Unnamed, or named only for the instant before it is unlinked; a name a
    // kill leaves there is removed by the next run's.
    sink.held_fd = platform::scratch_file(temp_dir(), "quorvane-held", error);
    return sink.held_fd >= 0;
}

bool sink_write(OutputSink& sink, const std::int16_t* frames, std::size_t count, std::string& error) {
    if (sink.held_fd < 0) return output_write(*sink.out, frames, count, error);
    const std::size_t samples = count * static_cast<std::size_t>(sink.channels);
    for (std::size_t i = 0; i < samples; ++i) {
        const std::int32_t a = std::abs(static_cast<std::int32_t>(frames[i]));
        if (a > sink.peak_sample) sink.peak_sample = a;
    }
    if (platform::write_full(sink.held_fd, frames, samples * sizeof(std::int16_t))) return true;
    error = platform::errno_message("the held output");
    return false;
}

bool deliver(OutputSink& sink, const LoudnessFigures& measured, const DeliveryTargets& targets,
             LoudnessMeter& delivered, DeliveryGain& result, std::string& error) {
    result = delivery_gain(measured, sink.peak_sample, targets);
    const double gain = std::pow(10.0, result.gain_db / 20.0);
    if (lseek(sink.held_fd, 0, SEEK_SET) != 0) {
        error = platform::errno_message("the held output");
        return false;
    }
    const std::size_t channels = static_cast<std::size_t>(sink.channels);
    std::vector<std::int16_t> held(kPassFrames * channels), out(kPassFrames * channels);
    TpdfDither dither;
    for (;;) {
        if (platform::interrupted_signal) {
            error = "interrupted";
            return false;
        }
        const long got = platform::read_full(sink.held_fd, held.data(), held.size() * sizeof(std::int16_t));
        if (got < 0) {
            error = platform::errno_message("the held output");
            return false;
        }
        const std::size_t frames = static_cast<std::size_t>(got) / (channels * sizeof(std::int16_t));
        if (frames == 0) break;
        for (std::size_t i = 0; i < frames * channels; ++i)
            out[i] = dither_scaled_16(dither, static_cast<double>(held[i]) * gain);
        meter_add(delivered, out.data(), frames);
        if (!output_write(*sink.out, out.data(), frames, error)) return false;
    }
    return true;
}

void print_delivery(std::FILE* out, const DeliveryTargets& targets, const DeliveryGain& gain) {
    std::string limits;
    if (targets.loudness_lufs) limits += format_db(*targets.loudness_lufs, "LUFS");
    if (targets.true_peak_dbtp) limits += (limits.empty() ? "" : ", ") + format_db(*targets.true_peak_dbtp, "dBTP");
    if (targets.ceiling_dbtp)
        limits += std::string(limits.empty() ? "" : ", ") + "ceiling " + dbtp_text(*targets.ceiling_dbtp);
    const char* decided = "nothing measurable, unity gain";
    switch (gain.limit) {
        case DeliveryLimit::loudness:
            decided = "set by the loudness target";
            break;
        case DeliveryLimit::true_peak:
            decided = "set by the true-peak ceiling";
            break;
        case DeliveryLimit::ceiling:
            decided = "set by the processor's ceiling (--ceiling)";
            break;
        case DeliveryLimit::full_scale:
            decided = "set by full scale (a higher gain would clip)";
            break;
        case DeliveryLimit::none:
            break;
    }
    std::fprintf(out, "  %-19s %+.2f dB gain, %s (limits %s)\n", "delivery", gain.gain_db, decided, limits.c_str());
}

}  // namespace qv::cli
