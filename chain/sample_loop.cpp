#include "chain/sample_loop.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "chain/bass_eq.h"
#include "chain/chunk.h"
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

// A refused block also clears the AGC's gate flag.
void refuse_format(ChainState& c) {
    Readings& r = c.readings;
    c.agc.gated = 0;
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
        refuse_format(c);
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
    const StereoExpanderParams expander = {s.derived.stereo_depth_samples, s.derived.stereo_level_pct,
                                           g.no_stereo_exp == 0 && !bypass};
    Chunk x;
    for (int first = 0; first < numsamples; first += kChunkFrames) {
        const int count = numsamples - first < kChunkFrames ? numsamples - first : kChunkFrames;
        std::int16_t* const frames = samples + static_cast<std::ptrdiff_t>(first) * nch;
        double* const left = x.left;
        double* const right = x.right;

        // 1. Input conversion.
        for (int n = 0; n < count; ++n) {
            const std::int16_t* frame = frames + static_cast<std::ptrdiff_t>(n) * nch;
            left[n] = frame[0];
            if (nch != 2) {
                right[n] = left[n];
            } else if (options & option::mono) {
                const std::int32_t m = (static_cast<std::int32_t>(frame[0]) + frame[1]) >> 1;  // floor of half
                left[n] = m;
                right[n] = m;
            } else {
                right[n] = frame[1];
            }
        }

        // 2. 15 kHz input low-pass (also under Bypass All).
        if (options & option::input_lpf_15k)
            for (int n = 0; n < count; ++n) input_lowpass(c.input, left[n], right[n]);

        // 3. Input peak, seen by the meters and the AGC gate.
        double chunk_input_peak = 0;
        for (int n = 0; n < count; ++n) {
            x.input_peak[n] = peak_level(left[n], right[n]);
            if (x.input_peak[n] > chunk_input_peak) chunk_input_peak = x.input_peak[n];
        }
        raise_peak(r.input_peak, chunk_input_peak);

        // 4. Phase rotator.
        if ((options & option::phase_rotator) && !bypass)
            for (int n = 0; n < count; ++n) rotate_phase(c.input, left[n], right[n]);

        // 5. Stereo expander; its delay line runs every frame, its injection
        //    only with "No Stereo Exp" clear and not bypassed.
        double image_peak = 0;
        for (int n = 0; n < count; ++n) {
            stereo_expand(c.expander, expander, r, left[n], right[n]);
            const double image = std::fabs(right[n] - left[n]);
            if (image > image_peak) image_peak = image;
        }
        raise_peak(r.stereo_image_peak, image_peak);

        // 6. Bass EQ, early position (AM filter on; also under Bypass All).
        if (options & option::am_filter)
            for (int n = 0; n < count; ++n) bass_eq(c.bass_eq, s, options, left[n], right[n]);

        // 7. Two-band gated AGC (detectors and gate run under Bypass All too).
        //    Each frame's gate flag is kept in the chunk for the band gain
        //    computers; under Bypass All the flag is then cleared, so the
        //    next frame's AGC starts from 0.
        for (int n = 0; n < count; ++n) {
            gated_agc(c.agc, s, r, bypass, x.input_peak[n], left[n], right[n]);
            x.agc_gated[n] = c.agc.gated;
            if (bypass) c.agc.gated = 0;
        }
        publish(r.agc_gated, c.agc.gated);

        if (!bypass) {
            // 8. Bass EQ, late position.
            if (!(options & option::am_filter))
                for (int n = 0; n < count; ++n) bass_eq(c.bass_eq, s, options, left[n], right[n]);
            // 9. Overdrive gain.
            for (int n = 0; n < count; ++n) apply_overdrive(s, left[n], right[n]);
            // 10. Pre-emphasis.
            for (int n = 0; n < count; ++n) pre_emphasis(c.emphasis, g, left[n], right[n]);
        }

        // 11. Multiband processor, skipped by "BYPASS"; under Bypass All only
        //     its analysis runs and the frame continues at the test-tone mix.
        const bool multiband_runs = !(options & option::multiband_bypass) || bypass;
        if (multiband_runs)
            multiband(c.multiband, c.bands, c.delay, s, options, bypass, x, count);
        else
            for (int n = 0; n < count; ++n) x.ring_slot[n] = c.delay.ring_index;

        if (!bypass) {
            // 12. Dual-band compressor, then the split-band and final clippers.
            dual_band(c.dual_band, c.bands, c.delay, s, r, x, count);
            for (int n = 0; n < count; ++n) clippers(c.clippers, s, r, left[n], right[n]);
            // 13. Output FIR (pre-emphasis on) or de-emphasis.
            for (int n = 0; n < count; ++n) output_filter(c.output, g.preemphasis_on != 0, left[n], right[n]);
        }

        // 14. Test-tone mix, every frame.
        for (int n = 0; n < count; ++n) mix_test_tone(c.tone, s.test_tone_on, left[n], right[n]);

        // 15. Final soft clip at 32760.
        for (int n = 0; n < count; ++n) final_soft_clip(s, left[n], right[n]);

        // 16. Output level and AM filter.
        if (!bypass)
            for (int n = 0; n < count; ++n) output_level_and_am(c.output_level, s, options, left[n], right[n]);

        // 17. Output conversion and output peak.
        std::int32_t out_peak = 0;
        for (int n = 0; n < count; ++n) {
            std::int16_t* frame = frames + static_cast<std::ptrdiff_t>(n) * nch;
            frame[0] = to_output_sample(left[n]);
            out_peak = std::max(out_peak, std::abs(static_cast<std::int32_t>(frame[0])));
            if (nch == 2) {
                frame[1] = to_output_sample(right[n]);
                out_peak = std::max(out_peak, std::abs(static_cast<std::int32_t>(frame[1])));
            }
        }
        raise_peak(r.output_peak, out_peak);
    }
    publish_band_readings(c.bands, r);
    return numsamples;
}

}  // namespace qv
