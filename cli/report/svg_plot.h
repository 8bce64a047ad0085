#pragma once
// The picture of a run as a self-contained SVG file: short-term loudness of
// input and output over time with their integrated loudness and any target,
// the AGC's gains and the multiband gain reduction beneath. Every trace is
// decimated to the width of the plot (lowest and highest value per pixel
// column), so an hour costs no more than a minute.
#include <array>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace qv::cli {

constexpr double kPlotPointSeconds = 0.1;  // every trace has one value per 100 ms
constexpr int kPlotBands = 5;

struct PlotData {
    std::string title;
    std::vector<double> input_lufs;  // short-term loudness; -inf where silent
    std::vector<double> output_lufs;
    double input_integrated_lufs = -std::numeric_limits<double>::infinity();
    double output_integrated_lufs = -std::numeric_limits<double>::infinity();
    std::optional<double> target_lufs;  // --loudness
    std::vector<double> master_gain;    // AGC gains, linear; empty when unknown
    std::vector<double> bass_gain;
    // Gain reduction of multiband bands 1..5 (low to high) in dB, 0 or more;
    // empty when unknown.
    std::array<std::vector<double>, kPlotBands> band_reduction_db;
};

std::string render_plot(const PlotData& data);

// "m:ss", or "h:mm:ss" when the whole run lasts an hour or more.
std::string time_label(double seconds, bool hours);

}  // namespace qv::cli
