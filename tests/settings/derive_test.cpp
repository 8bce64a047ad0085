#include "settings/derive.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstring>
#include <limits>
#include <memory>
#include <numbers>

#include "settings/conversions.h"
#include "settings/startup.h"

namespace qv {
namespace {

std::unique_ptr<Settings> default_settings() {
    auto s = std::make_unique<Settings>();
    fill_defaults(s->live);
    derive_all_sections(s->live, s->section_coefs, s->band_gain_level);
    return s;
}

// |H(e^jw)| of a bass EQ record.
double magnitude(const BiquadCoefs& c, double w) {
    const std::complex<double> z1 = std::polar(1.0, -w), z2 = z1 * z1;
    return std::abs((c.b0 + c.b1 * z1 + c.b2 * z2) / (1.0 + c.a1 * z1 + c.a2 * z2));
}

bool stable(const BiquadCoefs& c) { return std::fabs(c.a2) < 1 && std::fabs(c.a1) < 1 + c.a2; }

double angle(int hz) { return hz * 6.283185307 / 44100; }

TEST(Derive, SectionsOfTheDefaultProcess) {
    auto s = default_settings();
    const SectionCoefs& comp = s->section_coefs[0][kCompressor];
    EXPECT_EQ(comp.threshold_level, 16422);
    EXPECT_DOUBLE_EQ(comp.ratio_exponent, -0.75);
    EXPECT_EQ(comp.attack1_coef, tc(40));
    EXPECT_EQ(comp.release1_coef, tc(1000));
    EXPECT_EQ(comp.attack2_coef, tc(500));
    EXPECT_EQ(comp.release2_coef, tc(20000));
    EXPECT_DOUBLE_EQ(s->section_coefs[3][kExpander].ratio_exponent, 0.6);
    EXPECT_EQ(s->section_coefs[3][kExpander].release1_coef, tc(200));
    EXPECT_EQ(s->section_coefs[2][kLimiter].ratio_exponent, 0.0);
    EXPECT_EQ(s->section_coefs[2][kLimiter].threshold_level, lvl200(-40));
    EXPECT_EQ(s->section_coefs[5][kLimiter].threshold_level, 16422);
    // Band gains +3.0, -1.0, 0, +3.0, +3.0 dB; bands 5 and 6 wait for recompute_all.
    EXPECT_EQ(s->band_gain_level[0], lvl200(30));
    EXPECT_EQ(s->band_gain_level[1], lvl200(-10));
    EXPECT_EQ(s->band_gain_level[2], 32767);
    EXPECT_EQ(s->band_gain_level[5], 0);
}

TEST(Derive, SecondDetectorOnlyWhenAsked) {
    auto s = default_settings();
    SectionCoefs st{};
    st.attack2_coef = 0.25;
    st.release2_coef = 0.5;
    derive_section_coefs(s->live.section[0][kExpander], st, kExpander, false);
    EXPECT_EQ(st.attack2_coef, 0.25);
    EXPECT_EQ(st.release2_coef, 0.5);
    derive_section_coefs(s->live.section[0][kExpander], st, kExpander, true);
    EXPECT_EQ(st.attack2_coef, tc(10));
    EXPECT_EQ(st.release2_coef, tc(100));
}

TEST(Derive, RatioExponentsAreClamped) {
    EXPECT_EQ(ratio_exponent_for(0, kCompressor), 0.0);
    EXPECT_EQ(ratio_exponent_for(0, kExpander), 0.0);
    EXPECT_DOUBLE_EQ(ratio_exponent_for(200, kCompressor), -0.9);
    EXPECT_DOUBLE_EQ(ratio_exponent_for(200, kExpander), 0.9);
    EXPECT_DOUBLE_EQ(ratio_exponent_for(std::numeric_limits<std::int32_t>::min(), kLimiter), 0.0);
    EXPECT_EQ(clamp_ratio_x10(5), 10);
    EXPECT_EQ(clamp_ratio_x10(250), 100);
    EXPECT_EQ(clamp_ratio_x10(55), 55);
}

TEST(Derive, DivisorLevelsAreAtLeastOne) {
    EXPECT_EQ(threshold_level_for(60), 16422);
    EXPECT_EQ(threshold_level_for(-200), lvl200(200));
    EXPECT_EQ(threshold_level_for(100000), 1);
    EXPECT_EQ(threshold_level_for(std::numeric_limits<std::int32_t>::min()), std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(agc_level_floor_for(25), 921.0);
    EXPECT_EQ(agc_level_floor_for(0), 16383.0);
    EXPECT_EQ(agc_level_floor_for(500), 1.0);
    EXPECT_EQ(gate_level_for(40), 327);
    EXPECT_EQ(gate_level_for(std::numeric_limits<std::int32_t>::min()), std::numeric_limits<std::int32_t>::max());
}

TEST(Derive, RecomputeAllOfTheDefaultProcess) {
    auto s = default_settings();
    recompute_all(*s);
    const DerivedValues& d = s->derived;
    EXPECT_EQ(d.soft_clip_knee, 2148);
    EXPECT_EQ(s->band_gain_level[5], 30619);
    EXPECT_EQ(s->band_gain_level[6], 30619);
    EXPECT_EQ(d.overdrive_gain, lvl20(10) / 32768.0);
    EXPECT_EQ(d.density_gain, 32767 / 32768.0);
    EXPECT_EQ(d.agc_level_floor, 921.0);
    EXPECT_EQ(d.gate_level, 327);
    EXPECT_EQ(d.lookahead_samples, 441);
    EXPECT_EQ(d.bass_clip_level, 32767);
    for (int b = 0; b < kMultibandBands; ++b) EXPECT_EQ(s->section_coefs[b][kCompressor].hold_samples, 882);
    EXPECT_EQ(s->section_coefs[5][kCompressor].hold_samples, 500);
    EXPECT_EQ(s->section_coefs[6][kCompressor].hold_samples, 500);
    EXPECT_EQ(d.master_attack_coef, tc(200));
    EXPECT_EQ(d.bass_attack_coef, tc(500));
    EXPECT_EQ(d.master_release_coef, tc(4000));
    EXPECT_EQ(d.bass_release_coef, tc(4000));
    EXPECT_EQ(d.bass_mix_weight, 0.5);
    EXPECT_EQ(d.master_mix_weight, 0.5);
    EXPECT_EQ(d.stereo_depth_samples, 0);
    // Peaking +3 dB at 65 Hz: the peak gain at the centre, unity at DC.
    EXPECT_NEAR(magnitude(d.bass_eq_coefs, angle(65)), std::pow(10.0, 0.15), 1e-9);
    EXPECT_NEAR(magnitude(d.bass_eq_coefs, 0), 1.0, 1e-10);
    // Dual-band clip threshold of -6.0 dB.
    s->live.section[6][kCompressor].band_gain_db10 = -60;
    recompute_all(*s);
    EXPECT_EQ(s->band_gain_level[6], 16422 - 2148);
}

TEST(Derive, RecomputeAllRewritesNeitherSwitchesNorCoefficientsNorMemories) {
    auto s = default_settings();
    for (int b = 0; b < kBands; ++b) s->band_active[b] = 0;
    s->test_tone_on = 1;
    s->band_gain_level[0] = 42;  // bands 0..4 are the loaders' business
    const SectionCoefs before = s->section_coefs[2][kCompressor];
    const std::uint32_t resets = s->memory_reset_count;
    recompute_all(*s);
    for (int b = 0; b < kBands; ++b) EXPECT_EQ(s->band_active[b], 0);
    EXPECT_EQ(s->test_tone_on, 1);
    reset_switches(*s);  // what Init, Config and Load add
    for (int b = 0; b < kBands; ++b) EXPECT_EQ(s->band_active[b], 1);
    EXPECT_EQ(s->test_tone_on, 0);
    EXPECT_EQ(s->band_gain_level[0], 42);
    const SectionCoefs& after = s->section_coefs[2][kCompressor];
    EXPECT_EQ(after.attack1_coef, before.attack1_coef);
    EXPECT_EQ(after.threshold_level, before.threshold_level);
    EXPECT_EQ(after.ratio_exponent, before.ratio_exponent);
    // Recomputing (as opening the panel does) asks for no memory reset; Load does.
    EXPECT_EQ(s->memory_reset_count, resets);
    request_memory_reset(*s);
    EXPECT_EQ(s->memory_reset_count, resets + 1);
}

TEST(Derive, StoredPercentagesAreLimitedToThePanelRanges) {
    auto s = default_settings();
    GlobalParams& g = s->live.global;
    const std::int32_t lo = std::numeric_limits<std::int32_t>::min();
    g.agc_band_link_pct = lo;
    g.band_link_12 = lo;
    g.band_link_54 = 1000;
    g.multiband_pct = -3;
    g.stereo_level_pct = 101;
    g.clip_drive = 0;
    g.output_level_pct = std::numeric_limits<std::int32_t>::max();
    recompute_all(*s);
    const DerivedValues& d = s->derived;
    EXPECT_EQ(d.agc_band_link_pct, 0);
    EXPECT_EQ(d.band_link_12_pct, 0);
    EXPECT_EQ(d.band_link_32_pct, 40);  // in range: as stored
    EXPECT_EQ(d.band_link_54_pct, 100);
    EXPECT_EQ(d.multiband_depth, 0.0);
    EXPECT_EQ(d.stereo_level_pct, 100);
    EXPECT_EQ(d.clip_drive_pct, 40);
    EXPECT_EQ(d.output_level_pct, 100);
    EXPECT_EQ(g.agc_band_link_pct, lo);  // the stored word is kept
}

TEST(Derive, OutOfRangeWordsDeriveSafeValues) {
    auto s = default_settings();
    GlobalParams& g = s->live.global;
    g.lookahead_ms = 200;
    g.hold_ms = -5;
    g.master_bass_mix_pct = 150;
    g.stereo_depth_ms = 25;
    recompute_all(*s);
    EXPECT_EQ(s->derived.lookahead_samples, 4410);
    EXPECT_EQ(s->section_coefs[0][kCompressor].hold_samples, 0);
    EXPECT_EQ(s->derived.bass_mix_weight, 0.0);
    EXPECT_EQ(s->derived.master_mix_weight, 1.0);
    EXPECT_EQ(s->derived.stereo_depth_samples, 0);
    EXPECT_EQ(g.stereo_depth_ms, 0);
    g.lookahead_ms = -3;
    g.stereo_depth_ms = -1;
    s->live.section[5][kCompressor].band_gain_db10 = -1000;
    recompute_all(*s);
    EXPECT_EQ(s->derived.lookahead_samples, 0);
    EXPECT_EQ(g.stereo_depth_ms, 0);
    EXPECT_EQ(s->band_gain_level[5], 0);  // never a negative clip ceiling
}

TEST(Derive, StereoDepth) {
    auto s = default_settings();
    s->live.global.stereo_depth_ms = 12;
    derive_stereo_depth(*s);
    EXPECT_EQ(s->derived.stereo_depth_samples, 529);
    s->live.global.stereo_depth_ms = 20;
    derive_stereo_depth(*s);
    EXPECT_EQ(s->derived.stereo_depth_samples, 882);
    s->live.global.stereo_depth_ms = 21;
    derive_stereo_depth(*s);
    EXPECT_EQ(s->derived.stereo_depth_samples, 0);
    EXPECT_EQ(s->live.global.stereo_depth_ms, 0);
}

TEST(BassEq, PassThroughRecords) {
    auto s = default_settings();
    const BiquadCoefs pass{1, 0, 0, 0, 0};
    s->derived.bass_eq_coefs = BiquadCoefs{9, 9, 9, 9, 9};
    design_bass_eq(*s, 0, 65);
    EXPECT_EQ(std::memcmp(&s->derived.bass_eq_coefs, &pass, sizeof pass), 0);
    s->live.global.option_flags |= option::bass_eq_high_q;
    s->derived.bass_eq_coefs = BiquadCoefs{9, 9, 9, 9, 9};
    design_bass_eq(*s, 2, 100);
    EXPECT_EQ(std::memcmp(&s->derived.bass_eq_coefs, &pass, sizeof pass), 0);
    design_bass_eq(*s, -7, 100);
    EXPECT_EQ(std::memcmp(&s->derived.bass_eq_coefs, &pass, sizeof pass), 0);
}

TEST(BassEq, HighQDesignsAThirdOfTheGain) {
    auto s = default_settings();
    design_bass_eq(*s, 3, 80);
    const BiquadCoefs plain = s->derived.bass_eq_coefs;
    s->live.global.option_flags |= option::bass_eq_high_q;
    design_bass_eq(*s, 11, 80);  // 11 / 3 = 3
    EXPECT_EQ(std::memcmp(&s->derived.bass_eq_coefs, &plain, sizeof plain), 0);
}

TEST(BassEq, ShelvingIsFirstOrderWithTheGainAtDc) {
    auto s = default_settings();
    s->live.global.option_flags |= option::bass_eq_shelving;
    design_bass_eq(*s, 12, 100);
    const BiquadCoefs& c = s->derived.bass_eq_coefs;
    EXPECT_EQ(c.b2, 0.0);
    EXPECT_EQ(c.a2, 0.0);
    EXPECT_NEAR(magnitude(c, 0), std::pow(10.0, 0.6), 1e-9);
    EXPECT_NEAR(magnitude(c, std::numbers::pi), 1.0, 1e-12);
    EXPECT_TRUE(stable(c));
}

TEST(BassEq, ModeChangeAsksForAClearOnce) {
    auto s = default_settings();
    const std::uint32_t clears = s->bass_eq_clear_count;
    design_bass_eq(*s, 6, 65);  // still peaking: nothing asked
    EXPECT_EQ(s->bass_eq_clear_count, clears);
    s->live.global.option_flags |= option::bass_eq_shelving;
    design_bass_eq(*s, 6, 65);
    EXPECT_EQ(s->bass_eq_clear_count, clears + 1);
    EXPECT_EQ(s->bass_eq_last_shelving, 1);
    design_bass_eq(*s, 8, 90);  // shelving again: nothing asked
    EXPECT_EQ(s->bass_eq_clear_count, clears + 1);
    s->live.global.option_flags &= ~option::bass_eq_shelving;
    design_bass_eq(*s, 0, 90);  // back to peaking, even for a pass-through
    EXPECT_EQ(s->bass_eq_clear_count, clears + 2);
    EXPECT_EQ(s->bass_eq_last_shelving, 0);
}

TEST(BassEq, ExtremeWordsGiveFiniteStableSections) {
    auto s = default_settings();
    const std::int32_t gains[] = {1, 20, 61, 1000, std::numeric_limits<std::int32_t>::max()};
    const std::int32_t freqs[] = {std::numeric_limits<std::int32_t>::min(), -5, 0, 1, 40, 150, 22050, 30000,
                                  std::numeric_limits<std::int32_t>::max()};
    for (int mode : {0, option::bass_eq_shelving, option::bass_eq_high_q}) {
        s->live.global.option_flags = mode;
        for (auto g : gains)
            for (auto f : freqs) {
                design_bass_eq(*s, g, f);
                const BiquadCoefs& c = s->derived.bass_eq_coefs;
                for (double v : {c.b0, c.b1, c.b2, c.a1, c.a2}) ASSERT_TRUE(std::isfinite(v)) << g << " " << f;
                ASSERT_TRUE(stable(c)) << g << " " << f;
            }
    }
}

}  // namespace
}  // namespace qv
