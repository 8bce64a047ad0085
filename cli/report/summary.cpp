#include "cli/report/summary.h"

#include <cmath>
#include <string>

#include "cli/report/messages.h"

namespace qv::cli {

namespace {

const char* channels_name(int channels) { return channels == 1 ? "mono" : channels == 2 ? "stereo" : "channels"; }

// A figure in a 12-wide column; "n/a" where nothing was measured.
std::string db_text(double v, const char* unit, bool measured) {
    char buf[32];
    if (!measured)
        std::snprintf(buf, sizeof buf, "%7s %-4s", "n/a", "");
    else if (std::isfinite(v))
        std::snprintf(buf, sizeof buf, "%7.1f %-4s", v, unit);
    else
        std::snprintf(buf, sizeof buf, "%7s %-4s", "-inf", unit);
    return buf;
}

std::string json_string(const std::string& s) {
    std::string out = "\"";
    for (const char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", static_cast<unsigned>(c));
            out += esc;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string json_number(double v, int decimals) {
    if (!std::isfinite(v)) return "null";
    char buf[48];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    return buf;
}

std::string json_levels(const LoudnessFigures& f, bool measured) {
    const double nan = std::nan("");
    return "{\"sample_peak_dbfs\":" + json_number(measured ? f.sample_peak_dbfs : nan, 2) +
           ",\"true_peak_dbtp\":" + json_number(measured ? f.true_peak_dbtp : nan, 2) +
           ",\"integrated_lufs\":" + json_number(measured ? f.integrated_lufs : nan, 2) +
           ",\"loudness_range_lu\":" + json_number(measured ? f.range_lu : nan, 2) + "}";
}

}  // namespace

double duration_s(const ProcessSummary& s) {
    return s.input_rate > 0 ? static_cast<double>(s.input_frames) / s.input_rate : 0.0;
}

double realtime_factor(const ProcessSummary& s) {
    const double d = duration_s(s);
    return d > 0 && s.elapsed_s > 0 ? d / s.elapsed_s : std::nan("");
}

void print_summary_text(std::FILE* to, const ProcessSummary& s) {
    const bool in_measured = s.input_frames > 0, out_measured = s.output_frames > 0;
    std::fprintf(to, "quorvane: %s -> %s\n", s.input.c_str(), s.output.c_str());
    std::fprintf(to, "  %s\n", s.description.c_str());
    std::fprintf(to, "  duration            %.3f s (in: %d Hz %s %s; out: %llu frames, 44100 Hz 16-bit)\n",
                 duration_s(s), s.input_rate, s.input_format.c_str(), channels_name(s.input_channels),
                 static_cast<unsigned long long>(s.output_frames));
    std::fprintf(to, "  latency             %lld frames (%.1f ms), %s\n", static_cast<long long>(s.latency_frames),
                 s.latency_frames * 1000.0 / 44100,
                 s.latency_kept ? "kept in the output" : "removed: the output is aligned with the input");
    if (s.ceiling_dbtp)
        std::fprintf(to, "  ceiling             %s true peak, held by the limiter after the chain (deepest: %.1f dB)\n",
                     dbtp_text(*s.ceiling_dbtp).c_str(), s.ceiling_reduction_db);
    if (!s.downmix_layout.empty())
        std::fprintf(to, "  downmix             %d channels (%s) to stereo, %llu samples clipped\n", s.input_channels,
                     s.downmix_layout.c_str(), static_cast<unsigned long long>(s.downmix_overloads));
    std::fprintf(to, "  %-19s %-13s %s\n", "", "   input", "   output");
    std::fprintf(to, "  %-19s %s %s\n", "sample peak", db_text(s.before.sample_peak_dbfs, "dBFS", in_measured).c_str(),
                 db_text(s.after.sample_peak_dbfs, "dBFS", out_measured).c_str());
    std::fprintf(to, "  %-19s %s %s\n", "true peak", db_text(s.before.true_peak_dbtp, "dBTP", in_measured).c_str(),
                 db_text(s.after.true_peak_dbtp, "dBTP", out_measured).c_str());
    std::fprintf(to, "  %-19s %s %s\n", "integrated loudness",
                 db_text(s.before.integrated_lufs, "LUFS", in_measured).c_str(),
                 db_text(s.after.integrated_lufs, "LUFS", out_measured).c_str());
    std::fprintf(to, "  %-19s %s %s\n", "loudness range", db_text(s.before.range_lu, "LU", in_measured).c_str(),
                 db_text(s.after.range_lu, "LU", out_measured).c_str());
    const double speed = realtime_factor(s);
    if (std::isfinite(speed))
        std::fprintf(to, "  time taken          %.2f s (%.1fx realtime)\n", s.elapsed_s, speed);
    else
        std::fprintf(to, "  time taken          %.2f s\n", s.elapsed_s);
}

void print_summary_json(std::FILE* to, const ProcessSummary& s) {
    std::string j = "{\"input\":" + json_string(s.input) + ",\"output\":" + json_string(s.output);
    j += ",\"process\":{\"number\":" + (s.process_number >= 0 ? std::to_string(s.process_number) : "null") +
         ",\"name\":" + json_string(s.process_name) + "}";
    j += ",\"input_rate\":" + std::to_string(s.input_rate) + ",\"input_channels\":" + std::to_string(s.input_channels);
    j +=
        ",\"input_frames\":" + std::to_string(s.input_frames) + ",\"output_frames\":" + std::to_string(s.output_frames);
    j += ",\"duration_s\":" + json_number(duration_s(s), 3) + ",\"latency_frames\":" + std::to_string(s.latency_frames);
    j += ",\"elapsed_s\":" + json_number(s.elapsed_s, 3) + ",\"realtime_factor\":" + json_number(realtime_factor(s), 1);
    j += ",\"ceiling\":" + (s.ceiling_dbtp ? "{\"dbtp\":" + json_number(*s.ceiling_dbtp, 2) +
                                                 ",\"max_reduction_db\":" + json_number(s.ceiling_reduction_db, 2) + "}"
                                           : std::string("null"));
    j += ",\"input_levels\":" + json_levels(s.before, s.input_frames > 0);
    j += ",\"output_levels\":" + json_levels(s.after, s.output_frames > 0);
    if (s.downmix_layout.empty())
        j += ",\"downmix\":null";
    else
        j += ",\"downmix\":{\"layout\":" + json_string(s.downmix_layout) +
             ",\"overloads\":" + std::to_string(s.downmix_overloads) + "}";
    j += "}\n";
    std::fputs(j.c_str(), to);
}

}  // namespace qv::cli
