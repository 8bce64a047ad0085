// Sliders, labels, GLOBAL, commands and the band walk on the headless panel.
#include <cstring>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "panel/label_format.h"
#include "panel/panel_internal.h"
#include "panel/slider_tables.h"
#include "panel/texts.h"
#include "settings/conversions.h"
#include "tests/panel/panel_rig.h"

namespace qv {
namespace {

using test::PanelRig;
namespace hd = platform::headless;

// Multiband and dual-band slider / label ids by role.
constexpr int kMbThr = 1024, kMbThrLabel = 1026, kMbRatio = 1064, kMbRatioLabel = 1028;
constexpr int kMbAtt1 = 1001, kMbGain = 1042, kMbGainLabel = 1046;
constexpr int kDbThr = 1061, kDbClip = 1063, kDbClipLabel = 1073;

TEST(PanelInit, CreationFillsEveryControl) {
    PanelRig rig;
    std::string title(module_description);
    title.append(50, ' ');
    EXPECT_EQ(hd::title(rig.dlg), title);
    EXPECT_EQ(rig.text(1065), "+25dB");
    EXPECT_EQ(hd::edit_limit(rig.dlg, 1121), 20);
    EXPECT_EQ(hd::timer_period_ms(rig.dlg, kPanelTimerId), 100);
    for (int id : {1074, 1087, 1080}) EXPECT_TRUE(rig.checked(id)) << id;
    for (int id : {1075, 1076, 1077, 1078, 1079, 1088, 1089}) EXPECT_FALSE(rig.checked(id)) << id;

    // Band slider ranges from the selected rows, global ranges, 1150 left at 0..100.
    EXPECT_EQ(hd::slider_min(rig.dlg, kMbThr), -200);
    EXPECT_EQ(hd::slider_max(rig.dlg, kMbThr), 300);
    EXPECT_EQ(hd::slider_min(rig.dlg, kMbGain), -120);
    EXPECT_EQ(hd::slider_min(rig.dlg, kDbClip), -60);
    EXPECT_EQ(hd::slider_max(rig.dlg, 1140), 20000);
    EXPECT_EQ(hd::slider_min(rig.dlg, 1134), -100);
    EXPECT_EQ(hd::slider_max(rig.dlg, 1134), 30);
    EXPECT_EQ(hd::slider_max(rig.dlg, 1067), 25);
    EXPECT_EQ(hd::slider_min(rig.dlg, 1150), 0);
    EXPECT_EQ(hd::slider_max(rig.dlg, 1150), 100);

    // Meters: ranges and a step of 0.
    EXPECT_EQ(hd::meter_max(rig.dlg, 1036), 25);
    EXPECT_EQ(hd::meter_max(rig.dlg, 1120), 1000);
    EXPECT_EQ(hd::meter_max(rig.dlg, 1082), 32767);
    EXPECT_EQ(hd::meter_max(rig.dlg, 1131), 65535);
    EXPECT_EQ(hd::meter_max(rig.dlg, 1059), 32767);
    EXPECT_EQ(hd::meter_step(rig.dlg, 1072), 0);

    // Defaults shown: band 0 compressor, band 6, the global values.
    EXPECT_EQ(rig.slider(kMbAtt1), rig.sec(0, 0).attack1_ms);
    EXPECT_EQ(rig.slider(kDbThr), rig.sec(6, 0).threshold_db10);
    EXPECT_EQ(rig.slider(1067), 25 - rig.g().agc_max_gain_db);
    EXPECT_EQ(rig.text(1043), "25");
    EXPECT_EQ(rig.text(1013), "-40");
    EXPECT_EQ(rig.text(1093), "100 %");
    EXPECT_EQ(rig.text(1125), "DEFAULT");
    EXPECT_EQ(rig.text(1121), "DEFAULT");
    EXPECT_TRUE(rig.checked(1099));  // phase rotator bit of the defaults
    EXPECT_TRUE(rig.checked(1115));
    EXPECT_FALSE(rig.checked(1116));
    EXPECT_TRUE(rig.checked(1186));  // Narrow

    // No value label keeps its template placeholder.
    for (int i = 0; i < kPanelControlCount; ++i) {
        const auto& c = kPanelControls[i];
        if (c.kind != platform::ControlKind::label || c.id <= 0) continue;
        const std::string t = rig.text(c.id);
        for (const char* placeholder : {"000", "Ovd", "fbk", "gate"}) EXPECT_NE(t, placeholder) << "label " << c.id;
    }
    EXPECT_EQ(rig.text(1181), "100");
    EXPECT_EQ(rig.modified(), 0);
}

TEST(PanelSliders, ExpanderEditsSectionOneAndTheDualBandItsSectionZero) {
    PanelRig rig;
    rig.click(1088);  // Expander
    rig.click(1076);  // band 2
    ASSERT_EQ(rig.state.selected_section, 1);
    ASSERT_EQ(rig.state.selected_band[0], 2);
    const SectionParams comp_before = rig.sec(2, 0);
    const SectionParams lim_before = rig.sec(2, 2);

    rig.slide(kMbRatio, 40);
    rig.slide(kMbAtt1, 7);
    rig.slide(kDbThr, 123);
    EXPECT_EQ(rig.sec(2, 1).ratio_x10, 40);
    EXPECT_EQ(rig.sec(2, 1).attack1_ms, 7);
    EXPECT_DOUBLE_EQ(rig.st(2, 1).ratio_exponent, 1.0 - 10.0 / 40.0);
    EXPECT_EQ(rig.st(2, 1).attack1_coef, tc(7));
    EXPECT_EQ(rig.sec(6, 0).threshold_db10, 123);
    EXPECT_EQ(rig.st(6, 0).threshold_level, lvl200(-123));
    EXPECT_EQ(std::memcmp(&rig.sec(2, 0), &comp_before, sizeof comp_before), 0);
    EXPECT_EQ(std::memcmp(&rig.sec(2, 2), &lim_before, sizeof lim_before), 0);
    EXPECT_EQ(rig.state.selected_section, 1);
    EXPECT_EQ(rig.modified(), 1);

    // The compressor's ratio exponent has the other sign.
    rig.click(1087);
    rig.slide(kMbRatio, 40);
    EXPECT_DOUBLE_EQ(rig.st(2, 0).ratio_exponent, 10.0 / 40.0 - 1.0);
}

TEST(PanelSliders, EverySliderMessageRewritesBothGroupsCompletely) {
    PanelRig rig;
    // A value changed behind the panel's back is overwritten from the sliders
    // by any slider message, a global one included.
    rig.sec(0, 0).release2_ms = 777;
    rig.sec(6, 0).attack1_ms = 333;
    rig.slide(1154, 60);  // AGC band link
    EXPECT_EQ(rig.sec(0, 0).release2_ms, rig.slider(1140));
    EXPECT_EQ(rig.sec(6, 0).attack1_ms, rig.slider(1068));
    EXPECT_EQ(rig.g().agc_band_link_pct, 60);
    EXPECT_EQ(rig.text(1155), "60");
}

TEST(PanelSliders, GlobalCopiesOneSliderToAllFiveBandsOfTheSection) {
    PanelRig rig;
    rig.click(1089);  // Limiter
    rig.click(1077);  // band 3
    rig.click(1081);  // GLOBAL
    ASSERT_TRUE(rig.checked(1081));
    SectionParams comp[5], exp[5], dual = rig.sec(5, 2);
    for (int k = 0; k < 5; ++k) comp[k] = rig.sec(k, 0), exp[k] = rig.sec(k, 1);
    const std::int32_t ratio1 = rig.sec(1, 2).ratio_x10;

    rig.slide(kMbThr, 60);
    for (int k = 0; k < 5; ++k) {
        EXPECT_EQ(rig.sec(k, 2).threshold_db10, 60) << k;
        EXPECT_EQ(rig.st(k, 2).threshold_level, 16422) << k;
        EXPECT_EQ(std::memcmp(&rig.sec(k, 0), &comp[k], sizeof comp[k]), 0) << k;
        EXPECT_EQ(std::memcmp(&rig.sec(k, 1), &exp[k], sizeof exp[k]), 0) << k;
    }
    EXPECT_EQ(rig.sec(1, 2).ratio_x10, ratio1);  // only the moved slider is copied
    EXPECT_EQ(std::memcmp(&rig.sec(5, 2), &dual, sizeof dual), 0);

    // Band gain goes to section 0 of all five bands with its level.
    rig.slide(kMbGain, -60);
    for (int k = 0; k < 5; ++k) {
        EXPECT_EQ(rig.sec(k, 0).band_gain_db10, -60);
        EXPECT_EQ(rig.s().band_gain_level[k], 16422);
    }

    // Not for the dual-band sliders, and not when unchecked.
    const std::int32_t hf_threshold = rig.sec(5, 0).threshold_db10;
    rig.slide(kDbThr, 10);
    EXPECT_EQ(rig.sec(5, 0).threshold_db10, hf_threshold);  // band 6 is the selected dual-band band
    EXPECT_EQ(rig.sec(6, 0).threshold_db10, 10);
    rig.click(1081);
    rig.slide(kMbThr, 90);
    EXPECT_EQ(rig.sec(3, 2).threshold_db10, 90);
    EXPECT_EQ(rig.sec(0, 2).threshold_db10, 60);
}

TEST(PanelSliders, BandLabelFormats) {
    PanelRig rig;
    rig.slide(kMbThr, 0);
    EXPECT_EQ(rig.text(kMbThrLabel), "-0.0");
    rig.slide(kMbThr, -200);  // top of the slider
    EXPECT_EQ(rig.text(kMbThrLabel), "+20.0");
    rig.slide(kMbThr, 300);  // bottom
    EXPECT_EQ(rig.text(kMbThrLabel), "-30.0");
    rig.slide(kMbThr, 35);
    EXPECT_EQ(rig.text(kMbThrLabel), "-3.5");
    rig.slide(kMbThr, -120);
    EXPECT_EQ(rig.text(kMbThrLabel), "+12.0");
    rig.slide(kMbRatio, 25);
    EXPECT_EQ(rig.text(kMbRatioLabel), "2.5");
    rig.slide(kMbGain, -15);
    EXPECT_EQ(rig.text(kMbGainLabel), "-1.5");
    rig.slide(kMbGain, 15);
    EXPECT_EQ(rig.text(kMbGainLabel), "1.5");
    rig.slide(1140, 20000);
    EXPECT_EQ(rig.text(1133), "20000");
}

TEST(PanelSliders, BandGainAndClipThresholdLevels) {
    PanelRig rig;
    rig.slide(kDbClip, 0);
    EXPECT_EQ(rig.s().band_gain_level[6], 30619);
    EXPECT_EQ(rig.text(kDbClipLabel), "0.0");
    rig.slide(kMbGain, 0);
    EXPECT_EQ(rig.s().band_gain_level[0], 32767);
    rig.click(1079);  // HF band
    rig.slide(kDbClip, 120);
    EXPECT_EQ(rig.sec(5, 0).band_gain_db10, 120);
    EXPECT_EQ(rig.s().band_gain_level[5], 130447 - 2148);
    EXPECT_EQ(rig.s().band_gain_level[6], 30619);
}

TEST(PanelSliders, GlobalSliderFormatsAndDerivedValues) {
    PanelRig rig;
    rig.slide(1003, 40);
    EXPECT_EQ(rig.text(1013), "-40");
    EXPECT_EQ(rig.s().derived.gate_level, 327);
    rig.slide(1003, 0);
    EXPECT_EQ(rig.text(1013), "0");
    EXPECT_EQ(rig.s().derived.gate_level, 32767);

    rig.slide(1067, 0);  // top of Max Gain
    EXPECT_EQ(rig.g().agc_max_gain_db, 25);
    EXPECT_EQ(rig.text(1043), "25");
    EXPECT_EQ(rig.s().derived.agc_level_floor, 921.0);
    rig.slide(1067, 25);  // bottom
    EXPECT_EQ(rig.g().agc_max_gain_db, 0);
    EXPECT_EQ(rig.text(1043), "0");

    rig.slide(1134, 3);
    EXPECT_EQ(rig.text(1085), "+0.3");
    EXPECT_EQ(rig.s().derived.bass_clip_level, lvl200(3));
    rig.slide(1134, -15);
    EXPECT_EQ(rig.text(1085), "-1.5");
    rig.slide(1134, 0);
    EXPECT_EQ(rig.text(1085), "+0.0");

    rig.slide(1172, 30);
    EXPECT_DOUBLE_EQ(rig.s().derived.bass_mix_weight, 0.7);
    EXPECT_DOUBLE_EQ(rig.s().derived.master_mix_weight, 0.3);
    rig.slide(1169, 250);
    EXPECT_EQ(rig.s().derived.bass_attack_coef, tc(250));
    rig.slide(1160, 9000);
    EXPECT_EQ(rig.s().derived.master_release_coef, tc(9000));
    rig.slide(1111, 12);
    EXPECT_EQ(rig.s().derived.overdrive_gain, lvl20(12) * (1.0 / 32768.0));
    rig.slide(1048, -7);
    EXPECT_EQ(rig.text(1051), "-7");
    EXPECT_EQ(rig.s().derived.density_gain, lvl20(-7) * (1.0 / 32768.0));
    rig.slide(1083, 10);
    EXPECT_EQ(rig.s().derived.lookahead_samples, 441);
    rig.slide(1141, 20);
    for (int k = 0; k < 5; ++k) EXPECT_EQ(rig.st(k, 0).hold_samples, 882);
    EXPECT_EQ(rig.st(5, 0).hold_samples, 500);
    rig.slide(1021, 12);
    EXPECT_EQ(rig.s().derived.stereo_depth_samples, 529);
    rig.slide(1094, 80);
    EXPECT_EQ(rig.text(1093), "80");  // the slider writes "%d"; refresh writes "%d %"
    EXPECT_EQ(rig.g().output_level_pct, 80);
    rig.slide(1150, 33);
    EXPECT_EQ(rig.g().band_link_32, 33);
    EXPECT_EQ(rig.text(1151), "33");

    rig.slide(1180, 55);  // horizontal
    EXPECT_EQ(rig.g().multiband_pct, 55);
    EXPECT_EQ(rig.text(1181), "55");
}

TEST(PanelSliders, OutOfRangeValueShowsThumbAtTheEndAndTrueLabel) {
    PanelRig rig;
    ASSERT_EQ(rig.g().width_limiter, 2000);
    EXPECT_EQ(rig.slider(1086), 100);
    EXPECT_EQ(rig.text(1092), "2000");
    rig.slide(1086, 40);
    EXPECT_EQ(rig.g().width_limiter, 40);

    // The extremes of a stored word: an inverted slider's position cannot
    // overflow, the thumb sits at an end, the word stays as stored.
    for (std::int32_t stored : {std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()}) {
        rig.g().agc_max_gain_db = stored;
        PanelContext ctx = rig.ctx();
        refresh_all_controls(ctx);
        EXPECT_EQ(rig.slider(1067), stored < 0 ? 25 : 0);
        EXPECT_EQ(rig.g().agc_max_gain_db, stored);
    }
}

TEST(PanelSliders, BassEqRedesignAndHighQRule) {
    PanelRig rig;
    rig.slide(1007, 6);
    ASSERT_EQ(rig.g().bass_eq_gain_db, 6);
    rig.s().selection.process_modified = 0;
    const BiquadCoefs at6 = rig.s().derived.bass_eq_coefs;
    rig.click(1138);  // refused at 6 dB
    EXPECT_FALSE(rig.checked(1138));
    EXPECT_FALSE(has_option(rig.g(), option::bass_eq_high_q));
    EXPECT_EQ(rig.modified(), 0);
    EXPECT_EQ(std::memcmp(&rig.s().derived.bass_eq_coefs, &at6, sizeof at6), 0);

    rig.slide(1007, 7);
    rig.s().selection.process_modified = 0;
    rig.click(1138);  // accepted at 7 dB
    EXPECT_TRUE(rig.checked(1138));
    EXPECT_TRUE(has_option(rig.g(), option::bass_eq_high_q));
    EXPECT_EQ(rig.modified(), 1);
    auto expect = std::make_unique<Settings>(rig.s());
    design_bass_eq(*expect, 7, rig.g().bass_eq_freq_hz);
    EXPECT_EQ(std::memcmp(&rig.s().derived.bass_eq_coefs, &expect->derived.bass_eq_coefs, sizeof(BiquadCoefs)), 0);

    // From 8 down to 5: High Q goes off, and the design at 5 is without it,
    // as the chain then plays it.
    rig.slide(1007, 8);
    rig.slide(1007, 5);
    EXPECT_FALSE(rig.checked(1138));
    EXPECT_FALSE(has_option(rig.g(), option::bass_eq_high_q));
    *expect = rig.s();
    design_bass_eq(*expect, 5, rig.g().bass_eq_freq_hz);
    EXPECT_EQ(std::memcmp(&rig.s().derived.bass_eq_coefs, &expect->derived.bass_eq_coefs, sizeof(BiquadCoefs)), 0);

    // Frequency and shape redesign too.
    rig.slide(1070, 100);
    EXPECT_EQ(rig.text(1050), "100");
    *expect = rig.s();
    design_bass_eq(*expect, 5, 100);
    EXPECT_EQ(std::memcmp(&rig.s().derived.bass_eq_coefs, &expect->derived.bass_eq_coefs, sizeof(BiquadCoefs)), 0);
    rig.click(1136);
    EXPECT_TRUE(has_option(rig.g(), option::bass_eq_shelving));
    EXPECT_FALSE(rig.checked(1135));
    rig.click(1135);
    EXPECT_FALSE(has_option(rig.g(), option::bass_eq_shelving));
}

TEST(PanelCommands, WhichButtonsMarkModified) {
    PanelRig rig;
    struct Case {
        int id;
        bool marks;
    };
    const Case cases[] = {{1041, false}, {1029, false}, {1113, false}, {1139, false}, {1087, false}, {1088, false},
                          {1089, false}, {1076, false}, {1108, false}, {1090, false}, {1030, true},  {1033, true},
                          {1034, true},  {1047, true},  {1038, true},  {1099, true},  {1100, true},  {1114, true},
                          {1103, true},  {1175, true},  {1177, true},  {1183, true},  {1185, true},  {1186, true},
                          {1115, true},  {1116, true},  {1135, true},  {1136, true},  {1112, true}};
    for (const Case& c : cases) {
        rig.s().selection.process_modified = 0;
        rig.click(c.id);
        EXPECT_EQ(rig.modified(), c.marks ? 1 : 0) << c.id;
    }
}

TEST(PanelCommands, ButtonsWriteTheirWords) {
    PanelRig rig;
    rig.click(1041);
    EXPECT_EQ(rig.g().bypass_all, 1);
    rig.click(1041);
    EXPECT_EQ(rig.g().bypass_all, 0);
    rig.click(1029);
    EXPECT_EQ(rig.s().test_tone_on, 1);
    rig.click(1030);
    rig.click(1033);
    rig.click(1034);
    rig.click(1047);
    EXPECT_EQ(rig.g().no_clipper, 1);
    EXPECT_EQ(rig.g().no_stereo_exp, 1);
    EXPECT_EQ(rig.g().independent_gate, 1);
    EXPECT_EQ(rig.g().preemphasis_on, 1);
    rig.click(1038);
    EXPECT_EQ(rig.g().agc_on, 0);  // default on
    rig.click(1116);
    EXPECT_EQ(rig.g().preemphasis_50us, 0);
    EXPECT_FALSE(rig.checked(1115));
    rig.click(1115);
    EXPECT_EQ(rig.g().preemphasis_50us, 1);

    const std::int32_t before = rig.g().option_flags;
    for (int id : {1099, 1113, 1100, 1114, 1103, 1139, 1175, 1177, 1183}) rig.click(id);
    EXPECT_EQ(rig.g().option_flags, before ^ 0x79F);

    // Wide already checked: still sets the bit and marks modified.
    rig.click(1185);
    rig.g().option_flags &= ~option::am_filter_wide;
    rig.s().selection.process_modified = 0;
    rig.click(1185);
    EXPECT_TRUE(rig.checked(1185));
    EXPECT_TRUE(has_option(rig.g(), option::am_filter_wide));
    EXPECT_EQ(rig.modified(), 1);
    rig.click(1186);
    EXPECT_FALSE(has_option(rig.g(), option::am_filter_wide));

    // "ON" edits the on/off word of the selected section.
    rig.click(1088);
    EXPECT_EQ(rig.checked(1112), rig.g().expander_on != 0);
    rig.click(1112);
    EXPECT_EQ(rig.g().expander_on, 1);
    EXPECT_EQ(rig.g().compressor_on, 1);
    rig.click(1087);
    EXPECT_TRUE(rig.checked(1112));
}

TEST(PanelCommands, AboutShowsTheAboutWindow) {
    PanelRig rig;
    void* about = platform::create_dialog(kAboutTemplate, nullptr, nullptr, nullptr);
    ASSERT_NE(about, nullptr);
    rig.state.about_window = about;
    EXPECT_FALSE(hd::visible(about));
    rig.click(1090);
    EXPECT_TRUE(hd::visible(about));
    platform::destroy_window(about);
}

TEST(PanelCommands, BandWalkSelectsBandsAndMuteEndsIt) {
    PanelRig rig;
    rig.sec(3, 0).attack1_ms = 123;
    rig.click(1077);  // CFG of band 3
    EXPECT_EQ(rig.state.selected_band[0], 3);
    EXPECT_EQ(rig.slider(kMbAtt1), 123);
    EXPECT_FALSE(rig.checked(1074));

    rig.click(1106);  // M of band 2: mutes it at once
    EXPECT_EQ(rig.s().band_active[2], 0);
    rig.click(1106);
    EXPECT_EQ(rig.s().band_active[2], 1);
    rig.click(1110);  // LF mute
    EXPECT_EQ(rig.s().band_active[6], 0);

    // The walk stops at the clicked M button: bands after it are not re-synced.
    platform::set_check(rig.dlg, 1077, false);
    platform::set_check(rig.dlg, 1078, true);  // band 4 checked without a notification
    rig.click(1108);                           // M of band 0
    EXPECT_EQ(rig.state.selected_band[0], 3);
    rig.click(1109);  // M of band 5: the walk passes bands 0..4 first
    EXPECT_EQ(rig.state.selected_band[0], 4);

    rig.click(1079);  // HF
    EXPECT_EQ(rig.state.selected_band[1], 5);
    EXPECT_EQ(rig.slider(kDbThr), rig.sec(5, 0).threshold_db10);
}

TEST(PanelCommands, ReopenedPanelShowsRememberedBandAndSection) {
    PanelRig rig;
    rig.sec(3, 2).threshold_db10 = 77;
    rig.click(1089);  // Limiter
    rig.click(1077);  // band 3
    rig.close();
    rig.open();
    EXPECT_EQ(rig.slider(kMbThr), 77);
    EXPECT_EQ(rig.text(kMbThrLabel), "-7.7");
    EXPECT_TRUE(rig.checked(1074));
    EXPECT_TRUE(rig.checked(1087));
    EXPECT_FALSE(rig.checked(1089));
    EXPECT_EQ(rig.state.selected_section, 2);
    // The first command re-synchronises the band with the checked CFG button.
    rig.click(1113);
    EXPECT_EQ(rig.state.selected_band[0], 0);
    EXPECT_EQ(rig.state.selected_section, 2);
}

// The names of the derived values (section coefficients, band gain levels,
// DerivedValues) in which a and b differ, bit for bit; the switches and the
// requests to the audio thread are not derived and are left out.
std::string derived_differences(const Settings& a, const Settings& b) {
    std::string out;
    auto same = [&](const std::string& name, const auto& x, const auto& y) {
        static_assert(std::has_unique_object_representations_v<std::remove_cvref_t<decltype(x)>> ||
                      std::is_floating_point_v<std::remove_cvref_t<decltype(x)>>);
        if (std::memcmp(&x, &y, sizeof x) != 0) out += " " + name;
    };
    for (int band = 0; band < kBands; ++band) {
        for (int k = 0; k < kSections; ++k) {
            const SectionCoefs& x = a.section_coefs[band][k];
            const SectionCoefs& y = b.section_coefs[band][k];
            const std::string at = "[" + std::to_string(band) + "][" + std::to_string(k) + "].";
            same(at + "attack1_coef", x.attack1_coef, y.attack1_coef);
            same(at + "release1_coef", x.release1_coef, y.release1_coef);
            same(at + "attack2_coef", x.attack2_coef, y.attack2_coef);
            same(at + "release2_coef", x.release2_coef, y.release2_coef);
            same(at + "threshold_level", x.threshold_level, y.threshold_level);
            same(at + "hold_samples", x.hold_samples, y.hold_samples);
            same(at + "ratio_exponent", x.ratio_exponent, y.ratio_exponent);
        }
        same("band_gain_level[" + std::to_string(band) + "]", a.band_gain_level[band], b.band_gain_level[band]);
    }
    const DerivedValues& x = a.derived;
    const DerivedValues& y = b.derived;
#define QV_SAME(f) same(#f, x.f, y.f)
    QV_SAME(soft_clip_knee), QV_SAME(overdrive_gain), QV_SAME(density_gain), QV_SAME(agc_level_floor);
    QV_SAME(gate_level), QV_SAME(bass_clip_level), QV_SAME(lookahead_samples), QV_SAME(stereo_depth_samples);
    QV_SAME(bass_attack_coef), QV_SAME(bass_release_coef), QV_SAME(master_attack_coef);
    QV_SAME(master_release_coef), QV_SAME(bass_mix_weight), QV_SAME(master_mix_weight);
    QV_SAME(bass_eq_coefs.b0), QV_SAME(bass_eq_coefs.b1), QV_SAME(bass_eq_coefs.b2), QV_SAME(bass_eq_coefs.a1);
    QV_SAME(bass_eq_coefs.a2), QV_SAME(agc_band_link_pct), QV_SAME(band_link_12_pct), QV_SAME(band_link_32_pct);
    QV_SAME(band_link_43_pct), QV_SAME(band_link_54_pct), QV_SAME(multiband_depth), QV_SAME(stereo_level_pct);
    QV_SAME(clip_drive_pct), QV_SAME(output_level_pct);
#undef QV_SAME
    return out;
}

// What a Load of these words derives, from nothing: the loaders' sections,
// then the full recomputation.
std::unique_ptr<Settings> derived_as_loaded(const Settings& s) {
    auto r = std::make_unique<Settings>();
    r->live = s.live;
    r->bass_eq_last_shelving = s.bass_eq_last_shelving;
    derive_loaded_process(*r);
    recompute_all(*r);
    return r;
}

// A slider or a button derives from the words exactly what a Load of the
// same words derives: every slider at both ends and the middle and every
// button, under each section with GLOBAL off and on, then the High Q rule's
// corners.
TEST(PanelDerivation, EveryControlDerivesWhatALoadOfTheSameWordsDerives) {
    PanelRig rig;
    auto expect_as_loaded = [&](const std::string& what) {
        EXPECT_EQ(derived_differences(rig.s(), *derived_as_loaded(rig.s())), "") << what;
    };
    std::vector<int> sliders, buttons;
    for (const platform::ControlDef& c : kPanelControls) {
        if (c.id <= 0) continue;
        if (c.kind == platform::ControlKind::trackbar) sliders.push_back(c.id);
        if (c.kind == platform::ControlKind::check_box || c.kind == platform::ControlKind::radio_button ||
            c.kind == platform::ControlKind::push_button)
            buttons.push_back(c.id);
    }
    for (int section_button : {1087, 1088, 1089}) {
        for (bool global : {false, true}) {
            rig.click(section_button);
            if (rig.checked(ctl::kGlobal) != global) rig.click(ctl::kGlobal);
            const std::string state = "section " + std::to_string(section_button) + (global ? ", GLOBAL" : "");
            for (int id : sliders) {
                const int lo = hd::slider_min(rig.dlg, id), hi = hd::slider_max(rig.dlg, id);
                for (int pos : {lo, lo + (hi - lo) / 2, hi}) {
                    rig.slide(id, pos);
                    expect_as_loaded(state + ": slider " + std::to_string(id) + " at " + std::to_string(pos));
                }
            }
        }
    }
    for (int id : buttons) {
        for (int twice = 0; twice < 2; ++twice) {
            rig.click(id);
            expect_as_loaded("button " + std::to_string(id));
        }
    }

    // High Q on at 8 dB, then the gain down to 5 (High Q goes off), and
    // again down to 6 (High Q stays) and High Q clicked off there.
    for (int gain : {5, 6}) {
        rig.slide(1007, 8);
        if (!rig.checked(ctl::kHighQ)) rig.click(ctl::kHighQ);
        ASSERT_TRUE(has_option(rig.g(), option::bass_eq_high_q));
        expect_as_loaded("High Q at 8 dB");
        rig.slide(1007, gain);
        expect_as_loaded("High Q, gain down to " + std::to_string(gain));
        rig.click(ctl::kHighQ);
        expect_as_loaded("High Q clicked at " + std::to_string(gain) + " dB");
    }
}

TEST(PanelLabels, Formats) {
    EXPECT_STREQ(format_value(ValueFormat::level_tenths, 0).text, "-0.0");
    EXPECT_STREQ(format_value(ValueFormat::level_tenths, -5).text, "+0.5");
    EXPECT_STREQ(format_value(ValueFormat::tenths, 100).text, "10.0");
    EXPECT_STREQ(format_value(ValueFormat::minus_tenths, -120).text, "-12.0");
    EXPECT_STREQ(format_value(ValueFormat::minus_unless_0, 90).text, "-90");
    EXPECT_STREQ(format_value(ValueFormat::signed_tenths, -100).text, "-10.0");
    EXPECT_STREQ(format_value(ValueFormat::signed_tenths, 30).text, "+3.0");
    EXPECT_STREQ(format_percent(7).text, "7 %");
    // Any stored word is formatted safely.
    EXPECT_STREQ(format_value(ValueFormat::level_tenths, INT32_MIN).text, "+214748364.8");
}

}  // namespace
}  // namespace qv
