#pragma once
// Parameter records: exactly what a process file stores, byte for byte.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "dsp/section_state.h"

namespace qv {

// One dynamics section of one band: 207 int32 words, only the first seven used.
struct SectionParams {
    std::int32_t attack1_ms;      // 1..500
    std::int32_t release1_ms;     // 10..4000
    std::int32_t attack2_ms;      // 100..1000 (section 0 slow detector)
    std::int32_t release2_ms;     // 500..20000
    std::int32_t threshold_db10;  // 0.1 dB below full scale, -200..300
    std::int32_t ratio_x10;       // 10..100, clamped on every load
    std::int32_t band_gain_db10;  // section 0: band gain (0..4) or clip threshold (5, 6)
    std::int32_t reserved[200];
};
static_assert(sizeof(SectionParams) == 828);

// Settings that exist once: 254 int32 words; unnamed words are reserved and
// carried unchanged through load and save.
struct GlobalParams {
    char process_name[20];              // words 0..4, NUL-terminated, <= 19 chars
    std::int32_t reserved_5_14[10];     // words 5..14
    std::int32_t agc_on;                // 15
    std::int32_t agc_max_gain_db;       // 16, 0..25
    std::int32_t reserved_17;           // 17
    std::int32_t band_link_12;          // 18, %
    std::int32_t overdrive_db;          // 19, 0..30
    std::int32_t bass_eq_gain_db;       // 20, 0..20
    std::int32_t stereo_level_pct;      // 21
    std::int32_t stereo_depth_ms;       // 22, 0..20
    std::int32_t bypass_all;            // 23
    std::int32_t bass_clip_threshold;   // 24, 0.1 dB, -100..30
    std::int32_t no_clipper;            // 25
    std::int32_t no_stereo_exp;         // 26
    std::int32_t lookahead_ms;          // 27, 0..100
    std::int32_t reserved_28;           // 28
    std::int32_t independent_gate;      // 29
    std::int32_t preemphasis_50us;      // 30, 1 = 50 us, 0 = 75 us
    std::int32_t width_limiter;         // 31, stored only
    std::int32_t gate_threshold_db;     // 32, dB below full scale, 0..90
    std::int32_t hold_ms;               // 33, 0..500
    std::int32_t preemphasis_on;        // 34
    std::int32_t bass_eq_freq_hz;       // 35, 40..150
    std::int32_t density_overdrive_db;  // 36, -20..20
    std::int32_t output_level_pct;      // 37
    std::int32_t compressor_on;         // 38 (38 + section)
    std::int32_t expander_on;           // 39
    std::int32_t limiter_on;            // 40
    std::int32_t band_link_54;          // 41
    std::int32_t band_link_43;          // 42
    std::int32_t band_link_32;          // 43
    std::int32_t option_flags;          // 44, bits below
    std::int32_t agc_band_link_pct;     // 45
    std::int32_t clip_drive;            // 46, %, 40..100
    std::int32_t master_release_ms;     // 47
    std::int32_t bass_release_ms;       // 48
    std::int32_t master_attack_ms;      // 49
    std::int32_t bass_attack_ms;        // 50
    std::int32_t master_bass_mix_pct;   // 51, 30..80
    std::int32_t multiband_pct;         // 52
    std::int32_t reserved_53_253[201];  // 53..253
};
static_assert(sizeof(GlobalParams) == 1016);

#define QV_WORD(field, n) static_assert(offsetof(GlobalParams, field) == 4 * (n))
QV_WORD(agc_on, 15);
QV_WORD(agc_max_gain_db, 16);
QV_WORD(band_link_12, 18);
QV_WORD(stereo_depth_ms, 22);
QV_WORD(lookahead_ms, 27);
QV_WORD(independent_gate, 29);
QV_WORD(compressor_on, 38);
QV_WORD(option_flags, 44);
QV_WORD(multiband_pct, 52);
QV_WORD(reserved_53_253, 53);
#undef QV_WORD

constexpr int kGlobalWords = 254;
constexpr int kSectionWords = 207;

// option_flags bits (only bits 0..11 are ever set)
namespace option {
constexpr std::int32_t phase_rotator = 0x001;
constexpr std::int32_t show_composite = 0x002;
constexpr std::int32_t four_bands = 0x004;
constexpr std::int32_t track_rms = 0x008;
constexpr std::int32_t input_lpf_15k = 0x010;
constexpr std::int32_t bass_eq_shelving = 0x020;
constexpr std::int32_t bass_eq_high_q = 0x040;
constexpr std::int32_t spare_option = 0x080;
constexpr std::int32_t mono = 0x100;
constexpr std::int32_t multiband_bypass = 0x200;
constexpr std::int32_t am_filter = 0x400;
constexpr std::int32_t am_filter_wide = 0x800;
}  // namespace option

inline bool has_option(const GlobalParams& g, std::int32_t bit) { return (g.option_flags & bit) != 0; }

// A whole process: 21 section records band-major, then the global block.
struct ProcessParams {
    SectionParams section[kBands][kSections];
    GlobalParams global;
};
static_assert(sizeof(ProcessParams) == 21 * 828 + 1016);
static_assert(offsetof(ProcessParams, section[1][0]) == 3 * 828, "band-major");
static_assert(offsetof(ProcessParams, section[0][1]) == 828);
static_assert(offsetof(ProcessParams, global) == 17388);

// Word access by index, for the panel's "word 38 + section" and named editing.
inline std::int32_t global_word(const GlobalParams& g, int word) {
    std::int32_t v;
    std::memcpy(&v, reinterpret_cast<const unsigned char*>(&g) + 4 * word, 4);
    return v;
}
inline void set_global_word(GlobalParams& g, int word, std::int32_t v) {
    std::memcpy(reinterpret_cast<unsigned char*>(&g) + 4 * word, &v, 4);
}
// The on/off word of section s of bands 0..4 (compressor_on + s).
inline std::int32_t& section_enable(GlobalParams& g, int s) {
    return s == kCompressor ? g.compressor_on : s == kExpander ? g.expander_on : g.limiter_on;
}

// A process read from disk while browsing, with its section coefficients
// (hold_samples excepted) and band_gain_level for bands 0..4.
struct StagedProcess {
    ProcessParams params;
    SectionCoefs section_coefs[kBands][kSections];
    std::int32_t band_gain_level[kBands];
};

// Shows at most 19 characters of a name, never reading past its 20 bytes.
inline void copy_process_name(char (&dst)[20], const char (&src)[20]) {
    std::size_t n = 0;
    while (n < 19 && src[n] != '\0') ++n;
    std::memcpy(dst, src, n);
    dst[n] = '\0';
}

}  // namespace qv
