#include "chain/sample_loop.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "chain/bass_eq.h"
#include "chain/overdrive.h"
#include "dsp/detectors.h"

namespace qv {

namespace {

// Clamp to +-32760 and truncate toward zero. A non-finite value (which no
// stage should produce) becomes silence rather than undefined behaviour.
inline std::int16_t to_output_sample(double x) {
    if (!std::isfinite(x)) return 0;
    if (x > 32760.0)
        x = 32760.0;
    else if (x < -32760.0)
        x = -32760.0;
    return static_cast<std::int16_t>(x);
}

void refuse_format(Readings& r) {
    publish(r.agc_gated, 0);
    publish(r.master_agc_gain, 0.0);
    publish(r.bass_agc_gain, 0.0);
    set_bits(r.format_status, 0xFF00);
}

// The gain computers' outputs of the block's last frame, for the meters.
void publish_band_readings(const BandGains& bands, Readings& r) {
    for (int b = 0; b < kBands; ++b) {
        for (int k = 0; k < kSections; ++k) publish(r.section_gain[b][k], bands.section[b][k].gain);
        publish(r.band_slow_level[b], bands.slow_envelope[b]);
        publish(r.band_composite_gain[b], bands.band_composite_gain[b]);
    }
}

}  // namespace

void apply_requests(const ChainParams& p, ChainState& c) {
    if (p.memory_reset_count != c.memory_reset_seen) {
        c.memory_reset_seen = p.memory_reset_count;
        // Detectors restart from zero, the AGC at its largest gain.
        BandGains& bands = c.bands;
        for (int b = 0; b < kBands; ++b) {
            for (SectionMemory& m : bands.section[b]) {
                m.envelope = 0;
                m.hold_counter = 0;
            }
            bands.band_composite_gain[b] = 0;
            bands.slow_envelope[b] = 0;
        }
        c.agc.bass_envelope = 1.0;
        c.agc.master_envelope = 1.0;
    }
    if (p.bass_eq_clear_count != c.bass_eq_clear_seen) {
        c.bass_eq_clear_seen = p.bass_eq_clear_count;
        c.bass_eq = BassEqState{};
    }
}

int modify_samples(ParamChannel& channel, ChainState& c, std::int16_t* samples, int numsamples, int bps, int nch,
                   int srate) {
    Readings& r = c.readings;
    if (bps != 16 || srate < 44100 || nch <= 0 || (samples == nullptr && numsamples > 0)) {
        refuse_format(r);
        return numsamples;
    }
    clear_bits(r.format_status, ~0xFF);

    const ChainParams& s = acquire_params(channel);
    apply_requests(s, c);
    load_thresholds(c.bands, s.section_coefs);
    const GlobalParams& g = s.live.global;
    // One parameter set for the whole block: every frame takes the same route.
    const bool bypass = g.bypass_all != 0;
    const std::int32_t options = g.option_flags;
    std::int16_t* frame = samples;
    for (int n = 0; n < numsamples; ++n, frame += nch) {
        double left, right;

        // 1. Input conversion.
        left = frame[0];
        if (nch == 2) {
            if (options & option::mono) {
                const std::int32_t m = (static_cast<std::int32_t>(frame[0]) + frame[1]) >> 1;  // floor of half
                left = m;
                right = m;
            } else {
                right = frame[1];
            }
        } else {
            right = left;
        }

        // 2. 15 kHz input low-pass (also under Bypass All).
        if (options & option::input_lpf_15k) input_lowpass(c.input, left, right);

        // 3. Input peak, seen by the meters and the AGC gate.
        const double frame_input_peak = peak_level(left, right);
        raise_peak(r.input_peak, frame_input_peak);

        // 4. Phase rotator.
        if ((options & option::phase_rotator) && !bypass) rotate_phase(c.input, left, right);

        // 5. Stereo expander; its delay line runs every frame, its injection
        //    only with "No Stereo Exp" clear and not bypassed.
        const StereoExpanderParams expander = {s.derived.stereo_depth_samples, s.derived.stereo_level_pct,
                                               g.no_stereo_exp == 0 && !bypass};
        stereo_expand(c.expander, expander, r, left, right);
        raise_peak(r.stereo_image_peak, std::fabs(right - left));

        // 6. Bass EQ, early position (AM filter on; also under Bypass All).
        if (options & option::am_filter) bass_eq(c.bass_eq, s, options, left, right);

        // 7. Two-band gated AGC (detectors and gate run under Bypass All too).
        gated_agc(c.agc, s, r, bypass, frame_input_peak, left, right);

        if (!bypass) {
            // 8. Bass EQ, late position.
            if (!(options & option::am_filter)) bass_eq(c.bass_eq, s, options, left, right);
            // 9. Overdrive gain.
            apply_overdrive(s, left, right);
            // 10. Pre-emphasis.
            pre_emphasis(c.emphasis, g, left, right);
        }

        // 11. Multiband processor, skipped by "BYPASS"; under Bypass All only
        //     its analysis runs and the frame continues at the test-tone mix.
        bool full_path = !bypass;
        if (!(options & option::multiband_bypass) || bypass)
            full_path = multiband(c.multiband, c.bands, c.delay, s, r, options, bypass, left, right);

        if (full_path) {
            // 12. Dual-band compressor, then the split-band and final clippers.
            dual_band(c.dual_band, c.bands, c.delay, s, r, left, right);
            clippers(c.clippers, s, r, left, right);
            // 13. Output FIR (pre-emphasis on) or de-emphasis.
            output_filter(c.output, g.preemphasis_on != 0, left, right);
        }

        // 14. Test-tone mix, every frame.
        mix_test_tone(c.tone, s.test_tone_on, left, right);

        // 15. Final soft clip at 32760.
        final_soft_clip(s, left, right);

        // 16. Output level and AM filter.
        if (!bypass) output_level_and_am(c.output_level, s, options, left, right);

        // 17. Output conversion and output peak.
        frame[0] = to_output_sample(left);
        std::int32_t out_peak = std::abs(static_cast<std::int32_t>(frame[0]));
        if (nch == 2) {
            frame[1] = to_output_sample(right);
            out_peak = std::max(out_peak, std::abs(static_cast<std::int32_t>(frame[1])));
        }
        raise_peak(r.output_peak, out_peak);
    }
    publish_band_readings(c.bands, r);
    return numsamples;
}

}  // namespace qv
