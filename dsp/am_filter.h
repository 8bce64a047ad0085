#pragma once
#include "dsp/filters.h"

namespace qv {

// One tenth-order direct-form-II recursion; w[m-1] holds w[n-m] of both
// channels (lane 0 the first).
struct AmSectionState {
    Pair w[10];
};

// (b0 + b1 z^-1 + ... + b10 z^-10) / (1 + a1 z^-1 + ... + a10 z^-10); a[m-1] holds a_m.
struct AmSectionCoefs {
    double b[11];
    double a[10];
};

// The two sections of the 4.5 kHz AM low-pass (44.1 kHz). Used unfactored in
// double precision: splitting them into biquads or rounding changes the response.
extern const AmSectionCoefs kAmSection1Coefs;
extern const AmSectionCoefs kAmSection2Coefs;

// Filter the pair in place; the first argument uses channel block 0.
void am_filter_section1(AmSectionState& s, double& a, double& b);
void am_filter_section2(AmSectionState& s, double& a, double& b);

}  // namespace qv
