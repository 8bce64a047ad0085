#include "cli/report/loudness.h"

#include <cmath>
#include <limits>

namespace qv::cli {

namespace {

// The frame count of trace point k: k tenths of a second, rounded.
std::uint64_t point_frame(const LoudnessMeter& m, std::size_t k) {
    return (static_cast<std::uint64_t>(k) * static_cast<std::uint64_t>(m.rate) + 5) / 10;
}

void record_point(LoudnessMeter& m) {
    double lufs = -std::numeric_limits<double>::infinity();
    if (ebur128_loudness_shortterm(m.state, &lufs) != EBUR128_SUCCESS) lufs = -std::numeric_limits<double>::infinity();
    m.short_term.push_back(lufs);
    m.next_point = point_frame(m, m.short_term.size() + 1);
}

// Feeds the frames in pieces that end on the trace points.
template <class Sample, class AddFn>
void add_traced(LoudnessMeter& m, const Sample* samples, std::size_t frames, AddFn add) {
    while (frames > 0) {
        std::size_t piece = frames;
        if (m.trace && m.frames + piece >= m.next_point) piece = static_cast<std::size_t>(m.next_point - m.frames);
        if (piece > 0) add(m.state, samples, piece);
        m.frames += piece;
        samples += piece * static_cast<std::size_t>(m.channels);
        frames -= piece;
        if (m.trace && m.frames == m.next_point) record_point(m);
    }
}

double to_db(double linear) {
    return linear > 0 ? 20.0 * std::log10(linear) : -std::numeric_limits<double>::infinity();
}

}  // namespace

bool meter_open(LoudnessMeter& m, int channels, long rate, bool trace, std::string& error) {
    const int mode = EBUR128_MODE_I | EBUR128_MODE_LRA | EBUR128_MODE_SAMPLE_PEAK | EBUR128_MODE_TRUE_PEAK;
    m.state = ebur128_init(static_cast<unsigned>(channels), static_cast<unsigned long>(rate), mode);
    if (m.state == nullptr) {
        error = "cannot measure loudness at " + std::to_string(rate) + " Hz";
        return false;
    }
    m.channels = channels;
    m.rate = rate;
    m.frames = 0;
    m.trace = trace;
    m.short_term.clear();
    m.next_point = point_frame(m, 1);
    return true;
}

void meter_close(LoudnessMeter& m) {
    if (m.state != nullptr) ebur128_destroy(&m.state);
    m.state = nullptr;
}

void meter_add(LoudnessMeter& m, const float* samples, std::size_t frames) {
    add_traced(m, samples, frames,
               [](ebur128_state* st, const float* s, std::size_t n) { ebur128_add_frames_float(st, s, n); });
}

void meter_add(LoudnessMeter& m, const std::int16_t* samples, std::size_t frames) {
    add_traced(m, samples, frames,
               [](ebur128_state* st, const std::int16_t* s, std::size_t n) { ebur128_add_frames_short(st, s, n); });
}

LoudnessFigures meter_figures(const LoudnessMeter& m) {
    LoudnessFigures f{};
    double sample_peak = 0, true_peak = 0;
    for (int ch = 0; ch < m.channels; ++ch) {
        double v = 0;
        if (ebur128_sample_peak(m.state, static_cast<unsigned>(ch), &v) == EBUR128_SUCCESS && v > sample_peak)
            sample_peak = v;
        if (ebur128_true_peak(m.state, static_cast<unsigned>(ch), &v) == EBUR128_SUCCESS && v > true_peak)
            true_peak = v;
    }
    f.sample_peak_dbfs = to_db(sample_peak);
    f.true_peak_dbtp = to_db(true_peak);
    if (ebur128_loudness_global(m.state, &f.integrated_lufs) != EBUR128_SUCCESS)
        f.integrated_lufs = -std::numeric_limits<double>::infinity();
    if (ebur128_loudness_range(m.state, &f.range_lu) != EBUR128_SUCCESS) f.range_lu = 0;
    return f;
}

}  // namespace qv::cli
