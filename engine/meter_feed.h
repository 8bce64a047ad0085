#pragma once
// Meter positions for a panel outside the process (the web control): the
// Win32 panel's bars, with its scales and its per-tick decay, computed from
// take-and-reset reads of a processor's readings. The decayed values live
// here, never in the chain's memory. Call meter_feed_tick once every
// kMeterTickMs from one thread.
#include "engine/meter_scales.h"
#include "engine/processor.h"

namespace qv {

// The bars' full-scale positions and the tick period, for a page that draws them.
struct MeterScales {
    int level, agc_db, band, image, activity, clip, tick_ms;
};
constexpr MeterScales kMeterScales{kLevelMeterMax,    kAgcMeterMax,  kBandMeterMax, kImageMeterMax,
                                   kActivityMeterMax, kClipMeterMax, kMeterTickMs};

// Positions as the panel's bars show them: clamped into 0..max of the bar's
// range (engine/meter_scales.h).
struct MeterFrame {
    int input;          // 0..kLevelMeterMax
    int output;         // 0..kLevelMeterMax
    int agc_master_db;  // 0..kAgcMeterMax
    int agc_bass_db;    // 0..kAgcMeterMax
    bool agc_gated;
    int band[kMultibandBands];  // 0..kBandMeterMax, composite gain of bands 1..5
    int clip_depth;             // "Mb": multiband clip depth, held; 0..kClipMeterMax
    int bass_clip;              // "Bb"; 0..kClipMeterMax
    int image;                  // 0..kImageMeterMax
    int activity;               // 0..kActivityMeterMax
    // For numbers beside the bars, as taken: the AGC gains (linear, 0 under
    // Bypass All) and the ceiling's lowest gain since the last tick (1 = none
    // or no ceiling).
    double agc_master_gain;
    double agc_bass_gain;
    double ceiling_gain;
};

// The feed's own decayed copies, 16-bit scale (activity: linear gain).
struct MeterHolds {
    double input = 0.0;
    double output = 0.0;
    double image = 0.0;
    double activity = 0.0;
    double clip_in = 0.0;
    double clip_out = 0.0;
    double bass_clip = 0.0;
    double clip_depth = 0.0;
};

// One tick. bypass_all and no_clipper are the on-air process's switches,
// read by the caller on the control side.
MeterFrame meter_feed_tick(Processor& p, MeterHolds& holds, bool bypass_all, bool no_clipper);

}  // namespace qv
