#pragma once
// Run-time values derived from the parameter records: section coefficients,
// levels, lengths in samples, mixing weights and the bass EQ design.
//
// Every derivation keeps its result inside the domain the chain is safe with,
// whatever a stored word holds: coefficients in [0, 1), levels that the chain
// divides by at least 1, lengths within their buffers. Values inside the
// panel's ranges derive exactly as the formulas say.
#include <cstdint>

#include "dsp/section_state.h"
#include "settings/records.h"
#include "settings/settings.h"

namespace qv {

// Knee of every soft clipper: trunc(205.4 * x^2 + 663.4 * x) at x = 2.0.
std::int32_t soft_clip_knee_level();

// ratio_x10 limited to 10..100 (1.0:1 .. 10.0:1).
std::int32_t clamp_ratio_x10(std::int32_t ratio_x10);
// Clamps ratio_x10 of all 21 section records into 10..100 in place.
void clamp_ratios(ProcessParams& p);

// Single values, for the loaders, the recomputation and the panel alike.
// 1 - 10/ratio for the expander (s = 1), 10/ratio - 1 otherwise; ratio clamped.
double ratio_exponent_for(std::int32_t ratio_x10, int s);
// lvl200(-threshold_db10), at least 1.
std::int32_t threshold_level_for(std::int32_t threshold_db10);
// lvl200(band_gain_db10) for bands 0..4.
std::int32_t band_gain_level_for(std::int32_t band_gain_db10);
// lvl200(clip threshold) - soft_clip_knee for bands 5 and 6, at least 0.
std::int32_t dual_band_clip_level_for(std::int32_t band_gain_db10);
// lvl20(db) * 2^-15: overdrive_gain and density_gain.
double db_gain_for(std::int32_t db);
// lvl20(-agc_max_gain_db) halved toward zero, as a double, at least 1.
double agc_level_floor_for(std::int32_t agc_max_gain_db);
// lvl20(-gate_threshold_db).
std::int32_t gate_level_for(std::int32_t gate_threshold_db);
// lvl200(bass_clip_threshold).
std::int32_t bass_clip_level_for(std::int32_t bass_clip_threshold);
// samples(lookahead_ms) limited to the look-ahead ring, 0..4410.
std::int32_t lookahead_samples_for(std::int32_t lookahead_ms);
// samples(hold_ms), 0 for negative times.
std::int32_t hold_samples_for(std::int32_t hold_ms);
// Hold length of the dual-band compressors (bands 5, 6).
constexpr std::int32_t kDualBandHoldSamples = 500;
// Longest stereo expander delay, ms (the delay line holds 20 ms).
constexpr std::int32_t kMaxStereoDepthMs = 20;
// Longest look-ahead, samples (100 ms).
constexpr std::int32_t kMaxLookaheadSamples = 4410;

// Writes ratio_exponent, threshold_level, attack1_coef, release1_coef and,
// with the second detector, attack2_coef and release2_coef of section s
// (0 compressor, 1 expander, 2 limiter) from p into st.
void derive_section_coefs(const SectionParams& p, SectionCoefs& st, int s, bool with_second_detector);

// The loaders' derivation: all 21 records (section 0, 1, 2; bands 0..6
// within a section; second detector for section 0 only), then
// band_gain_level of bands 0..4. Bands 5 and 6 come from recompute_all.
void derive_all_sections(const ProcessParams& p, SectionCoefs (&st)[kBands][kSections],
                         std::int32_t (&band_gain_level)[kBands]);

// What every load of a whole process into the live records does: ratios
// clamped, section coefficients and band_gain_level 0..4 derived, a stored
// stereo depth outside 0..20 ms replaced by 0.
void derive_loaded_process(Settings& s);

// Frames by which the chain delays its output with these parameters: the
// look-ahead ring is passed twice (multiband, then dual band), each time
// lookahead_samples + 1 frames; once "BYPASS" skips the multiband stage the
// dual band's pass through the idle ring costs one frame; Bypass All none.
// The filters' group delay comes on top and is not counted.
std::int32_t latency_frames_for(const ChainParams& p);

// The full recomputation of the live set, run at Init, Config and Load: every
// value derived from the global words, and band_gain_level of bands 5 and 6,
// is rewritten by the groups below. Does not touch the section coefficients
// nor band_gain_level of bands 0..4, nor the switches (reset_switches).
void recompute_all(Settings& s);
// Asks the audio thread to re-initialise the detector memories (envelopes
// and hold counters from zero, the AGC at its largest gain) at the first
// block that plays the next publication (Init and Load; not Config).
void request_memory_reset(Settings& s);

// The derivation by groups, for the panel's single edits and recompute_all
// alike: each rewrites everything derived from the words of its group, with
// the limits every load applies, so an edit derives what a load of the same
// words derives.
//
// Section k of band b by the loaders' rule (second detector for section 0).
void derive_section(Settings& s, int b, int k);
// band_gain_level[b] from band_gain_db10 of section 0: the band gain for
// bands 0..4, the clip level less the knee for bands 5 and 6.
void derive_band_gain_level(Settings& s, int b);
// soft_clip_knee, overdrive_gain, density_gain, agc_level_floor, gate_level
// and bass_clip_level.
void derive_levels(Settings& s);
// The AGC's four time constants and its master/bass mixing weights.
void derive_agc_coefs(Settings& s);
// The bass EQ design from the live gain, frequency, shape and High Q.
void derive_bass_eq(Settings& s);
// lookahead_samples and the hold_samples of section 0 of all seven bands.
void derive_lengths(Settings& s);
// The percentages of DerivedValues, limited to the panel's ranges.
void derive_limited_percentages(Settings& s);
// stereo_depth_samples from stereo_depth_ms; a stored time outside 0..20 ms
// is replaced by 0 in the live record.
void derive_stereo_depth(Settings& s);

// Redesigns derived.bass_eq_coefs from gain_db and freq_hz and the shelving
// and High Q bits of option_flags; when the shelving bit differs from the
// last design's, asks the audio thread to clear all four section states.
void design_bass_eq(Settings& s, std::int32_t gain_db, std::int32_t freq_hz);

// A stored stereo depth outside 0..20 ms is replaced by 0.
void limit_stereo_depth(GlobalParams& g);

}  // namespace qv
