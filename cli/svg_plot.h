#pragma once
// The picture of a run: short-term loudness of input and output over time,
// and the AGC's gains beneath, as a self-contained SVG file.
#include <string>
#include <vector>

namespace qv::cli {

struct PlotData {
    std::string title;
    std::vector<double> input_lufs;   // every 100 ms
    std::vector<double> output_lufs;  // every 100 ms
    std::vector<double> master_gain;  // linear, every 100 ms; empty when unknown
    std::vector<double> bass_gain;
};

std::string render_plot(const PlotData& data);

}  // namespace qv::cli
