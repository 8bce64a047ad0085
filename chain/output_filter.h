#pragma once
// Output filter: with "Preemphasis ON" a 27-tap integer FIR that band-limits
// the emphasised signal to 15 kHz with a null near 19 kHz; otherwise a
// first-order de-emphasis that undoes the front stages' pre-emphasis. Each
// branch keeps its memories while the other runs.
#include <cstdint>

#include "dsp/filters.h"

namespace qv {

constexpr int kFirTaps = 27;

struct OutputFilterState {
    double fir_coef[kFirTaps];  // trunc(h[j] * 7500), built once by Init: integers
    // The newest 27 inputs, truncated to integers, both channels per slot
    // (lane 0 = right), stored twice so the window x[n] .. x[n-26] is
    // contiguous from fir_pos.
    Pair fir_history[2 * kFirTaps];
    std::int32_t fir_pos;        // index of x[n], 0..26
    double deemphasis_state[2];  // 0 = right
};

void build_fir_taps(OutputFilterState& st);
void output_filter(OutputFilterState& st, bool fir, double& left, double& right);

// Truncation toward zero that saturates at the int32 range (NaN gives 0): a
// hot signal with "No Clipper" set cannot wrap around.
std::int32_t saturate_to_int32(double x);

}  // namespace qv
