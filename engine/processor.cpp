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

std::unique_ptr<Processor> make_processor(const ProcessParams& process) {
    const platform::DefaultFpMode mode;
    auto p = std::make_unique<Processor>();
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

int processor_latency_frames(const Processor& p) {
    const platform::DefaultFpMode mode;
    return latency_frames_for(p.settings);
}

ProcessorReadings processor_readings(const Processor& p) {
    const platform::DefaultFpMode mode;
    const Readings& r = p.chain.readings;
    ProcessorReadings out{};
    out.input_peak = read_word(r.input_peak);
    out.output_peak = read_word(r.output_peak);
    out.master_agc_gain = read_word(r.master_agc_gain);
    out.bass_agc_gain = read_word(r.bass_agc_gain);
    out.agc_gated = read_word(r.agc_gated) != 0;
    for (int b = 0; b < kBands; ++b) out.band_composite_gain[b] = read_word(r.band_composite_gain[b]);
    out.clip_peak_in = read_word(r.clip_peak_in);
    out.clip_peak_out = read_word(r.clip_peak_out);
    out.bass_clip_peak = read_word(r.bass_clip_peak);
    out.stereo_activity = read_word(r.stereo_activity);
    out.stereo_image_peak = read_word(r.stereo_image_peak);
    return out;
}

ProcessorReadings processor_take_readings(Processor& p) {
    const platform::DefaultFpMode mode;
    Readings& r = p.chain.readings;
    const auto take = [](double& word) {
        return std::atomic_ref<double>(word).exchange(0.0, std::memory_order_relaxed);
    };
    ProcessorReadings out = processor_readings(p);
    out.input_peak = take(r.input_peak);
    out.output_peak = take(r.output_peak);
    out.clip_peak_in = take(r.clip_peak_in);
    out.clip_peak_out = take(r.clip_peak_out);
    out.bass_clip_peak = take(r.bass_clip_peak);
    out.stereo_activity = take(r.stereo_activity);
    out.stereo_image_peak = take(r.stereo_image_peak);
    return out;
}

void processor_run(Processor& p, std::int16_t* frames, int count, int channels) {
    const platform::ChainFpMode mode;
    modify_samples(p.channel, p.chain, frames, count, 16, channels, 44100);
}

}  // namespace qv
