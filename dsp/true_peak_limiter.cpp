#include "dsp/true_peak_limiter.h"

#include <cstdint>

#include "dsp/cr_pow.h"

namespace qv {

namespace {

constexpr int kPhases = 8;
constexpr int kTaps = 2 * kTruePeakHalfTaps;

// Interpolator, 8 points per sample interval at 44.1 kHz: row k-1 gives the
// value k/8 of the way from w[5] to w[6] from w[0..11]; Kaiser-windowed sinc
// (beta 5) cut off at 22.05 kHz, each row unity at DC. tools/gen_true_peak_fir.py.
constexpr double kInterpolator[kPhases - 1][kTaps] = {
    {-0.0031023941460983835, 0.008939301974753395, -0.02042930668807069, 0.04299543868258573, -0.10010382018625973,
     0.9741770642476084, 0.13281149270349252, -0.052016165040310536, 0.024671411577497714, -0.011154518189878102,
     0.004182440126936766, -0.0009709450622570797},
    {-0.004879555212284543, 0.014719555272445391, -0.03430083194079863, 0.07240195669422732, -0.16344709553391543,
     0.8977754541546645, 0.290083686915633, -0.10608427634900364, 0.05004927846535333, -0.022932813638973534,
     0.00888580585310999, -0.0022711646804578216},
    {-0.00537282360184842, 0.017070503770205084, -0.04065225587378706, 0.08625751914055987, -0.1901855912507677,
     0.7783833872448349, 0.45981920610246574, -0.15340555924870414, 0.07173964184748896, -0.03324808818246647,
     0.013269661843453406, -0.003675601791434162},
    {-0.004843869890060496, 0.016329486995672268, -0.03983627340220031, 0.0851504695606775, -0.1844453255353908,
     0.6276455122713018, 0.6276455122713018, -0.1844453255353908, 0.0851504695606775, -0.03983627340220031,
     0.016329486995672268, -0.004843869890060496},
    {-0.003675601791434162, 0.013269661843453406, -0.03324808818246647, 0.07173964184748896, -0.15340555924870414,
     0.45981920610246574, 0.7783833872448349, -0.1901855912507677, 0.08625751914055987, -0.04065225587378706,
     0.017070503770205084, -0.00537282360184842},
    {-0.0022711646804578216, 0.00888580585310999, -0.022932813638973534, 0.05004927846535333, -0.10608427634900364,
     0.290083686915633, 0.8977754541546645, -0.16344709553391543, 0.07240195669422732, -0.03430083194079863,
     0.014719555272445391, -0.004879555212284543},
    {-0.0009709450622570797, 0.004182440126936766, -0.011154518189878102, 0.024671411577497714, -0.052016165040310536,
     0.13281149270349252, 0.9741770642476084, -0.10010382018625973, 0.04299543868258573, -0.02042930668807069,
     0.008939301974753395, -0.0031023941460983835},
};

// Largest sum of |tap| of a phase (1.9165...), rounded up: no interpolated
// value exceeds it times the largest |sample| of its window. The factor
// 1 + 2^-20 covers the rounding of a twelve-term sum many times over.
constexpr double kInterpolatorBound = 1.9166 * (1.0 + 0x1p-20);

constexpr int kGainBits = 44;
constexpr std::int64_t kUnity = std::int64_t{1} << kGainBits;
static_assert((kTruePeakAttackFrames & (kTruePeakAttackFrames - 1)) == 0,
              "the mean is a sum times a power of two, exact");
constexpr double kMeanScale = 1.0 / (static_cast<double>(kUnity) * kTruePeakAttackFrames);

constexpr double kRate = 44100.0;
constexpr double kE = 2.718281828459045;  // the double nearest e
constexpr std::uint32_t kRingMask = kTruePeakRingFrames - 1;
constexpr std::uint32_t kQueueMask = kTruePeakQueueSize - 1;

inline double larger(double a, double b) { return a > b ? a : b; }
inline double magnitude(double a) { return a < 0 ? -a : a; }
inline double pair_peak(Pair v) { return larger(magnitude(v[0]), magnitude(v[1])); }

// Largest |value| over both channels on the interval from w[5] to w[6]: the
// samples' own and seven points between them.
inline double interval_peak(const Pair* w, double ceiling_level) {
    double peak = larger(pair_peak(w[kTruePeakHalfTaps - 1]), pair_peak(w[kTruePeakHalfTaps]));
    double window = peak;
    for (int j = 0; j < kTaps; ++j) window = larger(window, pair_peak(w[j]));
    // No phase can reach the ceiling: skip them (same outcome, r = 1).
    if (window * kInterpolatorBound <= ceiling_level) return peak;
    for (int k = 0; k < kPhases - 1; ++k) {
        const double* h = kInterpolator[k];
        Pair acc = h[0] * w[0];
        for (int j = 1; j < kTaps; ++j) acc += h[j] * w[j];
        peak = larger(peak, pair_peak(acc));
    }
    return peak;
}

// No recursion touches the audio, so nothing decays into subnormal numbers.
// One frame in, the frame kTruePeakLatencyFrames older out at the new gain.
inline Pair limit_frame(const TruePeakLimiterCoefs& c, TruePeakLimiterState& s, Pair x) {
    const std::uint32_t n = s.frame++;
    const std::uint32_t at = n & kRingMask;
    s.ring[at] = x;
    s.ring[at + kTruePeakRingFrames] = x;
    const Pair delayed = s.ring[(n - kTruePeakLatencyFrames) & kRingMask];

    const double peak = interval_peak(&s.ring[at + kTruePeakRingFrames - (kTaps - 1)], c.ceiling_level);
    // r < 1 scaled by 2^44 is below 2^44; the conversion truncates, so the
    // integer gain never exceeds the required one.
    const std::int64_t required = peak > c.ceiling_level
                                      ? static_cast<std::int64_t>(c.ceiling_level / peak * static_cast<double>(kUnity))
                                      : kUnity;

    while (s.queue_tail != s.queue_head && s.queue_gain[(s.queue_tail - 1) & kQueueMask] >= required) --s.queue_tail;
    s.queue_gain[s.queue_tail & kQueueMask] = required;
    s.queue_frame[s.queue_tail & kQueueMask] = n;
    ++s.queue_tail;
    if (n - s.queue_frame[s.queue_head & kQueueMask] >= static_cast<std::uint32_t>(kTruePeakHoldFrames)) ++s.queue_head;
    const std::int64_t held = s.queue_gain[s.queue_head & kQueueMask];

    // The deficit below unity shrinks by the release factor, truncated, so
    // that it reaches zero.
    std::int64_t g = s.release_gain;
    if (held < g) {
        g = held;
    } else if (g < kUnity) {
        g = kUnity - static_cast<std::int64_t>(static_cast<double>(kUnity - g) * c.release_coef);
        if (held < g) g = held;
    }
    s.release_gain = g;

    const std::uint32_t slot = n & (kTruePeakAttackFrames - 1);
    s.attack_sum += g - s.attack_ring[slot];
    s.attack_ring[slot] = g;
    // The sum is below 2^53: exact as a double, and so is the scaling.
    s.gain = static_cast<double>(s.attack_sum) * kMeanScale;
    return s.gain * delayed;
}

}  // namespace

TruePeakLimiterCoefs design_true_peak_limiter(double ceiling_dbtp) {
    TruePeakLimiterCoefs c;
    c.ceiling_level = 32768.0 * cr_pow(10.0, (ceiling_dbtp - kTruePeakMarginDb) / 20.0);
    c.release_coef = cr_pow(kE, -1000.0 / (kTruePeakReleaseMs * kRate));
    return c;
}

void reset_true_peak_limiter(TruePeakLimiterState& s) {
    for (Pair& v : s.ring) v = Pair{0.0, 0.0};
    s.frame = 0;
    for (std::int64_t& v : s.queue_gain) v = kUnity;
    for (std::uint32_t& v : s.queue_frame) v = 0;
    s.queue_head = s.queue_tail = 0;
    s.release_gain = kUnity;
    for (std::int64_t& v : s.attack_ring) v = kUnity;
    s.attack_sum = kUnity * kTruePeakAttackFrames;
    s.gain = 1.0;
}

void true_peak_limit(const TruePeakLimiterCoefs& c, TruePeakLimiterState& s, double* interleaved, int frames) {
    for (int i = 0; i < frames; ++i) {
        const Pair y = limit_frame(c, s, Pair{interleaved[2 * i], interleaved[2 * i + 1]});
        interleaved[2 * i] = y[0];
        interleaved[2 * i + 1] = y[1];
    }
}

void true_peak_limit(const TruePeakLimiterCoefs& c, TruePeakLimiterState& s, double* left, double* right, int frames) {
    for (int i = 0; i < frames; ++i) {
        const Pair y = limit_frame(c, s, Pair{left[i], right[i]});
        left[i] = y[0];
        right[i] = y[1];
    }
}

}  // namespace qv
