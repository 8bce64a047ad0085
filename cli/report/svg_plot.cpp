#include "cli/report/svg_plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace qv::cli {

namespace {

// Geometry in SVG user units (pixels). The legends live in the right margin,
// outside every pane, so they never cover a curve.
constexpr double kWidth = 1000, kLeft = 64, kRight = 170;
constexpr double kPlotW = kWidth - kLeft - kRight;
constexpr double kPaneGap = 46;  // room for a pane's time labels
constexpr double kTitleH = 40;

struct Pane {
    double y0, h;   // top and height
    double lo, hi;  // value range, bottom to top unless inverted
    bool inverted;  // lo at the top (gain reduction grows downward)
    double step;    // grid step in value units
    const char* unit;
    double y(double v) const {
        const double c = std::clamp(v, lo, hi);
        return inverted ? y0 + h * (c - lo) / (hi - lo) : y0 + h * (hi - c) / (hi - lo);
    }
};

std::string format(const char* fmt, double a, double b = 0, double c = 0, double d = 0) {
    char buf[200];
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

// One polyline per run of columns with finite values: for each pixel column
// the highest then the lowest value falling into it (one point when they are
// equal, or when there are fewer values than columns).
std::string trace(const std::vector<double>& values, double seconds, const Pane& pane, const char* colour,
                  const char* dash) {
    std::string out, points;
    auto flush = [&] {
        if (!points.empty())
            out += "<polyline fill=\"none\" stroke=\"" + std::string(colour) + "\" stroke-width=\"1.2\"" + dash +
                   " points=\"" + points + "\"/>\n";
        points.clear();
    };
    const int columns = static_cast<int>(kPlotW);
    const double per_column = seconds / kPlotPointSeconds / columns;  // values per pixel column
    if (per_column <= 1) {
        for (std::size_t i = 0; i < values.size(); ++i) {
            if (!std::isfinite(values[i])) {
                flush();
                continue;
            }
            const double x = kLeft + kPlotW * (kPlotPointSeconds * static_cast<double>(i + 1)) / seconds;
            points += format("%.1f,%.1f ", x, pane.y(values[i]));
        }
        flush();
        return out;
    }
    std::size_t i = 0;
    for (int col = 0; col < columns && i < values.size(); ++col) {
        const std::size_t end = std::min(values.size(), static_cast<std::size_t>((col + 1) * per_column));
        double lo = INFINITY, hi = -INFINITY;
        for (; i < end; ++i) {
            if (!std::isfinite(values[i])) continue;
            lo = std::min(lo, values[i]);
            hi = std::max(hi, values[i]);
        }
        if (!(lo <= hi)) {
            flush();
            continue;
        }
        const double x = kLeft + col + 0.5;
        const double y_hi = pane.y(hi), y_lo = pane.y(lo);
        points += format("%.1f,%.1f ", x, y_hi);
        if (std::fabs(y_hi - y_lo) >= 0.1) points += format("%.1f,%.1f ", x, y_lo);
    }
    flush();
    return out;
}

std::string axes(double seconds, const Pane& p) {
    std::string out;
    out += format("<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" fill=\"#fafafa\" stroke=\"#888\"/>\n",
                  kLeft, p.y0, kPlotW, p.h);
    for (double v = p.lo; v <= p.hi + 1e-9; v += p.step) {
        const double y = p.y(v);
        out += format("<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#e2e2e2\"/>\n", kLeft, y,
                      kLeft + kPlotW, y);
        out += format("<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"end\">%.0f</text>\n", kLeft - 6, y + 4, v);
    }
    out += format("<text x=\"14\" y=\"%.1f\" transform=\"rotate(-90 14 %.1f)\" text-anchor=\"middle\">", p.y0 + p.h / 2,
                  p.y0 + p.h / 2) +
           p.unit + "</text>\n";
    // Time ticks at a round step giving at most about ten marks.
    const double steps[] = {1, 2, 5, 10, 15, 30, 60, 120, 300, 600, 900, 1200, 1800, 3600, 7200, 10800};
    double tick = steps[std::size(steps) - 1];
    for (double s : steps)
        if (seconds / s <= 10) {
            tick = s;
            break;
        }
    const bool hours = seconds >= 3600;
    for (double t = 0; t <= seconds + 1e-9; t += tick) {
        const double x = kLeft + kPlotW * t / seconds;
        out += format("<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#e2e2e2\"/>\n", x, p.y0, x,
                      p.y0 + p.h);
        out += format("<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\">", x, p.y0 + p.h + 14) +
               time_label(t, hours) + "</text>\n";
    }
    return out;
}

struct LegendEntry {
    std::string text;
    const char* colour;
    const char* dash;
};

// Swatches and names in the right margin, from the pane's top down.
std::string legend(const Pane& p, const std::vector<LegendEntry>& entries) {
    std::string out;
    double y = p.y0 + 10;
    for (const LegendEntry& e : entries) {
        const double x = kLeft + kPlotW + 14;
        out += format("<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke-width=\"2\"", x, y - 4, x + 18,
                      y - 4) +
               " stroke=\"" + e.colour + "\"" + e.dash + "/>\n";
        out += format("<text class=\"legend\" x=\"%.1f\" y=\"%.1f\" fill=\"#333\">", x + 24, y) + escape(e.text) +
               "</text>\n";
        y += 15;
    }
    return out;
}

// A level across the pane; the legend gives its value.
std::string level_line(const Pane& p, double v, const char* colour, const char* dash) {
    const double y = p.y(v);
    return format("<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke-width=\"1\"", kLeft, y, kLeft + kPlotW,
                  y) +
           " stroke=\"" + colour + "\"" + dash + "/>\n";
}

std::string lufs_text(const char* what, double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s %.1f LUFS", what, v);
    return buf;
}

std::vector<double> to_db(const std::vector<double>& linear) {
    std::vector<double> db(linear.size());
    for (std::size_t i = 0; i < linear.size(); ++i) db[i] = linear[i] > 0 ? 20.0 * std::log10(linear[i]) : -INFINITY;
    return db;
}

constexpr const char* kBandColours[kPlotBands] = {"#8e44ad", "#2980b9", "#27ae60", "#d35400", "#c0392b"};

}  // namespace

std::string time_label(double seconds, bool hours) {
    const long s = std::lround(seconds);
    char buf[32];
    if (hours)
        std::snprintf(buf, sizeof buf, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    else
        std::snprintf(buf, sizeof buf, "%ld:%02ld", s / 60, s % 60);
    return buf;
}

std::string render_plot(const PlotData& d) {
    std::size_t points = std::max({d.input_lufs.size(), d.output_lufs.size(), d.master_gain.size()});
    for (const auto& band : d.band_reduction_db) points = std::max(points, band.size());
    const double seconds = std::max(kPlotPointSeconds * static_cast<double>(points), 1.0);
    const bool gains = !d.master_gain.empty();
    bool bands = false;
    for (const auto& band : d.band_reduction_db) bands |= !band.empty();

    const Pane loud{kTitleH, 280, -70, 0, false, 10, "short-term loudness (LUFS)"};
    const Pane agc{loud.y0 + loud.h + kPaneGap, 130, -20, 30, false, 10, "AGC gain (dB)"};
    const Pane multiband{
        (gains ? agc.y0 + agc.h : loud.y0 + loud.h) + kPaneGap, 130, 0, 20, true, 5, "gain reduction (dB)"};
    const double bottom = bands ? multiband.y0 + multiband.h : gains ? agc.y0 + agc.h : loud.y0 + loud.h;
    const double height = bottom + 46;

    std::string svg = format(
        "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" height=\"%.0f\" viewBox=\"0 0 %.0f %.0f\" "
        "font-family=\"sans-serif\" font-size=\"11\">\n",
        kWidth, height, kWidth, height);
    svg += format("<rect width=\"%.0f\" height=\"%.0f\" fill=\"white\"/>\n", kWidth, height);
    svg += "<text x=\"" + format("%.0f", kLeft) + "\" y=\"24\" font-size=\"14\">" + escape(d.title) + "</text>\n";

    svg += axes(seconds, loud);
    std::vector<LegendEntry> entries = {{"input", "#9a9a9a", ""}, {"output", "#1f5fbf", ""}};
    if (std::isfinite(d.input_integrated_lufs)) {
        svg += level_line(loud, d.input_integrated_lufs, "#7a7a7a", " stroke-dasharray=\"6 4\"");
        entries.push_back({lufs_text("input I", d.input_integrated_lufs), "#7a7a7a", " stroke-dasharray=\"6 4\""});
    }
    if (std::isfinite(d.output_integrated_lufs)) {
        svg += level_line(loud, d.output_integrated_lufs, "#1f5fbf", " stroke-dasharray=\"6 4\"");
        entries.push_back({lufs_text("output I", d.output_integrated_lufs), "#1f5fbf", " stroke-dasharray=\"6 4\""});
    }
    if (d.target_lufs) {
        svg += level_line(loud, *d.target_lufs, "#2e8b57", " stroke-dasharray=\"2 3\"");
        entries.push_back({lufs_text("target", *d.target_lufs), "#2e8b57", " stroke-dasharray=\"2 3\""});
    }
    svg += trace(d.input_lufs, seconds, loud, "#9a9a9a", "");
    svg += trace(d.output_lufs, seconds, loud, "#1f5fbf", "");
    svg += legend(loud, entries);

    if (gains) {
        svg += axes(seconds, agc);
        svg += trace(to_db(d.master_gain), seconds, agc, "#c0392b", "");
        svg += trace(to_db(d.bass_gain), seconds, agc, "#e67e22", " stroke-dasharray=\"4 3\"");
        svg += legend(agc, {{"AGC master", "#c0392b", ""}, {"AGC bass", "#e67e22", " stroke-dasharray=\"4 3\""}});
    }
    if (bands) {
        svg += axes(seconds, multiband);
        std::vector<LegendEntry> band_entries;
        for (int b = 0; b < kPlotBands; ++b) {
            if (d.band_reduction_db[b].empty()) continue;
            svg += trace(d.band_reduction_db[b], seconds, multiband, kBandColours[b], "");
            band_entries.push_back({"band " + std::to_string(b + 1), kBandColours[b], ""});
        }
        svg += legend(multiband, band_entries);
    }
    svg += format("<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\">", kLeft + kPlotW / 2, bottom + 34) +
           (seconds >= 3600 ? "time (h:mm:ss)" : "time (m:ss)") + "</text>\n";
    svg += "</svg>\n";
    return svg;
}

}  // namespace qv::cli
