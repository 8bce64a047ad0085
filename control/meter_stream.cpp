#include "control/meter_stream.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace qv::control {

namespace {

// A muted band reads 0: its reduction is shown as this deep.
constexpr double kDeepestReductionDb = 60.0;

double gain_db(double gain) { return gain > 0.0 ? 20.0 * std::log10(gain) : -INFINITY; }

std::string loudness_json(const MonitorReading* m) {
    if (m == nullptr) return "null";
    const LoudnessReading& l = m->loudness;
    return "{\"momentary\":" + json_number(l.momentary_lufs, 1) +
           ",\"short_term\":" + json_number(l.short_term_lufs, 1) +
           ",\"integrated\":" + json_number(l.integrated_lufs, 1) +
           ",\"true_peak\":" + json_number(l.true_peak_dbtp, 1) +
           ",\"since_s\":" + json_number(static_cast<double>(l.frames) / 44100.0, 0) + "}";
}

std::string alarm_json(const MonitorReading* m) {
    if (m == nullptr) return "null";
    return std::string("{\"active\":") + (m->dead_air ? "true" : "false") +
           ",\"quiet_s\":" + json_number(m->quiet_s, 1) + "}";
}

std::string point_json(const LoudnessHistory& h) {
    const HistoryPoint& p = h.points[(h.count - 1) % kHistoryPoints];
    return "{\"seq\":" + std::to_string(h.count) + ",\"short_term_lufs\":" + json_number(p.short_term_lufs, 1) +
           ",\"gain_reduction_db\":" + json_number(p.gain_reduction_db, 1) + "}";
}

}  // namespace

std::string json_number(double v, int decimals) {
    if (!std::isfinite(v)) return "null";
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, v);
    return text;
}

double band_reduction_db(const MeterTick& tick) {
    if (tick.bypass) return 0.0;
    const int lowest = *std::min_element(std::begin(tick.frame.band), std::end(tick.frame.band));
    if (lowest <= 0) return kDeepestReductionDb;
    return std::min(kDeepestReductionDb, -gain_db(lowest / static_cast<double>(kBandMeterMax)));
}

bool history_tick(LoudnessHistory& h, const MeterTick& tick, double short_term_lufs) {
    h.worst_db = std::max(h.worst_db, band_reduction_db(tick));
    if (++h.ticks < kTicksPerPoint) return false;
    h.points[h.count % kHistoryPoints] = {short_term_lufs, h.worst_db};
    ++h.count;
    h.worst_db = 0.0;
    h.ticks = 0;
    return true;
}

std::string history_json(const LoudnessHistory& h) {
    const std::uint64_t n = std::min<std::uint64_t>(h.count, kHistoryPoints);
    std::string lufs = "[", reduction = "[";
    for (std::uint64_t k = h.count - n; k < h.count; ++k) {
        const HistoryPoint& p = h.points[k % kHistoryPoints];
        const char* comma = k + 1 < h.count ? "," : "";
        lufs += json_number(p.short_term_lufs, 1) + comma;
        reduction += json_number(p.gain_reduction_db, 1) + comma;
    }
    return "{\"seq\":" + std::to_string(h.count) + ",\"period_s\":1,\"short_term_lufs\":" + lufs +
           "],\"gain_reduction_db\":" + reduction + "]}";
}

std::string meter_frame_json(const MeterTick& t, const MonitorReading* m, const LoudnessHistory& h, bool new_point) {
    const MeterFrame& f = t.frame;
    char bars[384];
    std::snprintf(bars, sizeof bars,
                  "{\"in\":%d,\"out\":%d,\"agc_master_db\":%d,\"agc_bass_db\":%d,\"gated\":%s,"
                  "\"bands\":[%d,%d,%d,%d,%d],\"clip_depth\":%d,\"bass_clip\":%d,\"image\":%d,"
                  "\"activity\":%d,\"bypass\":%s",
                  f.input, f.output, f.agc_master_db, f.agc_bass_db, f.agc_gated ? "true" : "false", f.band[0],
                  f.band[1], f.band[2], f.band[3], f.band[4], f.clip_depth, f.bass_clip, f.image, f.activity,
                  t.bypass ? "true" : "false");
    std::string text = bars;
    text += ",\"agc_master_gain_db\":" + json_number(gain_db(f.agc_master_gain), 1);
    text += ",\"agc_bass_gain_db\":" + json_number(gain_db(f.agc_bass_gain), 1);
    text += ",\"ceiling_reduction_db\":" + json_number(std::max(0.0, -gain_db(f.ceiling_gain)), 2);
    text += ",\"loudness\":" + loudness_json(m);
    text += ",\"dead_air\":" + alarm_json(m);
    if (new_point) text += ",\"point\":" + point_json(h);
    return text + "}";
}

std::string meter_scales_event() {
    char scales[256];
    std::snprintf(scales, sizeof scales,
                  "retry: 1000\nevent: scales\ndata: {\"level\":%d,\"agc_db\":%d,\"band\":%d,"
                  "\"image\":%d,\"activity\":%d,\"clip\":%d,\"tick_ms\":%d}\n\n",
                  kMeterScales.level, kMeterScales.agc_db, kMeterScales.band, kMeterScales.image, kMeterScales.activity,
                  kMeterScales.clip, kMeterScales.tick_ms);
    return scales;
}

}  // namespace qv::control
