#pragma once
// Loudness and peak measurement with libebur128 (EBU R128 / ITU-R BS.1770),
// plus a short-term loudness trace every 100 ms for the plot.
#include <ebur128.h>

#include <cstdint>
#include <string>
#include <vector>

namespace qv::cli {

struct LoudnessMeter {
    ebur128_state* state = nullptr;
    int channels = 0;
    long rate = 0;
    std::uint64_t frames = 0;
    std::uint64_t next_point = 0;  // frame count of the next 100 ms trace point
    bool trace = false;
    std::vector<double> short_term;  // LUFS every 100 ms (-inf where silent)
};

struct LoudnessFigures {
    double sample_peak_dbfs;  // highest |sample| over the channels, 0 dB = full scale
    double true_peak_dbtp;
    double integrated_lufs;  // -inf for silence or under 400 ms
    double range_lu;
};

bool meter_open(LoudnessMeter& m, int channels, long rate, bool trace, std::string& error);
void meter_close(LoudnessMeter& m);

// Float samples on the 1.0 = full scale scale, or 16-bit samples.
void meter_add(LoudnessMeter& m, const float* samples, std::size_t frames);
void meter_add(LoudnessMeter& m, const std::int16_t* samples, std::size_t frames);

LoudnessFigures meter_figures(const LoudnessMeter& m);

}  // namespace qv::cli
