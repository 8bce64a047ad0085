#pragma once
// What a station's operator watches besides the meters, measured on a thread
// of its own from what the audio thread hands over through a SignalTap: the
// output's loudness (momentary, short-term and integrated LUFS, true peak,
// with libebur128), the dead-air alarm on the input, and whether blocks
// still come. The thread takes the tap every 100 ms; the audio thread never
// waits for it.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "control/signal_tap.h"

namespace qv::control {

// The input counts as dead air once its peaks stayed below below_dbfs for
// after_s seconds.
struct DeadAirRule {
    double below_dbfs = -50.0;
    double after_s = 10.0;
};
constexpr double kDeadAirMinDbfs = -90.0;
constexpr double kDeadAirMaxDbfs = -10.0;
constexpr double kDeadAirMinSeconds = 1.0;
constexpr double kDeadAirMaxSeconds = 3600.0;
// A rule inside those ranges; else false with the fault.
bool dead_air_rule_valid(const DeadAirRule& rule, std::string& error);

// The detector: how long the input has stayed below the rule's level, and
// whether the alarm is on.
struct DeadAirState {
    double quiet_s = 0.0;
    bool dead_air = false;
};
// One stretch of input, its peak and its length, through the detector: the
// alarm begins once the input stayed quiet for the rule's time and ends with
// the first loud stretch. Neither allocates nor waits (an audio thread may
// run it).
void dead_air_advance(DeadAirState& s, const DeadAirRule& rule, double peak_dbfs, double elapsed_s);

// A detector that the front end's audio thread runs on the sample clock
// (the plug-ins, whose silence_s port shows it), read by the monitor instead
// of its own: the rule goes in, the state comes out, each a single word.
struct DeadAirWatch {
    std::atomic<double> below_dbfs{DeadAirRule{}.below_dbfs};
    std::atomic<double> after_s{DeadAirRule{}.after_s};
    std::atomic<double> quiet_s{0.0};
    std::atomic<bool> dead_air{false};
};

// Loudness of the output since the last reset (integrated, true peak) and
// now (momentary over 400 ms, short-term over 3 s). -inf where there is
// nothing to measure yet, or silence.
struct LoudnessReading {
    double momentary_lufs;
    double short_term_lufs;
    double integrated_lufs;
    double true_peak_dbtp;     // the highest since the reset
    std::uint64_t frames;      // measured since the reset
    std::uint64_t from_frame;  // the output frame the reset took effect at
};

struct MonitorReading {
    LoudnessReading loudness;
    double input_peak_dbfs;  // peak of the input in the last pass, -inf for none
    DeadAirRule rule;
    bool dead_air;
    double quiet_s;  // how long the input has stayed below the rule's level
    double uptime_s;
    std::uint64_t blocks;          // blocks the processor played
    double block_age_s;            // since the last block came (since the start before the first)
    std::uint64_t dropped_blocks;  // output blocks the monitor could not measure
};

struct StationMonitor;
// Destroying a monitor stops its thread.
struct StationMonitorStop {
    void operator()(StationMonitor* monitor) const;
};
using StationMonitorPtr = std::unique_ptr<StationMonitor, StationMonitorStop>;

// Starts the thread on tap (which must outlive it; 44.1 kHz output). log
// receives one line per event (dead air begins and ends), from the thread.
// With watch (which must outlive it too) the dead air is the watch's, and
// the rule goes to it; else the monitor detects it on the tap's input peaks.
StationMonitorPtr start_station_monitor(SignalTap& tap, const DeadAirRule& rule,
                                        std::function<void(const std::string&)> log, std::string& error,
                                        DeadAirWatch* watch = nullptr);
MonitorReading monitor_reading(StationMonitor& monitor);
// The integrated loudness and the true peak start again at the next pass.
void monitor_reset_loudness(StationMonitor& monitor);
void monitor_set_dead_air(StationMonitor& monitor, const DeadAirRule& rule);

}  // namespace qv::control
