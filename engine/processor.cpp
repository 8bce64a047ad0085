#include "engine/processor.h"

#include "chain/output_filter.h"
#include "chain/sample_loop.h"
#include "chain/stereo_expander.h"
#include "chain/test_tone.h"
#include "platform/fp_mode.h"
#include "settings/derive.h"

namespace qv {

namespace {

void adopt(Settings& s, const ProcessParams& process) {
    s.live = process;
    derive_loaded_process(s);
    recompute_all(s);
}

}  // namespace

std::unique_ptr<Processor> make_processor(const ProcessParams& process, const ProcessorOptions& options) {
    const platform::DefaultFpMode mode;
    auto p = std::make_unique<Processor>();
    ceiling_start(p->ceiling, options.ceiling, options.ceiling_dbtp);
    build_test_tone_table(p->chain.tone);
    build_fir_taps(p->chain.output);
    clear_stereo_expander(p->chain.expander);
    processor_load(*p, process);
    return p;
}

void processor_load(Processor& p, const ProcessParams& process) {
    const platform::DefaultFpMode mode;
    adopt(p.settings, process);
    reset_switches(p.settings);
    request_memory_reset(p.settings);
    publish_params(p.channel, p.settings);
}

void processor_update(Processor& p, const ProcessParams& process) {
    const platform::DefaultFpMode mode;
    // The switches the panel owns (mutes, test tone) are not part of a
    // process and stay as they are.
    adopt(p.settings, process);
    publish_params(p.channel, p.settings);
}

void processor_set_test_tone(Processor& p, bool on) {
    const platform::DefaultFpMode mode;
    p.settings.test_tone_on = on ? 1 : 0;
    publish_params(p.channel, p.settings);
}

void processor_publish(Processor& p) {
    const platform::DefaultFpMode mode;
    publish_params(p.channel, p.settings);
}

void processor_set_ceiling(Processor& p, double dbtp) {
    const platform::DefaultFpMode mode;
    ceiling_set_dbtp(p.ceiling, dbtp);
}

int processor_latency_frames(const Processor& p) {
    const platform::DefaultFpMode mode;
    return latency_frames_for(p.settings) + (p.ceiling.on ? kTruePeakLatencyFrames : 0);
}

namespace {

// The readings, each peak (and the stereo activity) through peak(word), the
// gains and the gate flag read as they stand.
template <typename Words, typename Peak>
ProcessorReadings readings_of(Words& r, Peak peak) {
    ProcessorReadings out{};
    out.input_peak = peak(r.input_peak);
    out.output_peak = peak(r.output_peak);
    out.master_agc_gain = read_word(r.master_agc_gain);
    out.bass_agc_gain = read_word(r.bass_agc_gain);
    out.agc_gated = read_word(r.agc_gated) != 0;
    for (int b = 0; b < kBands; ++b) out.band_composite_gain[b] = read_word(r.band_composite_gain[b]);
    out.clip_peak_in = peak(r.clip_peak_in);
    out.clip_peak_out = peak(r.clip_peak_out);
    out.bass_clip_peak = peak(r.bass_clip_peak);
    out.stereo_activity = peak(r.stereo_activity);
    out.stereo_image_peak = peak(r.stereo_image_peak);
    return out;
}

}  // namespace

ProcessorReadings processor_readings(const Processor& p) {
    const platform::DefaultFpMode mode;
    ProcessorReadings out = readings_of(p.chain.readings, [](const double& word) { return read_word(word); });
    out.ceiling_gain = read_word(p.ceiling.gain_low);
    return out;
}

ProcessorReadings processor_take_readings(Processor& p) {
    const platform::DefaultFpMode mode;
    ProcessorReadings out = readings_of(p.chain.readings, [](double& word) {
        return std::atomic_ref<double>(word).exchange(0.0, std::memory_order_relaxed);
    });
    out.ceiling_gain = std::atomic_ref<double>(p.ceiling.gain_low).exchange(1.0, std::memory_order_relaxed);
    return out;
}

void processor_run(Processor& p, std::int16_t* frames, int count, int channels) {
    const platform::ChainFpMode mode;
    modify_samples(p.channel, p.chain, frames, count, 16, channels, 44100);
    ceiling_run(p.ceiling, frames, count, channels);
}

}  // namespace qv
