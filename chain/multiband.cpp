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
               std::int32_t agc_gated, bool bypass, double& left, double& right) {
    const DerivedValues& dv = s.derived;

    const double mb_input[2] = {kInputScale * right, kInputScale * left};
    double band_signal[kMultibandBands][2];
    split_bands(st.split, (options & option::four_bands) != 0, mb_input, band_signal);

    if (options & option::track_rms) {
        for (int k = 0; k < kMultibandBands; ++k)
            bands.band_level[k] =
                rms_level(std::fabs(band_signal[k][0]), std::fabs(band_signal[k][1]), st.rms_state[k], k);
    } else {
        for (int k = 0; k < kMultibandBands; ++k)
            bands.band_level[k] = peak_level(band_signal[k][0], band_signal[k][1]);
    }

    compute_band_gains(bands, s.section_coefs, band_gain_inputs(s, agc_gated), 0, kMultibandBands - 1);

    // Outward from band 1, which the link never changes; each step uses the
    // result of the one before.
    double(&gain)[kBands] = bands.band_composite_gain;
    link_gains(gain[1], gain[0], dv.band_link_12_pct);
    link_gains(gain[1], gain[2], dv.band_link_32_pct);
    link_gains(gain[2], gain[3], dv.band_link_43_pct);
    link_gains(gain[3], gain[4], dv.band_link_54_pct);

    if (bypass) return;

    advance_ring(d, dv.lookahead_samples);
    double(&slot)[2][kBands] = d.delay_ring[d.ring_index];
    const double depth = dv.multiband_depth;

    double band_output[kMultibandBands][2];
    for (int k = 0; k < kMultibandBands; ++k) {
        gain[k] = gain[k] * depth + (1 - depth);  // 0 %: unity, 100 %: the computed gain
        const double smooth = smooth_band_gain(gain[k], d.band_smooth_gain[k]);
        d.band_smooth_gain[k] = smooth;
        const double level = s.band_gain_level[k];
        for (int c = 0; c < 2; ++c) {
            const double old = exchange(slot[c][k], smooth * band_signal[k][c]);
            band_output[k][c] = level * old * kInvFullScale;
        }
    }

    right = band_output[0][0] - band_output[1][0] + band_output[2][0] - band_output[3][0] + band_output[4][0];
    left = band_output[0][1] - band_output[1][1] + band_output[2][1] - band_output[3][1] + band_output[4][1];
}

}  // namespace qv
