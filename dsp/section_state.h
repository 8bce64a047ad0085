#pragma once
#include <cstdint>

namespace qv {

// Derived values of one dynamics section (band b, section s: 0 compressor,
// 1 expander, 2 limiter). Written by the control side only.
struct SectionCoefs {
    double attack1_coef;  // one-pole coefficients in [0, 1)
    double release1_coef;
    double attack2_coef;  // section 0 only (slow detector)
    double release2_coef;
    std::int32_t threshold_level;  // linear, full scale 32767, >= 1
    std::int32_t hold_samples;     // section 0 only
    double ratio_exponent;         // 10/ratio - 1 (compressor, limiter) or 1 - 10/ratio (expander)
};

// The last gain a section took, (level / threshold)^exponent, and the bit
// patterns of its three inputs (+0 and -0 differ): an envelope held still asks
// for the same gain again. The level's key is stored XORed with a NaN pattern
// no level can have, so the zeroed record of a new chain matches nothing.
struct PowMemo {
    std::uint64_t level_key;
    std::uint64_t threshold_bits;
    std::uint64_t exponent_bits;
    double result;
};

// Detector memories of one dynamics section. Written by the audio thread only.
struct SectionMemory {
    double gain;  // linear gain the section produced for the current sample
    double envelope;
    std::uint32_t hold_counter;  // samples of hold still to run (compared unsigned)
    PowMemo power;
};

constexpr int kBands = 7;  // 0..4 multiband, 5 dual-band high, 6 dual-band low
constexpr int kMultibandBands = 5;
constexpr int kDualHighBand = 5;  // "HF"
constexpr int kDualLowBand = 6;   // "LF"
constexpr int kSections = 3;
constexpr int kCompressor = 0;
constexpr int kExpander = 1;
constexpr int kLimiter = 2;

}  // namespace qv
