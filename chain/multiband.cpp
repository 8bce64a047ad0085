#include "chain/multiband.h"

#include <cmath>

#include "chain/gain_inputs.h"
#include "dsp/detectors.h"
#include "dsp/gain_computer.h"

namespace qv {

namespace {
constexpr double kInputScale = 0.8;
constexpr double kInvFullScale = 3.051850947599719e-05;  // 1 / 32767
}  // namespace

void multiband(MultibandState& st, BandGains& bands, BandDelay& d, const ChainParams& s, std::int32_t options,
               bool bypass, Chunk& x, int count) {
    const DerivedValues& dv = s.derived;

    // Split and detect (channel 0 = right).
    double band_signal[kChunkFrames][kMultibandBands][2];
    double level[kMultibandBands][kChunkFrames];
    const bool four_bands = (options & option::four_bands) != 0;
    for (int n = 0; n < count; ++n) {
        const double mb_input[2] = {kInputScale * x.right[n], kInputScale * x.left[n]};
        double(&signal)[kMultibandBands][2] = band_signal[n];
        split_bands(st.split, four_bands, mb_input, signal);
        if (options & option::track_rms) {
            for (int k = 0; k < kMultibandBands; ++k)
                level[k][n] = rms_level(std::fabs(signal[k][0]), std::fabs(signal[k][1]), st.rms_state[k], k);
        } else {
            for (int k = 0; k < kMultibandBands; ++k) level[k][n] = peak_level(signal[k][0], signal[k][1]);
        }
    }

    // The gain computers, one band at a time.
    double composite[kMultibandBands][kChunkFrames];
    const GainInputs in = band_gain_inputs(s, 0);
    for (int k = 0; k < kMultibandBands; ++k)
        compute_band_gain_run(bands, s.section_coefs, in, k, level[k], x.agc_gated, composite[k], count);

    double(&gain)[kBands] = bands.band_composite_gain;
    for (int n = 0; n < count; ++n) {
        for (int k = 0; k < kMultibandBands; ++k) gain[k] = composite[k][n];
        // Outward from band 1, which the link never changes; each step uses the
        // result of the one before.
        link_gains(gain[1], gain[0], dv.band_link_12_pct);
        link_gains(gain[1], gain[2], dv.band_link_32_pct);
        link_gains(gain[2], gain[3], dv.band_link_43_pct);
        link_gains(gain[3], gain[4], dv.band_link_54_pct);

        if (bypass) continue;

        advance_ring(d, dv.lookahead_samples);
        x.ring_slot[n] = d.ring_index;
        double(&slot)[2][kBands] = d.delay_ring[d.ring_index];
        const double depth = dv.multiband_depth;

        double band_output[kMultibandBands][2];
        for (int k = 0; k < kMultibandBands; ++k) {
            gain[k] = gain[k] * depth + (1 - depth);  // 0 %: unity, 100 %: the computed gain
            const double smooth = smooth_band_gain(gain[k], d.band_smooth_gain[k]);
            d.band_smooth_gain[k] = smooth;
            const double band_level = s.band_gain_level[k];
            for (int c = 0; c < 2; ++c) {
                const double old = exchange(slot[c][k], smooth * band_signal[n][k][c]);
                band_output[k][c] = band_level * old * kInvFullScale;
            }
        }

        x.right[n] = band_output[0][0] - band_output[1][0] + band_output[2][0] - band_output[3][0] + band_output[4][0];
        x.left[n] = band_output[0][1] - band_output[1][1] + band_output[2][1] - band_output[3][1] + band_output[4][1];
    }
}

}  // namespace qv
