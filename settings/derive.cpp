#include "settings/derive.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "dsp/cr_pow.h"
#include "platform/fp_mode.h"
#include "settings/conversions.h"

namespace qv {

namespace {

// -v without overflow: the negation of INT32_MIN saturates at INT32_MAX.
std::int32_t negate(std::int32_t v) {
    return v == std::numeric_limits<std::int32_t>::min() ? std::numeric_limits<std::int32_t>::max() : -v;
}

// Peaking bass EQ: tan of half the angle of a fixed 50 Hz bandwidth,
// 6.283185307 * 25 / 44100.
constexpr double kPeakingHalfBandwidth = 0.0035618964325396826;
// Limits that keep the bass EQ finite and stable for any stored word; the
// panel's ranges (0..20 dB, 40..150 Hz) lie well inside.
constexpr std::int32_t kBassEqMaxGainDb = 60;
constexpr std::int32_t kBassEqMinFreqHz = 10;
constexpr std::int32_t kBassEqMaxFreqHz = 20000;

// Only the compressor's processing reads a second (slow) detector.
constexpr bool has_second_detector(int k) { return k == kCompressor; }

}  // namespace

std::int32_t soft_clip_knee_level() {
    const double x = 2.0;
    return static_cast<std::int32_t>(205.4 * x * x + 663.4 * x);
}

std::int32_t clamp_ratio_x10(std::int32_t ratio_x10) { return std::clamp<std::int32_t>(ratio_x10, 10, 100); }

void clamp_ratios(ProcessParams& p) {
    for (auto& band : p.section)
        for (auto& sec : band) sec.ratio_x10 = clamp_ratio_x10(sec.ratio_x10);
}

double ratio_exponent_for(std::int32_t ratio_x10, int s) {
    const std::int32_t r = clamp_ratio_x10(ratio_x10);
    return s == kExpander ? 1 - 10.0 / r : 10.0 / r - 1;
}

std::int32_t threshold_level_for(std::int32_t threshold_db10) {
    return std::max<std::int32_t>(1, lvl200(negate(threshold_db10)));
}

std::int32_t band_gain_level_for(std::int32_t band_gain_db10) { return lvl200(band_gain_db10); }

std::int32_t dual_band_clip_level_for(std::int32_t band_gain_db10) {
    // lvl200 is never negative, so the subtraction cannot overflow.
    return std::max<std::int32_t>(0, lvl200(band_gain_db10) - soft_clip_knee_level());
}

double db_gain_for(std::int32_t db) { return lvl20(db) * (1.0 / 32768); }

double agc_level_floor_for(std::int32_t agc_max_gain_db) {
    return static_cast<double>(std::max<std::int32_t>(1, lvl20(negate(agc_max_gain_db)) / 2));
}

std::int32_t gate_level_for(std::int32_t gate_threshold_db) { return lvl20(negate(gate_threshold_db)); }

std::int32_t bass_clip_level_for(std::int32_t bass_clip_threshold) { return lvl200(bass_clip_threshold); }

std::int32_t lookahead_samples_for(std::int32_t lookahead_ms) {
    return std::clamp<std::int32_t>(samples(lookahead_ms), 0, kMaxLookaheadSamples);
}

std::int32_t hold_samples_for(std::int32_t hold_ms) { return std::max<std::int32_t>(0, samples(hold_ms)); }

void derive_section_coefs(const SectionParams& p, SectionCoefs& st, int s, bool with_second_detector) {
    st.ratio_exponent = ratio_exponent_for(p.ratio_x10, s);
    st.threshold_level = threshold_level_for(p.threshold_db10);
    st.attack1_coef = tc(p.attack1_ms);
    st.release1_coef = tc(p.release1_ms);
    if (with_second_detector) {
        st.attack2_coef = tc(p.attack2_ms);
        st.release2_coef = tc(p.release2_ms);
    }
}

void derive_all_sections(const ProcessParams& p, SectionCoefs (&st)[kBands][kSections],
                         std::int32_t (&band_gain_level)[kBands]) {
    for (int s = 0; s < kSections; ++s)
        for (int b = 0; b < kBands; ++b) derive_section_coefs(p.section[b][s], st[b][s], s, has_second_detector(s));
    for (int b = 0; b < kMultibandBands; ++b)
        band_gain_level[b] = band_gain_level_for(p.section[b][kCompressor].band_gain_db10);
}

void design_bass_eq(Settings& s, std::int32_t gain_db, std::int32_t freq_hz) {
    // The design's long double arithmetic must not depend on the precision a
    // host left in the x87 control word, even when called from outside an
    // entry point of the module.
    const platform::DefaultFpMode mode;
    const std::int32_t flags = s.live.global.option_flags;
    // With High Q the section runs four times in cascade, a third of the gain each.
    if (flags & option::bass_eq_high_q) gain_db = gain_db / 3;
    gain_db = std::min(gain_db, kBassEqMaxGainDb);
    freq_hz = std::clamp(freq_hz, kBassEqMinFreqHz, kBassEqMaxFreqHz);

    const double w = freq_hz * 6.283185307 * 2.2675736961451248e-05;  // last factor 1/44100
    const double g = cr_pow(10.0, gain_db * 0.05);
    const double g_b = 0.892 * g;  // gain at the band edges, about 0.99 dB below g

    const std::int32_t shelving = (flags & option::bass_eq_shelving) ? 1 : 0;
    if (shelving != s.bass_eq_last_shelving) {
        // The other shape's memories would ring at full scale through the new
        // coefficients: every cascaded section starts from silence.
        s.bass_eq_last_shelving = shelving;
        ++s.bass_eq_clear_count;
    }

    BiquadCoefs& c = s.derived.bass_eq_coefs;
    if (gain_db <= 0) {
        c = BiquadCoefs{1, 0, 0, 0, 0};
        return;
    }
    // gain_db >= 1 makes g_b > 1, so k and beta are positive and both designs
    // have their poles inside the unit circle.
    const double k = std::sqrt((g_b * g_b - 1) / (g * g - g_b * g_b));
    const double half_angle = shelving ? w / 2 : kPeakingHalfBandwidth;
    // Tangent and cosine in extended precision: the products and quotients
    // they enter are long double too, rounded once when stored.
    const long double t = std::tan(static_cast<long double>(half_angle));
    const double beta = static_cast<double>(k * t);
    c.b0 = (1 + g * beta) / (1 + beta);
    if (shelving) {
        c.b1 = -(1 - g * beta) / (1 + beta);
        c.b2 = 0;
        c.a1 = -(1 - beta) / (1 + beta);
        c.a2 = 0;
    } else {
        const long double cos_w = std::cos(static_cast<long double>(w));
        c.b1 = static_cast<double>(-2 * cos_w / (1 + beta));
        c.b2 = (1 - g * beta) / (1 + beta);
        c.a1 = static_cast<double>(-2 * cos_w / (1 + beta));
        c.a2 = (1 - beta) / (1 + beta);
    }
}

void limit_stereo_depth(GlobalParams& g) {
    if (g.stereo_depth_ms < 0 || g.stereo_depth_ms > kMaxStereoDepthMs) g.stereo_depth_ms = 0;
}

void derive_stereo_depth(Settings& s) {
    limit_stereo_depth(s.live.global);
    s.derived.stereo_depth_samples = samples(s.live.global.stereo_depth_ms);
}

void derive_limited_percentages(Settings& s) {
    const GlobalParams& g = s.live.global;
    DerivedValues& d = s.derived;
    auto pct = [](std::int32_t v) { return std::clamp<std::int32_t>(v, 0, 100); };
    d.agc_band_link_pct = pct(g.agc_band_link_pct);
    d.band_link_12_pct = pct(g.band_link_12);
    d.band_link_32_pct = pct(g.band_link_32);
    d.band_link_43_pct = pct(g.band_link_43);
    d.band_link_54_pct = pct(g.band_link_54);
    d.multiband_depth = pct(g.multiband_pct) * 0.01;
    d.stereo_level_pct = pct(g.stereo_level_pct);
    d.clip_drive_pct = std::clamp<std::int32_t>(g.clip_drive, 40, 100);
    d.output_level_pct = pct(g.output_level_pct);
}

void request_memory_reset(Settings& s) { ++s.memory_reset_count; }

void derive_loaded_process(Settings& s) {
    clamp_ratios(s.live);
    derive_all_sections(s.live, s.section_coefs, s.band_gain_level);
    limit_stereo_depth(s.live.global);
}

std::int32_t latency_frames_for(const ChainParams& p) {
    const GlobalParams& g = p.live.global;
    if (g.bypass_all != 0) return 0;
    if (has_option(g, option::multiband_bypass)) return 1;
    const std::int32_t ring = std::clamp<std::int32_t>(p.derived.lookahead_samples, 0, kMaxLookaheadSamples) + 1;
    return 2 * ring;
}

void derive_section(Settings& s, int b, int k) {
    derive_section_coefs(s.live.section[b][k], s.section_coefs[b][k], k, has_second_detector(k));
}

void derive_band_gain_level(Settings& s, int b) {
    const std::int32_t db10 = s.live.section[b][kCompressor].band_gain_db10;
    s.band_gain_level[b] = b < kMultibandBands ? band_gain_level_for(db10) : dual_band_clip_level_for(db10);
}

void derive_levels(Settings& s) {
    const GlobalParams& g = s.live.global;
    DerivedValues& d = s.derived;
    d.soft_clip_knee = soft_clip_knee_level();
    d.overdrive_gain = db_gain_for(g.overdrive_db);
    d.density_gain = db_gain_for(g.density_overdrive_db);
    d.agc_level_floor = agc_level_floor_for(g.agc_max_gain_db);
    d.gate_level = gate_level_for(g.gate_threshold_db);
    d.bass_clip_level = bass_clip_level_for(g.bass_clip_threshold);
}

void derive_agc_coefs(Settings& s) {
    const GlobalParams& g = s.live.global;
    DerivedValues& d = s.derived;
    d.bass_release_coef = tc(g.bass_release_ms);
    d.master_release_coef = tc(g.master_release_ms);
    d.bass_attack_coef = tc(g.bass_attack_ms);
    d.master_attack_coef = tc(g.master_attack_ms);
    // The percentage is limited to 0..100 so that neither weight leaves [0, 1].
    const double mix_pct = std::clamp<std::int32_t>(g.master_bass_mix_pct, 0, 100);
    d.bass_mix_weight = (100 - mix_pct) * 0.01;
    d.master_mix_weight = mix_pct * 0.01;
}

void derive_bass_eq(Settings& s) { design_bass_eq(s, s.live.global.bass_eq_gain_db, s.live.global.bass_eq_freq_hz); }

void derive_lengths(Settings& s) {
    s.derived.lookahead_samples = lookahead_samples_for(s.live.global.lookahead_ms);
    for (int b = 0; b < kBands; ++b)
        s.section_coefs[b][kCompressor].hold_samples =
            b < kMultibandBands ? hold_samples_for(s.live.global.hold_ms) : kDualBandHoldSamples;
}

void recompute_all(Settings& s) {
    derive_levels(s);
    for (int b = kMultibandBands; b < kBands; ++b) derive_band_gain_level(s, b);
    derive_bass_eq(s);
    derive_lengths(s);
    derive_agc_coefs(s);
    derive_limited_percentages(s);
    derive_stereo_depth(s);
}

}  // namespace qv
