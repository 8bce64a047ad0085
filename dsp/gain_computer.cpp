#include "dsp/gain_computer.h"

#include <bit>
#include <cstdint>

#include "dsp/cr_pow.h"

namespace qv {

namespace {

// Used instead of a release while the level is below the gate: a time
// constant of about 19 s at 44.1 kHz, so the gain stays put through pauses.
constexpr double kGateFreezeCoef = 0.9999988;
// Hold after each expander or limiter attack sample, in samples (not "Hold mSec").
constexpr std::uint32_t kFixedHoldSamples = 500;
// While the compressor's hold still runs, a new attack is five times slower
// (c = 1 - (1 - attack1) * 0.2) and reloads only a fifth of the hold.
constexpr double kReattackSlowdown = 0.2;
constexpr std::uint32_t kReattackHoldDivisor = 5;
// Gain reported for a muted band (-120 dB, not 0).
constexpr double kMutedGain = 1e-6;

// One-pole step env <- (1 - c) * x + c * env; c = 1 freezes the envelope.
inline double smooth(double c, double x, double env) { return (1.0 - c) * x + c * env; }

constexpr std::uint64_t kMemoSalt = 0x7FF8DEADBEEF5A5Aull;  // a NaN: no level has these bits

// (level / threshold)^exponent. Most samples of a band sit at its threshold,
// where the base is 1 and so is any power of it; pow(1, y) is exactly 1, so
// neither the division nor the power is needed there (a base that rounds to 1
// from a level just off the threshold is caught after the division).
// Otherwise the section's last gain is reused when all three inputs are the
// same bits (exact: the division and pow are functions of them).
inline double gain_power(PowMemo& memo, double level, double threshold, double exponent) {
    if (level == threshold) return 1.0;
    const std::uint64_t l = std::bit_cast<std::uint64_t>(level) ^ kMemoSalt;
    const std::uint64_t t = std::bit_cast<std::uint64_t>(threshold);
    const std::uint64_t e = std::bit_cast<std::uint64_t>(exponent);
    if (l == memo.level_key && t == memo.threshold_bits && e == memo.exponent_bits) return memo.result;
    const double base = level / threshold;
    memo.level_key = l;
    memo.threshold_bits = t;
    memo.exponent_bits = e;
    memo.result = base == 1.0 ? 1.0 : cr_pow(base, exponent);
    return memo.result;
}

// The expander's and the limiter's detector: an attack reloads the fixed
// hold, the envelope then stays put until the hold has run out, then releases.
inline void held_detector_step(SectionMemory& m, const SectionCoefs& k, double x) {
    double c;
    if (x > m.envelope) {
        c = k.attack1_coef;
        m.hold_counter = kFixedHoldSamples;
    } else if (m.hold_counter > 0) {
        c = 1.0;
        --m.hold_counter;
    } else {
        c = k.release1_coef;
    }
    m.envelope = smooth(c, x, m.envelope);
}

// One frame of band k: expander, two-detector compressor with hold, limiter, mute.
inline void band_gain_step(BandGains& g, const SectionCoefs (&coefs)[kBands][kSections], const GainInputs& in, int k) {
    const double level = g.band_level[k];
    SectionMemory& ex = g.section[k][kExpander];
    SectionMemory& co = g.section[k][kCompressor];
    SectionMemory& li = g.section[k][kLimiter];
    const SectionCoefs& exc = coefs[k][kExpander];
    const SectionCoefs& coc = coefs[k][kCompressor];
    const SectionCoefs& lic = coefs[k][kLimiter];
    const bool dual = k >= kMultibandBands;

    // Expander (multiband bands only): gain (env / threshold)^exponent below threshold.
    if (dual || in.expander_on == 0) {
        ex.gain = 1.0;
    } else {
        held_detector_step(ex, exc, level);
        const double threshold = g.threshold[k][kExpander];
        ex.gain = ex.envelope < threshold ? gain_power(ex.power, ex.envelope, threshold, exc.ratio_exponent)
                      : 1.0;
    }

    // Compressor: a slow and a fast detector on one threshold and ratio; the deeper gain wins.
    // The dual bands always compress, whatever the switch says.
    if (!dual && in.compressor_on == 0) {
        co.gain = 1.0;
    } else {
        double& slow = g.slow_envelope[k];
        double c = level < in.gate_level ? kGateFreezeCoef : coc.release2_coef;
        if (level > slow) c = coc.attack2_coef;  // an attack overrides the gate
        slow = smooth(c, level, slow);
        const double threshold = g.threshold[k][kCompressor];
        if (threshold > slow) slow = threshold;  // never rests below the threshold

        if (level > co.envelope) {
            if (co.hold_counter < 2u) {
                c = coc.attack1_coef;
                co.hold_counter = static_cast<std::uint32_t>(coc.hold_samples);
            } else {
                c = 1.0 - (1.0 - coc.attack1_coef) * kReattackSlowdown;
                co.hold_counter = static_cast<std::uint32_t>(coc.hold_samples) / kReattackHoldDivisor;
            }
        } else if (co.hold_counter > 0) {
            c = 1.0;
            --co.hold_counter;
        } else if (in.independent_gate) {
            c = level < in.gate_level ? kGateFreezeCoef : coc.release1_coef;
        } else if (in.agc_gated) {
            c = kGateFreezeCoef;
        } else {
            c = coc.release1_coef;
        }
        co.envelope = smooth(c, level, co.envelope);
        if (co.envelope < threshold) co.envelope = threshold;
        // min(pow(slow / t, e), pow(env / t, e)) with e <= 0 (ratio >= 1:1)
        // and both bases >= 1: one power of the larger base.
        const double deeper = slow > co.envelope ? slow : co.envelope;
        co.gain = gain_power(co.power, deeper, threshold, coc.ratio_exponent);
    }

    // Limiter on the level after expander and compressor; its detector runs for every band
    // so that switching it on starts from a current envelope.
    const double gain = ex.gain * co.gain;
    const double x = level * gain;
    held_detector_step(li, lic, x);
    li.gain =
        (g.threshold[k][kLimiter] < li.envelope && !dual && in.limiter_on) ? g.threshold[k][kLimiter] / li.envelope
                                                                           : 1.0;

    // Written once, so a meter reading it from another thread never sees a partial product.
    // A muted band's envelopes and counters keep running.
    g.band_composite_gain[k] = in.band_active[k] == 0 ? kMutedGain : gain * li.gain;
}

}  // namespace

void compute_band_gains(BandGains& g, const SectionCoefs (&coefs)[kBands][kSections], const GainInputs& in,
                        int first, int last) {
    if (first < 0) first = 0;
    if (last > kBands - 1) last = kBands - 1;
    for (int k = first; k <= last; ++k) band_gain_step(g, coefs, in, k);
}

void compute_band_gain_run(BandGains& g, const SectionCoefs (&coefs)[kBands][kSections], GainInputs in, int band,
                           const double* level, const std::int32_t* agc_gated, double* composite_gain, int count) {
    for (int n = 0; n < count; ++n) {
        g.band_level[band] = level[n];
        in.agc_gated = agc_gated[n];
        band_gain_step(g, coefs, in, band);
        composite_gain[n] = g.band_composite_gain[band];
    }
}

void load_thresholds(BandGains& g, const SectionCoefs (&coefs)[kBands][kSections]) {
    for (int b = 0; b < kBands; ++b)
        for (int s = 0; s < kSections; ++s) g.threshold[b][s] = coefs[b][s].threshold_level;
}

double slow_detector_gain(double slow_envelope, const SectionCoefs& compressor) {
    const double base = slow_envelope / compressor.threshold_level;
    return base == 1.0 ? 1.0 : cr_pow(base, compressor.ratio_exponent);
}

}  // namespace qv
