#pragma once
// What `process` reports when it is done: as text for a person on standard
// error, or as one JSON object for a program (--json).
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "cli/report/loudness.h"

namespace qv::cli {

struct ProcessSummary {
    std::string input, output;  // as named on the command line ("-" for the standard streams)
    std::string description;    // e.g. `process 3 "NEWS"`
    int process_number = -1;    // -1 when a process file was given
    std::string process_name;
    int input_rate = 0;
    int input_channels = 0;
    std::string input_format;  // "16-bit", "float", ...
    std::uint64_t input_frames = 0;
    std::uint64_t output_frames = 0;
    std::int64_t latency_frames = 0;     // the chain's delay at 44.1 kHz
    bool latency_kept = false;           // --keep-latency: the delay is in the output
    std::optional<double> ceiling_dbtp;  // --ceiling; its delay is in latency_frames
    double ceiling_reduction_db = 0;     // the ceiling's deepest gain reduction, dB
    double elapsed_s = 0;
    LoudnessFigures before{}, after{};
    std::string downmix_layout;  // empty when no channels were folded
    std::uint64_t downmix_overloads = 0;
};

double duration_s(const ProcessSummary& s);
// Seconds of programme per second of processing; NaN when either is zero.
double realtime_factor(const ProcessSummary& s);

void print_summary_text(std::FILE* to, const ProcessSummary& s);
// One line: {"input": ..., "output_levels": {...}, ...}; figures that are no
// number (silence, an empty input) are null.
void print_summary_json(std::FILE* to, const ProcessSummary& s);

}  // namespace qv::cli
