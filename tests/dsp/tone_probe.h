#pragma once
// Measures the steady-state response of a block to a sine at 44.1 kHz.
#include <array>
#include <cmath>
#include <numbers>

namespace qv::test {

struct ToneResponse {
    double gain;       // output amplitude / input amplitude
    double phase_deg;  // output phase relative to the input sine
};

inline double db(double gain) { return 20.0 * std::log10(gain); }

// Feeds amp * sin(2 pi f n / 44100) to step(x, out) for settle + 44100 samples and
// correlates the last 44100 outputs of each of the N channels with sin and cos
// (a whole number of periods for a whole number of Hz).
template <std::size_t N, class Step>
std::array<ToneResponse, N> tone_responses(double freq_hz, Step&& step, int settle = 22050, double amp = 1000.0) {
    constexpr int kMeasure = 44100;
    const double w = 2.0 * std::numbers::pi * freq_hz / 44100.0;
    std::array<double, N> s{}, c{}, out{};
    for (int n = 0; n < settle + kMeasure; ++n) {
        step(amp * std::sin(w * n), out);
        if (n < settle) continue;
        for (std::size_t k = 0; k < N; ++k) {
            s[k] += out[k] * std::sin(w * n);
            c[k] += out[k] * std::cos(w * n);
        }
    }
    std::array<ToneResponse, N> r{};
    for (std::size_t k = 0; k < N; ++k) {
        const double sk = s[k] * 2.0 / kMeasure, ck = c[k] * 2.0 / kMeasure;
        r[k] = {std::hypot(sk, ck) / amp, std::atan2(ck, sk) * 180.0 / std::numbers::pi};
    }
    return r;
}

// Single-output form: step(x) returns y.
template <class Step>
ToneResponse tone_response(double freq_hz, Step&& step, int settle = 22050, double amp = 1000.0) {
    return tone_responses<1>(
        freq_hz, [&](double x, std::array<double, 1>& out) { out[0] = step(x); }, settle, amp)[0];
}

}  // namespace qv::test
