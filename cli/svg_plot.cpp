#include "cli/svg_plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace qv::cli {

namespace {

constexpr double kWidth = 960, kLeft = 64, kRight = 24;
constexpr double kTopY = 40, kTopH = 260;        // loudness pane
constexpr double kGainY = 340, kGainH = 130;     // AGC gain pane
constexpr double kLufsMin = -50, kLufsMax = 0;   // loudness axis
constexpr double kGainMin = -20, kGainMax = 30;  // AGC gain axis, dB

std::string format(const char* fmt, double a, double b = 0, double c = 0, double d = 0) {
    char buf[160];
    std::snprintf(buf, sizeof buf, fmt, a, b, c, d);
    return buf;
}

std::string escape(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '<')
            out += "&lt;";
        else if (c == '>')
            out += "&gt;";
        else if (c == '&')
            out += "&amp;";
        else if (c == '"')
            out += "&quot;";
        else
            out += c;
    }
    return out;
}

// A polyline of values every 100 ms, broken where a value is not finite.
std::string trace(const std::vector<double>& values, double seconds, double lo, double hi, double y0, double h,
                  const char* colour, const char* dash) {
    std::string out;
    std::string points;
    const double plot_w = kWidth - kLeft - kRight;
    auto flush = [&] {
        if (!points.empty())
            out += "<polyline fill=\"none\" stroke=\"" + std::string(colour) + "\" stroke-width=\"1.5\"" + dash +
                   " points=\"" + points + "\"/>\n";
        points.clear();
    };
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (!std::isfinite(values[i])) {
            flush();
            continue;
        }
        const double v = std::clamp(values[i], lo, hi);
        const double x = kLeft + plot_w * (0.1 * static_cast<double>(i + 1)) / seconds;
        const double y = y0 + h * (hi - v) / (hi - lo);
        points += format("%.1f,%.1f ", x, y);
    }
    flush();
    return out;
}

std::string axes(double seconds, double lo, double hi, double step, double y0, double h, const char* unit) {
    std::string out;
    const double plot_w = kWidth - kLeft - kRight;
    out += format("<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" fill=\"#fafafa\" stroke=\"#888\"/>\n",
                  kLeft, y0, plot_w, h);
    for (double v = lo; v <= hi + 1e-9; v += step) {
        const double y = y0 + h * (hi - v) / (hi - lo);
        out += format("<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#ddd\"/>\n", kLeft, y,
                      kLeft + plot_w, y);
        out += format("<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"end\">%.0f</text>\n", kLeft - 6, y + 4, v);
    }
    out += format("<text x=\"12\" y=\"%.1f\" transform=\"rotate(-90 12 %.1f)\" text-anchor=\"middle\">", y0 + h / 2,
                  y0 + h / 2) +
           unit + "</text>\n";
    // Time ticks at a round step giving about ten marks.
    const double steps[] = {1, 2, 5, 10, 15, 30, 60, 120, 300, 600, 1200, 1800, 3600};
    double tick = steps[0];
    for (double s : steps)
        if (seconds / s <= 12) {
            tick = s;
            break;
        }
    for (double t = 0; t <= seconds + 1e-9; t += tick) {
        const double x = kLeft + plot_w * t / seconds;
        out += format("<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#ddd\"/>\n", x, y0, x, y0 + h);
        out += format("<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\">%.0f</text>\n", x, y0 + h + 14, t);
    }
    return out;
}

std::vector<double> to_db(const std::vector<double>& linear) {
    std::vector<double> db(linear.size());
    for (std::size_t i = 0; i < linear.size(); ++i)
        db[i] = linear[i] > 0 ? 20.0 * std::log10(linear[i]) : -std::numeric_limits<double>::infinity();
    return db;
}

}  // namespace

std::string render_plot(const PlotData& d) {
    const std::size_t points = std::max({d.input_lufs.size(), d.output_lufs.size(), d.master_gain.size()});
    const double seconds = std::max(0.1 * static_cast<double>(points), 1.0);
    const bool gains = !d.master_gain.empty();
    const double height = gains ? kGainY + kGainH + 50 : kTopY + kTopH + 50;

    std::string svg = format(
        "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" height=\"%.0f\" viewBox=\"0 0 %.0f %.0f\" "
        "font-family=\"sans-serif\" font-size=\"11\">\n",
        kWidth, height, kWidth, height);
    svg += format("<rect width=\"%.0f\" height=\"%.0f\" fill=\"white\"/>\n", kWidth, height);
    svg += "<text x=\"" + format("%.0f", kLeft) + "\" y=\"22\" font-size=\"14\">" + escape(d.title) + "</text>\n";

    svg += axes(seconds, kLufsMin, kLufsMax, 10, kTopY, kTopH, "short-term loudness (LUFS)");
    svg += trace(d.input_lufs, seconds, kLufsMin, kLufsMax, kTopY, kTopH, "#999999", "");
    svg += trace(d.output_lufs, seconds, kLufsMin, kLufsMax, kTopY, kTopH, "#1f5fbf", "");
    svg += format("<text x=\"%.1f\" y=\"%.1f\" fill=\"#999999\">input</text>\n", kWidth - kRight - 90, kTopY + 16);
    svg += format("<text x=\"%.1f\" y=\"%.1f\" fill=\"#1f5fbf\">output</text>\n", kWidth - kRight - 50, kTopY + 16);

    if (gains) {
        svg += axes(seconds, kGainMin, kGainMax, 10, kGainY, kGainH, "AGC gain (dB)");
        svg += trace(to_db(d.master_gain), seconds, kGainMin, kGainMax, kGainY, kGainH, "#c0392b", "");
        svg += trace(to_db(d.bass_gain), seconds, kGainMin, kGainMax, kGainY, kGainH, "#e67e22",
                     " stroke-dasharray=\"4 3\"");
        svg +=
            format("<text x=\"%.1f\" y=\"%.1f\" fill=\"#c0392b\">master</text>\n", kWidth - kRight - 90, kGainY + 16);
        svg += format("<text x=\"%.1f\" y=\"%.1f\" fill=\"#e67e22\">bass</text>\n", kWidth - kRight - 40, kGainY + 16);
    }
    const double axis_y = (gains ? kGainY + kGainH : kTopY + kTopH) + 32;
    svg += format("<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\">time (s)</text>\n",
                  kLeft + (kWidth - kLeft - kRight) / 2, axis_y);
    svg += "</svg>\n";
    return svg;
}

}  // namespace qv::cli
