// The 100 ms tick: process selector auto-repeat, title warning, gate
// indicator, meters with the panel-side decay of the chain's peaks, and the
// blinking "E" of an edited process.
#include <cmath>
#include <initializer_list>

#include "engine/meter_scales.h"
#include "panel/panel_internal.h"
#include "panel/texts.h"

namespace qv {

namespace {

// Meters: progress bars with their ranges.
constexpr int kAgcBassMeter = 1036;
constexpr int kAgcMasterMeter = 1149;
constexpr int kImageMeter = 1082;
constexpr int kActivityMeter = 1122;
constexpr int kClipDepthMeter = 1131;  // "Mb": multiband clip depth, held
constexpr int kBassClipMeter = 1132;   // "Bb"
constexpr int kInMeter = 1031;
constexpr int kOutMeter = 1059;
constexpr int kHfMeter = 1071;
constexpr int kLfMeter = 1072;

// Band meters: entry k (0..6) is band k's first meter, entry 7 + k (k = 0..4)
// the second meter of multiband band k.
constexpr int kBandMeters[12] = {1054, 1055, 1056, 1057, 1058, 1071, 1072, 1066, 1117, 1118, 1119, 1120};

struct MeterRange {
    int id;
    int max;  // every range starts at 0
};
constexpr MeterRange kMeterRanges[] = {
    {kAgcBassMeter, kAgcMeterMax},
    {kAgcMasterMeter, kAgcMeterMax},
    {1054, kBandMeterMax},
    {1055, kBandMeterMax},
    {1056, kBandMeterMax},
    {1057, kBandMeterMax},
    {1058, kBandMeterMax},
    {1066, kBandMeterMax},
    {1117, kBandMeterMax},
    {1118, kBandMeterMax},
    {1119, kBandMeterMax},
    {1120, kBandMeterMax},
    {kHfMeter, kBandMeterMax},
    {kLfMeter, kBandMeterMax},
    {kImageMeter, kImageMeterMax},
    {kActivityMeter, kActivityMeterMax},
    {kClipDepthMeter, kClipMeterMax},
    {kBassClipMeter, kClipMeterMax},
    {kInMeter, kLevelMeterMax},
    {kOutMeter, kLevelMeterMax},
};

constexpr double kPeakDecay = kMeterPeakDecay;
constexpr double kMaxClipDepth = kClipMeterMax;
constexpr double kFullScale = kLevelMeterMax;
constexpr int kFormatRefused = 0xFF00;       // high byte: set by the chain while it refuses the format
constexpr int kFormatWarningShown = 0x00FF;  // low byte: set by the panel once the title says so

// Truncation toward zero into a meter position; NaN shows 0 and values
// beyond the int range saturate (the bar clamps into its own range).
int trunc_pos(double v) {
    if (!(v == v)) return 0;
    if (v >= 2147483647.0) return 2147483647;
    if (v <= -2147483648.0) return -2147483647 - 1;
    return static_cast<int>(v);
}

void set_meter(PanelContext& ctx, int id, double value) { platform::set_meter_pos(ctx.dialog, id, trunc_pos(value)); }

int agc_db(double gain) { return gain > 0.0 ? trunc_pos(20.0 * std::log10(gain)) : 0; }

void format_warning(PanelContext& ctx) {
    std::int32_t& status = ctx.readings.format_status;
    const std::int32_t now = read_word(status);
    const bool refused = (now & kFormatRefused) != 0;
    const bool shown = (now & kFormatWarningShown) != 0;
    if (refused == shown) return;
    if (refused) {
        set_bits(status, kFormatWarningShown);
        platform::set_window_text(ctx.dialog, format_message);
    } else {
        clear_bits(status, 0xFF);  // the panel's half
        platform::set_window_text(ctx.dialog, module_description);
    }
}

// A failed save's message leaves the title after its time.
void save_error_expiry(PanelContext& ctx) {
    std::int32_t& ticks = ctx.state.save_error_ticks;
    if (ticks <= 0) return;
    if (--ticks > 0) return;
    const bool warning = (read_word(ctx.readings.format_status) & kFormatWarningShown) != 0;
    platform::set_window_text(ctx.dialog, warning ? format_message : module_description);
}

void band_meters(PanelContext& ctx) {
    const Settings& s = ctx.settings;
    const Readings& r = ctx.readings;
    const int section = selected_section_of(ctx.state);
    for (int k = 0; k < kMultibandBands; ++k) {
        double first, second;
        if (has_option(s.live.global, option::show_composite)) {
            first = second = read_word(r.band_composite_gain[k]);
        } else if (section != kCompressor) {
            first = second = read_word(r.section_gain[k][section]);
        } else {
            first = read_word(r.section_gain[k][kCompressor]);
            second = slow_detector_gain(read_word(r.band_slow_level[k]), s.section_coefs[k][kCompressor]);
        }
        set_meter(ctx, kBandMeters[k], 1000.0 * first);
        set_meter(ctx, kBandMeters[7 + k], 1000.0 * second);
    }
    set_meter(ctx, kHfMeter, 1000.0 * read_word(r.section_gain[5][kCompressor]));
    set_meter(ctx, kLfMeter, 1000.0 * read_word(r.section_gain[6][kCompressor]));
}

void stereo_meters(PanelContext& ctx) {
    Readings& r = ctx.readings;
    double image = read_word(r.stereo_image_peak);
    if (image > kFullScale) {
        image = kFullScale;
        publish(r.stereo_image_peak, image);
    }
    set_meter(ctx, kImageMeter, image);
    publish(r.stereo_image_peak, image * kPeakDecay);

    const double activity = read_word(r.stereo_activity);
    set_meter(ctx, kActivityMeter, std::fmin(1000.0, 1000.0 * activity));
    publish(r.stereo_activity, activity * kPeakDecay);
}

void clip_meters(PanelContext& ctx) {
    Readings& r = ctx.readings;
    double& hold = ctx.state.clip_depth_hold;
    const double in = read_word(r.clip_peak_in);
    const double out = read_word(r.clip_peak_out);
    const double depth = std::fabs(in - out);
    if (depth > hold) hold = depth;
    double bass = read_word(r.bass_clip_peak);
    if (bass >= kMaxClipDepth) bass = kMaxClipDepth;
    if (hold >= kMaxClipDepth) hold = kMaxClipDepth;
    if (ctx.settings.live.global.no_clipper) {
        set_meter(ctx, kClipDepthMeter, 0.0);
        set_meter(ctx, kBassClipMeter, 0.0);
    } else {
        set_meter(ctx, kClipDepthMeter, hold);
        set_meter(ctx, kBassClipMeter, bass);
    }
    publish(r.bass_clip_peak, bass * kPeakDecay);
    publish(r.clip_peak_out, out * kPeakDecay);
    publish(r.clip_peak_in, in * kPeakDecay);
    hold *= kPeakDecay;
}

void level_meters(PanelContext& ctx) {
    Readings& r = ctx.readings;
    double in = read_word(r.input_peak);
    if (in > kFullScale) in = kFullScale;
    const double out = read_word(r.output_peak);  // the bar clamps OUT itself
    set_meter(ctx, kInMeter, in);
    set_meter(ctx, kOutMeter, out);
    publish(r.input_peak, in * kPeakDecay);
    publish(r.output_peak, out * kPeakDecay);
}

// Shows for four ticks and hides for four while the process is edited.
void edited_mark(PanelContext& ctx) {
    PanelState& st = ctx.state;
    if (!ctx.settings.selection.process_modified) {
        platform::set_control_text(ctx.dialog, ctl::kEditedMark, "");
        return;
    }
    platform::set_control_text(ctx.dialog, ctl::kEditedMark, st.blink_state != 0 ? "E" : "");
    if (st.blink_counter == 0) st.blink_state = ~st.blink_state;
    st.blink_counter = (st.blink_counter + 1) & 3;
}

}  // namespace

void forget_format_warning(PanelContext& ctx) {
    std::int32_t& status = ctx.readings.format_status;
    clear_bits(status, kFormatWarningShown);
}

void init_meters(PanelContext& ctx) {
    for (const MeterRange& m : kMeterRanges) {
        platform::set_meter_range(ctx.dialog, m.id, 0, m.max);
        platform::set_meter_step(ctx.dialog, m.id, 0);
    }
}

void panel_timer(PanelContext& ctx) {
    auto_repeat_tick(ctx);
    format_warning(ctx);
    save_error_expiry(ctx);
    platform::set_control_text(ctx.dialog, ctl::kGated, read_word(ctx.readings.agc_gated) ? "GATED" : "");
    platform::set_meter_pos(ctx.dialog, kAgcBassMeter, agc_db(read_word(ctx.readings.bass_agc_gain)));
    platform::set_meter_pos(ctx.dialog, kAgcMasterMeter, agc_db(read_word(ctx.readings.master_agc_gain)));

    if (ctx.settings.live.global.bypass_all) {
        for (int id : kBandMeters) platform::set_meter_pos(ctx.dialog, id, 0);
        for (int id : {kImageMeter, kActivityMeter, kClipDepthMeter, kBassClipMeter})
            platform::set_meter_pos(ctx.dialog, id, 0);
    } else {
        band_meters(ctx);
        stereo_meters(ctx);
        clip_meters(ctx);
    }
    level_meters(ctx);
    edited_mark(ctx);
}

}  // namespace qv
