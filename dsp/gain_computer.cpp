#include "dsp/gain_computer.h"

#include <cmath>

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

// pow(1, y) is exactly 1 for every y: most samples of a band sit at or below
// its threshold, so skipping the library call there saves a third of the chain.
inline double gain_power(double base, double exponent) { return base == 1.0 ? 1.0 : std::pow(base, exponent); }

}  // namespace

void compute_band_gains(BandGains& g, SectionState (&section)[kBands][kSections], const GainInputs& in, int first,
                        int last) {
    if (first < 0) first = 0;
    if (last > kBands - 1) last = kBands - 1;
    for (int k = first; k <= last; ++k) {
        const double level = g.band_level[k];
        SectionState& ex = section[k][kExpander];
        SectionState& co = section[k][kCompressor];
        SectionState& li = section[k][kLimiter];
        const bool dual = k >= kMultibandBands;

        // Expander (multiband bands only): gain (env / threshold)^exponent below threshold.
        if (dual || in.expander_on == 0) {
            ex.gain = 1.0;
        } else {
            double c;
            if (level > ex.envelope) {
                c = ex.attack1_coef;
                ex.hold_counter = kFixedHoldSamples;
            } else if (ex.hold_counter > 0) {
                c = 1.0;
                --ex.hold_counter;
            } else {
                c = ex.release1_coef;
            }
            ex.envelope = smooth(c, level, ex.envelope);
            ex.gain = ex.envelope < ex.threshold_level ? gain_power(ex.envelope / ex.threshold_level, ex.ratio_exponent)
                                                       : 1.0;
        }

        // Compressor: a slow and a fast detector on one threshold and ratio; the deeper gain wins.
        // The dual bands always compress, whatever the switch says.
        if (!dual && in.compressor_on == 0) {
            co.gain = 1.0;
        } else {
            double& slow = g.slow_envelope[k];
            double c = level < in.gate_level ? kGateFreezeCoef : co.release2_coef;
            if (level > slow) c = co.attack2_coef;  // an attack overrides the gate
            slow = smooth(c, level, slow);
            if (co.threshold_level > slow) slow = co.threshold_level;  // never rests below the threshold
            const double u = gain_power(slow / co.threshold_level, co.ratio_exponent);
            g.band_slow_gain[k] = u;

            if (level > co.envelope) {
                if (co.hold_counter < 2u) {
                    c = co.attack1_coef;
                    co.hold_counter = static_cast<std::uint32_t>(co.hold_samples);
                } else {
                    c = 1.0 - (1.0 - co.attack1_coef) * kReattackSlowdown;
                    co.hold_counter = static_cast<std::uint32_t>(co.hold_samples) / kReattackHoldDivisor;
                }
            } else if (co.hold_counter > 0) {
                c = 1.0;
                --co.hold_counter;
            } else if (in.independent_gate) {
                c = level < in.gate_level ? kGateFreezeCoef : co.release1_coef;
            } else if (in.agc_gated) {
                c = kGateFreezeCoef;
            } else {
                c = co.release1_coef;
            }
            co.envelope = smooth(c, level, co.envelope);
            if (co.envelope < co.threshold_level) co.envelope = co.threshold_level;
            const double v = gain_power(co.envelope / co.threshold_level, co.ratio_exponent);
            co.gain = u < v ? u : v;
        }

        // Limiter on the level after expander and compressor; its detector runs for every band
        // so that switching it on starts from a current envelope.
        const double gain = ex.gain * co.gain;
        const double x = level * gain;
        double c;
        if (x > li.envelope) {
            c = li.attack1_coef;
            li.hold_counter = kFixedHoldSamples;
        } else if (li.hold_counter > 0) {
            c = 1.0;
            --li.hold_counter;
        } else {
            c = li.release1_coef;
        }
        li.envelope = smooth(c, x, li.envelope);
        li.gain = (li.threshold_level < li.envelope && !dual && in.limiter_on) ? li.threshold_level / li.envelope : 1.0;

        // Written once, so a meter reading it from another thread never sees a partial product.
        // A muted band's envelopes and counters keep running.
        g.band_composite_gain[k] = g.band_active[k] == 0 ? kMutedGain : gain * li.gain;
    }
}

}  // namespace qv
