#pragma once
// Stereo filter sections in direct form II. One coefficient record serves
// both channels; the state record keeps a separate lane per channel, the
// first sample argument always using lane 0. Samples are doubles on
// the 16-bit scale (full scale 32767).

namespace qv {

// Both channels of a stereo pair as one vector of two doubles (lane 0 the
// first channel). Every operation on a pair is the same IEEE operation in
// each lane, so a pair computes exactly what two scalar passes would; SSE2
// does both lanes in one instruction.
typedef double Pair __attribute__((vector_size(16)));

inline Pair make_pair(double a, double b) { return Pair{a, b}; }

// (b0 + b1 z^-1) / (1 + a1 z^-1). Field order b1, b0, a1 is the stored order.
struct FirstOrderCoefs {
    double b1, b0, a1;
};
struct FirstOrderState {
    Pair w_prev, w;  // w is the newest internal value
};

// (b0 + b1 z^-1 + b2 z^-2) / (1 + a1 z^-1 + a2 z^-2)
struct BiquadCoefs {
    double b0, b1, b2, a1, a2;
};
struct BiquadState {
    Pair w1, w2;  // internal values one and two samples old
};

// (b0 + ... + b4 z^-4) / (1 + a1 z^-1 + ... + a4 z^-4)
struct FourthOrderCoefs {
    double b0, b1, b2, b3, b4, a1, a2, a3, a4;
};
struct FourthOrderState {
    Pair w1, w2, w3, w4;
};

// Phase rotator memories: one low-pass memory per all-pass stage and channel.
constexpr int kPhaseRotatorMaxStages = 4;
struct PhaseRotatorState {
    Pair lp[kPhaseRotatorMaxStages];
};

inline Pair first_order_step(const FirstOrderCoefs& c, FirstOrderState& s, Pair x) {
    s.w_prev = s.w;
    s.w = x - c.a1 * s.w_prev;
    return c.b0 * s.w + c.b1 * s.w_prev;
}

inline Pair biquad_step(const BiquadCoefs& c, BiquadState& s, Pair x) {
    const Pair w = x - c.a1 * s.w1 - c.a2 * s.w2;
    const Pair y = c.b0 * w + c.b1 * s.w1 + c.b2 * s.w2;
    s.w2 = s.w1;
    s.w1 = w;
    return y;
}

inline Pair fourth_order_step(const FourthOrderCoefs& c, FourthOrderState& s, Pair x) {
    const Pair w = x - c.a1 * s.w1 - c.a2 * s.w2 - c.a3 * s.w3 - c.a4 * s.w4;
    const Pair y = c.b0 * w + c.b1 * s.w1 + c.b2 * s.w2 + c.b3 * s.w3 + c.b4 * s.w4;
    s.w4 = s.w3;
    s.w3 = s.w2;
    s.w2 = s.w1;
    s.w1 = w;
    return y;
}

inline void process_first_order(const FirstOrderCoefs& c, FirstOrderState& s, double& a, double& b) {
    const Pair y = first_order_step(c, s, make_pair(a, b));
    a = y[0];
    b = y[1];
}

inline void process_biquad(const BiquadCoefs& c, BiquadState& s, double& a, double& b) {
    const Pair y = biquad_step(c, s, make_pair(a, b));
    a = y[0];
    b = y[1];
}

inline void process_fourth_order(const FourthOrderCoefs& c, FourthOrderState& s, double& a, double& b) {
    const Pair y = fourth_order_step(c, s, make_pair(a, b));
    a = y[0];
    b = y[1];
}

// Three (count - 1) first-order all-passes per channel:
// lp <- c*x + 0.95*lp; x <- 2*lp - x, with c the double nearest 1 - 0.95
// (0.050000000000000044, not the literal 0.05). Unity at DC, -0.46 dB highs.
void phase_rotate(PhaseRotatorState& s, double& a, double& b, int count);

}  // namespace qv
