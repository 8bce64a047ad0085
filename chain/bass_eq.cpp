#include "chain/bass_eq.h"

namespace qv {

void bass_eq(BassEqState& st, const ChainParams& s, std::int32_t options, double& left, double& right) {
    if (s.live.global.bass_eq_gain_db < 1) return;
    const BiquadCoefs& c = s.derived.bass_eq_coefs;
    BiquadState(&state)[4] = st.section;
    process_biquad(c, state[0], left, right);
    if (options & option::bass_eq_high_q) {
        process_biquad(c, state[1], left, right);
        process_biquad(c, state[2], left, right);
        process_biquad(c, state[3], left, right);
    }
}

}  // namespace qv
