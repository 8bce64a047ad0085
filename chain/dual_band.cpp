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

void dual_band(DualBandState& st, BandGains& bands, BandDelay& d, const ChainParams& s, Readings& r, Chunk& x,
               int count) {
    // Crossover and drive; [n][0] right, [n][1] left.
    double high[kChunkFrames][2], low[kChunkFrames][2];
    double level[2][kChunkFrames];  // [0] high, [1] low
    const double drive = s.derived.density_gain;
    for (int n = 0; n < count; ++n) {
        double hr = x.right[n], hl = x.left[n];
        double lr = x.right[n], ll = x.left[n];
        process_biquad(kCrossoverHigh, st.crossover_high, hr, hl);
        process_biquad(kCrossoverLow, st.crossover_low, lr, ll);
        hr *= drive;
        hl *= drive;
        lr *= drive;
        ll *= drive;
        high[n][0] = hr;
        high[n][1] = hl;
        low[n][0] = lr;
        low[n][1] = ll;
        level[0][n] = peak_level(hr, hl);
        level[1][n] = peak_level(lr, ll);
    }

    double composite[2][kChunkFrames];
    const GainInputs in = band_gain_inputs(s, 0);
    compute_band_gain_run(bands, s.section_coefs, in, kHigh, level[0], x.agc_gated, composite[0], count);
    compute_band_gain_run(bands, s.section_coefs, in, kLow, level[1], x.agc_gated, composite[1], count);

    double(&smooth)[kBands] = d.band_smooth_gain;
    const double clip_drive = s.derived.clip_drive_pct;
    double peak = 0;
    for (int n = 0; n < count; ++n) {
        smooth[kLow] = smooth_band_gain(composite[1][n], smooth[kLow]);
        smooth[kHigh] = smooth_band_gain(composite[0][n], smooth[kHigh]);

        // The ring index is bounded by advance_ring whenever it is written.
        double(&ring)[2][kBands] = d.delay_ring[x.ring_slot[n]];
        const double olr = exchange(ring[0][kLow], low[n][0]);
        const double ohr = exchange(ring[0][kHigh], high[n][0]);
        const double oll = exchange(ring[1][kLow], low[n][1]);
        const double ohl = exchange(ring[1][kHigh], high[n][1]);

        // High band subtracted: with this crossover the difference has no notch at
        // 6 kHz (a +3 dB rise instead).
        x.right[n] = (smooth[kLow] * olr - smooth[kHigh] * ohr) * clip_drive * 0.01;
        x.left[n] = (smooth[kLow] * oll - smooth[kHigh] * ohl) * clip_drive * 0.01;
        const double p = peak_level(x.right[n], x.left[n]);
        if (p > peak) peak = p;
    }
    raise_peak(r.clip_peak_in, peak);
}

}  // namespace qv
