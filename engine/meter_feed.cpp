#include "engine/meter_feed.h"

#include <cmath>

#include "engine/meter_scales.h"
#include "platform/fp_mode.h"

namespace qv {

namespace {

// A bar's position: truncated toward zero, then clamped into its range as
// the panel's progress bars clamp; NaN shows 0.
int bar(double v, int max) {
    if (!(v == v) || v <= 0.0) return 0;
    if (v >= max) return max;
    return static_cast<int>(v);
}

int agc_db(double gain) { return gain > 0.0 ? bar(20.0 * std::log10(gain), kAgcMeterMax) : 0; }

// A taken peak joins the held one: the chain would have raised the panel's
// decayed word the same way.
double held_peak(double taken, double hold) { return taken > hold ? taken : hold; }

}  // namespace

MeterFrame meter_feed_tick(Processor& p, MeterHolds& h, bool bypass_all, bool no_clipper) {
    const platform::DefaultFpMode mode;
    const ProcessorReadings r = processor_take_readings(p);
    MeterFrame f{};
    f.agc_gated = r.agc_gated;
    f.agc_master_db = agc_db(r.master_agc_gain);
    f.agc_bass_db = agc_db(r.bass_agc_gain);
    f.agc_master_gain = r.master_agc_gain;
    f.agc_bass_gain = r.bass_agc_gain;
    f.ceiling_gain = r.ceiling_gain;

    // The stereo activity is written, not raised, by the chain: 0 after a take
    // means no frame wrote it since.
    const bool activity_written = r.stereo_activity > 0.0;
    if (bypass_all) {
        // The panel neither shows nor decays these under Bypass All.
        h.image = held_peak(r.stereo_image_peak, h.image);
        if (activity_written) h.activity = r.stereo_activity;
        h.clip_in = held_peak(r.clip_peak_in, h.clip_in);
        h.clip_out = held_peak(r.clip_peak_out, h.clip_out);
        h.bass_clip = held_peak(r.bass_clip_peak, h.bass_clip);
    } else {
        for (int k = 0; k < kMultibandBands; ++k)
            f.band[k] = bar(kBandMeterMax * r.band_composite_gain[k], kBandMeterMax);

        double image = held_peak(r.stereo_image_peak, h.image);
        if (image > kImageMeterMax) image = kImageMeterMax;
        f.image = bar(image, kImageMeterMax);
        h.image = image * kMeterPeakDecay;
        const double activity = activity_written ? r.stereo_activity : h.activity;
        f.activity = bar(std::fmin(1000.0, 1000.0 * activity), kActivityMeterMax);
        h.activity = activity * kMeterPeakDecay;

        const double in = held_peak(r.clip_peak_in, h.clip_in);
        const double out = held_peak(r.clip_peak_out, h.clip_out);
        const double depth = std::fabs(in - out);
        if (depth > h.clip_depth) h.clip_depth = depth;
        double bass = held_peak(r.bass_clip_peak, h.bass_clip);
        if (bass >= kClipMeterMax) bass = kClipMeterMax;
        if (h.clip_depth >= kClipMeterMax) h.clip_depth = kClipMeterMax;
        f.clip_depth = no_clipper ? 0 : bar(h.clip_depth, kClipMeterMax);
        f.bass_clip = no_clipper ? 0 : bar(bass, kClipMeterMax);
        h.bass_clip = bass * kMeterPeakDecay;
        h.clip_out = out * kMeterPeakDecay;
        h.clip_in = in * kMeterPeakDecay;
        h.clip_depth *= kMeterPeakDecay;
    }

    double in = held_peak(r.input_peak, h.input);
    if (in > kLevelMeterMax) in = kLevelMeterMax;
    const double out = held_peak(r.output_peak, h.output);
    f.input = bar(in, kLevelMeterMax);
    f.output = bar(out, kLevelMeterMax);
    h.input = in * kMeterPeakDecay;
    h.output = out * kMeterPeakDecay;
    return f;
}

}  // namespace qv
