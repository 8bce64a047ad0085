#pragma once
// What the meter stream (GET /api/meters) sends: one frame of JSON text per
// tick with the bars, their readings in dB, the loudness and the dead-air
// state; and the loudness history beside it, one point a second for ten
// minutes (short-term loudness and the deepest multiband gain reduction).
#include <array>
#include <cstdint>
#include <string>

#include "control/control_target.h"

namespace qv::control {

constexpr int kHistoryPoints = 600;
constexpr int kTicksPerPoint = 1000 / kMeterTickMs;

struct HistoryPoint {
    double short_term_lufs;    // -inf for silence or nothing measured
    double gain_reduction_db;  // deepest of the five bands over the second, >= 0
};

struct LoudnessHistory {
    std::array<HistoryPoint, kHistoryPoints> points{};  // a ring: point k at k % kHistoryPoints
    std::uint64_t count = 0;                            // points ever added
    // The second being gathered.
    double worst_db = 0.0;
    int ticks = 0;
};

// The deepest gain reduction of the multiband bands in one tick, dB >= 0 (0
// under Bypass All, where the bands do not run).
double band_reduction_db(const MeterTick& tick);
// Folds one tick in; true when it completed a second and added a point.
bool history_tick(LoudnessHistory& h, const MeterTick& tick, double short_term_lufs);
// {"seq": points ever added, "period_s": 1, "short_term_lufs": [...],
// "gain_reduction_db": [...]}, oldest first.
std::string history_json(const LoudnessHistory& h);

// One frame; monitor may be null (no loudness). With new_point, the history's
// newest point rides along.
std::string meter_frame_json(const MeterTick& tick, const MonitorReading* monitor, const LoudnessHistory& h,
                             bool new_point);
// The first event of a meter stream: the bars' full-scale positions.
std::string meter_scales_event();

// A number for JSON with `decimals` decimals, "null" when not finite.
std::string json_number(double v, int decimals);

}  // namespace qv::control
