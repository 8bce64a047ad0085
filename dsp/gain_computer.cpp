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

// The compressor's fast detector: attack with hold (a re-attack during the
// hold is slower and reloads a fifth of it), then the gate's freeze or the
// release. Never rests below the threshold.
inline void compressor_fast_step(SectionMemory& co, const SectionCoefs& coc, const GainInputs& in,
                                 std::int32_t agc_gated, double level, double threshold) {
    double c;
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
    } else if (agc_gated) {
        c = kGateFreezeCoef;
    } else {
        c = coc.release1_coef;
    }
    co.envelope = smooth(c, level, co.envelope);
    if (co.envelope < threshold) co.envelope = threshold;
}

// The compressor's slow detector: an attack overrides the gate's freeze.
// Never rests below the threshold.
inline void compressor_slow_step(double& slow, const SectionCoefs& coc, const GainInputs& in, double level,
                                 double threshold) {
    double c = level < in.gate_level ? kGateFreezeCoef : coc.release2_coef;
    if (level > slow) c = coc.attack2_coef;
    slow = smooth(c, level, slow);
    if (threshold > slow) slow = threshold;
}

// Up to kGainRunFrames frames of band k. The sections' detectors run first
// for every frame, then their powers, then the limiter, which reads both:
// the powers of neighbouring frames do not wait for each other, nor for a
// decision that hangs on one of them.
void band_gain_run(BandGains& g, const SectionCoefs (&coefs)[kBands][kSections], const GainInputs& in, int k,
                   const double* level, const std::int32_t* agc_gated, double* composite_gain, int count) {
    SectionMemory& ex = g.section[k][kExpander];
    SectionMemory& co = g.section[k][kCompressor];
    SectionMemory& li = g.section[k][kLimiter];
    const SectionCoefs& exc = coefs[k][kExpander];
    const SectionCoefs& coc = coefs[k][kCompressor];
    const SectionCoefs& lic = coefs[k][kLimiter];
    const bool dual = k >= kMultibandBands;
    // The expander works on the multiband bands only; the dual bands always
    // compress, whatever the switch says.
    const bool expander = !dual && in.expander_on != 0;
    const bool compressor = dual || in.compressor_on != 0;
    const bool limiter = !dual && in.limiter_on != 0;

    double expander_gain[kGainRunFrames];
    double compressor_gain[kGainRunFrames];
    for (int n = 0; n < count; ++n) expander_gain[n] = compressor_gain[n] = 1.0;

    // Expander: gain (env / threshold)^exponent below threshold.
    if (expander) {
        const double threshold = g.threshold[k][kExpander];
        double envelope[kGainRunFrames];
        for (int n = 0; n < count; ++n) {
            held_detector_step(ex, exc, level[n]);
            envelope[n] = ex.envelope;
        }
        for (int n = 0; n < count; ++n)
            if (envelope[n] < threshold)
                expander_gain[n] = gain_power(ex.power, envelope[n], threshold, exc.ratio_exponent);
    }

    // Compressor: a slow and a fast detector on one threshold and ratio; the
    // deeper gain wins: min(pow(slow / t, e), pow(env / t, e)) with e <= 0
    // (ratio >= 1:1) and both bases >= 1 is one power of the larger base.
    if (compressor) {
        const double threshold = g.threshold[k][kCompressor];
        double deeper[kGainRunFrames];
        double& slow = g.slow_envelope[k];
        for (int n = 0; n < count; ++n) {
            compressor_slow_step(slow, coc, in, level[n], threshold);
            compressor_fast_step(co, coc, in, agc_gated[n], level[n], threshold);
            deeper[n] = slow > co.envelope ? slow : co.envelope;
        }
        for (int n = 0; n < count; ++n)
            compressor_gain[n] = gain_power(co.power, deeper[n], threshold, coc.ratio_exponent);
    }

    // Limiter on the level after expander and compressor; its detector runs
    // for every band so that switching it on starts from a current envelope.
    // A muted band's envelopes and counters keep running.
    const double limit = g.threshold[k][kLimiter];
    double limiter_gain = 1.0;
    for (int n = 0; n < count; ++n) {
        const double gain = expander_gain[n] * compressor_gain[n];
        const double x = level[n] * gain;
        held_detector_step(li, lic, x);
        limiter_gain = (limit < li.envelope && limiter) ? limit / li.envelope : 1.0;
        composite_gain[n] = in.band_active[k] == 0 ? kMutedGain : gain * limiter_gain;
    }

    if (count > 0) {
        ex.gain = expander_gain[count - 1];
        co.gain = compressor_gain[count - 1];
        li.gain = limiter_gain;
        g.band_level[k] = level[count - 1];
        g.band_composite_gain[k] = composite_gain[count - 1];
    }
}

}  // namespace

void compute_band_gains(BandGains& g, const SectionCoefs (&coefs)[kBands][kSections], const GainInputs& in, int first,
                        int last) {
    if (first < 0) first = 0;
    if (last > kBands - 1) last = kBands - 1;
    for (int k = first; k <= last; ++k) {
        const double level = g.band_level[k];
        double composite;
        band_gain_run(g, coefs, in, k, &level, &in.agc_gated, &composite, 1);
    }
}

void compute_band_gain_run(BandGains& g, const SectionCoefs (&coefs)[kBands][kSections], const GainInputs& in, int band,
                           const double* level, const std::int32_t* agc_gated, double* composite_gain, int count) {
    for (int first = 0; first < count; first += kGainRunFrames) {
        const int n = count - first < kGainRunFrames ? count - first : kGainRunFrames;
        band_gain_run(g, coefs, in, band, level + first, agc_gated + first, composite_gain + first, n);
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
