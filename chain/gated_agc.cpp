#include "chain/gated_agc.h"

#include "dsp/detectors.h"
#include "dsp/soft_clip.h"

namespace qv {

namespace {
// Bilinear first-order pair at 150 Hz, 44.1 kHz (b1, b0, a1); low + high = 1.
constexpr FirstOrderCoefs kSplitLow = {0.010573110751125596, 0.010573110751125596, -0.9788537784977488};
constexpr FirstOrderCoefs kSplitHigh = {-0.9894268892488745, 0.9894268892488745, -0.9788537784977488};

constexpr double kTargetLevel = 16384;  // half of full scale
// Holds an envelope while gated: time constant about 8.3 million frames.
constexpr double kGateHoldCoef = 0.99999988;
constexpr double kNoAgcTrim = 0.63;

struct EnvelopeStep {
    double attack_coef;
    double release_coef;
    double floor;
    std::int32_t gate_level;
    double frame_input_peak;
};

// One band's envelope; returns its gain 16384 / envelope. The attack and gate
// branches write the gate flag, the release branch leaves it.
inline double follow(const EnvelopeStep& p, double level, double& envelope, std::int32_t& gated) {
    double c;
    if (level > envelope) {
        c = p.attack_coef;
        gated = 0;
    } else if (p.gate_level > p.frame_input_peak) {
        c = kGateHoldCoef;
        gated = 1;
    } else {
        c = p.release_coef;
    }
    envelope = (1 - c) * level + c * envelope;
    if (envelope < p.floor) envelope = p.floor;
    return kTargetLevel / envelope;
}
}  // namespace

void gated_agc(AgcState& st, const ChainParams& s, Readings& r, bool bypass, double frame_input_peak, double& left,
               double& right) {
    const DerivedValues& dv = s.derived;

    double bl = left, br = right;
    double ml = left, mr = right;
    process_first_order(kSplitLow, st.bass_pre, bl, br);
    process_first_order(kSplitHigh, st.master_pre, ml, mr);

    const double master_sum = ml + mr;
    const double bass_sum = bl + br;
    const double master_level = (master_sum < 0 ? -master_sum : master_sum) * 0.5;
    const double bass_level = (bass_sum < 0 ? -bass_sum : bass_sum) * 0.5;

    std::int32_t gated = st.gated;
    const EnvelopeStep master = {dv.master_attack_coef, dv.master_release_coef, dv.agc_level_floor, dv.gate_level,
                                 frame_input_peak};
    const double gm = follow(master, master_level, st.master_envelope, gated);
    const EnvelopeStep bass = {dv.bass_attack_coef, dv.bass_release_coef, dv.agc_level_floor, dv.gate_level,
                               frame_input_peak};
    double gb = follow(bass, bass_level, st.bass_envelope, gated);
    st.gated = gated;

    link_gains(gm, gb, dv.agc_band_link_pct);

    ml *= gm;
    mr *= gm;
    bl *= gb;
    br *= gb;
    soft_clip_pair(dv.bass_clip_level, bl, br, dv.soft_clip_knee);  // whatever "No Clipper" says

    process_first_order(kSplitLow, st.bass_post, bl, br);
    process_first_order(kSplitHigh, st.master_post, ml, mr);
    bl *= dv.bass_mix_weight;
    br *= dv.bass_mix_weight;
    ml *= dv.master_mix_weight;
    mr *= dv.master_mix_weight;

    if (bypass) {
        publish(r.master_agc_gain, 0.0);
        publish(r.bass_agc_gain, 0.0);
        return;
    }
    left *= kNoAgcTrim;
    right *= kNoAgcTrim;
    if (s.live.global.agc_on) {
        // Bass minus master: with equal gains a first-order all-pass of the input.
        left = bl - ml;
        right = br - mr;
    }
    publish(r.master_agc_gain, gm);
    publish(r.bass_agc_gain, gb);
}

}  // namespace qv
