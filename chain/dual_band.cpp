#include "chain/dual_band.h"

#include "chain/gain_inputs.h"
#include "dsp/detectors.h"
#include "dsp/gain_computer.h"

namespace qv {

namespace {
// Second-order Butterworth pair at 6 kHz, 44.1 kHz (b0, b1, b2, a1, a2).
constexpr BiquadCoefs kCrossoverHigh = {0.540049956942366, -1.080099913884733, 0.540049956942366, -0.855989502672595,
                                        0.30421032509687};
constexpr BiquadCoefs kCrossoverLow = {0.112055205606069, 0.224110411212137, 0.112055205606069, -0.855989502672595,
                                       0.30421032509687};
constexpr int kHigh = kDualHighBand;
constexpr int kLow = kDualLowBand;
}  // namespace

void dual_band(DualBandState& st, BandGains& bands, BandDelay& d, std::int32_t slot, const ChainParams& s,
               std::int32_t agc_gated, Readings& r, double& left, double& right) {
    double hr = right, hl = left;
    double lr = right, ll = left;
    process_biquad(kCrossoverHigh, st.crossover_high, hr, hl);
    process_biquad(kCrossoverLow, st.crossover_low, lr, ll);
    const double drive = s.derived.density_gain;
    hr *= drive;
    hl *= drive;
    lr *= drive;
    ll *= drive;

    bands.band_level[kHigh] = peak_level(hr, hl);
    bands.band_level[kLow] = peak_level(lr, ll);
    compute_band_gains(bands, s.section_coefs, band_gain_inputs(s, agc_gated), kHigh, kLow);

    double(&smooth)[kBands] = d.band_smooth_gain;
    smooth[kLow] = smooth_band_gain(bands.band_composite_gain[kLow], smooth[kLow]);
    smooth[kHigh] = smooth_band_gain(bands.band_composite_gain[kHigh], smooth[kHigh]);

    // The ring index is bounded by advance_ring whenever it is written.
    double(&ring)[2][kBands] = d.delay_ring[slot];
    const double olr = exchange(ring[0][kLow], lr);
    const double ohr = exchange(ring[0][kHigh], hr);
    const double oll = exchange(ring[1][kLow], ll);
    const double ohl = exchange(ring[1][kHigh], hl);

    // High band subtracted: with this crossover the difference has no notch at
    // 6 kHz (a +3 dB rise instead).
    const double clip_drive = s.derived.clip_drive_pct;
    right = (smooth[kLow] * olr - smooth[kHigh] * ohr) * clip_drive * 0.01;
    left = (smooth[kLow] * oll - smooth[kHigh] * ohl) * clip_drive * 0.01;

    raise_peak(r.clip_peak_in, peak_level(right, left));
}

}  // namespace qv
