// The parameter table: every word and bit once, in a stage, and assignments
// read as the stored word or as the panel shows the value.
#include "settings/param_table.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <set>
#include <string>

#include "settings/startup.h"

namespace qv {
namespace {

TEST(ParamTable, EveryNamedWordAndBitOnceWithItsStage) {
    // The named words of GlobalParams: 15, 16, 18..27, 29..52 (17 and 28 reserved).
    std::set<int> words;
    for (const ParamInfo& p : kGlobalParamTable) {
        EXPECT_TRUE(words.insert(p.word).second) << p.name;
        EXPECT_LE(p.min, p.max) << p.name;
        EXPECT_EQ(find_global_param(p.name), &p);
        // A unit the panel shows goes with the panel's rendering of the word.
        if (p.format != ValueFormat::plain) {
            EXPECT_STRNE(p.shown_unit, "") << p.name;
        }
    }
    std::set<int> expected;
    for (int w = 15; w <= 52; ++w)
        if (w != 17 && w != 28) expected.insert(w);
    EXPECT_EQ(words, expected);

    std::int32_t bits = 0;
    for (const OptionInfo& o : kOptionTable) {
        EXPECT_EQ(bits & o.bit, 0) << o.name;
        bits |= o.bit;
        EXPECT_STRNE(o.label, "") << o.name;
    }
    EXPECT_EQ(bits, 0xFFF);
    for (int w = 0; w < kSectionParamCount; ++w) EXPECT_EQ(kSectionParamTable[w].word, w);

    // What the chain never reads, by name (the chain test proves it sample for sample).
    std::set<std::string> no_effect;
    for (const ParamInfo& p : kGlobalParamTable)
        if (p.no_effect) no_effect.insert(p.name);
    for (const OptionInfo& o : kOptionTable)
        if (o.no_effect) no_effect.insert(o.name);
    EXPECT_EQ(no_effect, (std::set<std::string>{"width_limiter", "show_composite", "spare_option", "am_filter_wide"}));
    EXPECT_STREQ(stage_name(global_param("gate_threshold_db").stage), "AGC");
    EXPECT_EQ(section_stage(4), Stage::multiband);
    EXPECT_EQ(section_stage(5), Stage::dual_band);
    EXPECT_LT(static_cast<int>(option_param("input_lpf_15k").stage), static_cast<int>(Stage::stereo_expander));
    EXPECT_EQ(option_param("mono").stage, Stage::output);
}

// Every stored value in range, written as the panel shows it with the
// panel's unit (also lower case and after a blank), reads back as that word;
// a bare integer is the stored word.
TEST(ParamTable, PanelValuesReadBackAsTheStoredWord) {
    ProcessParams p;
    fill_defaults(p);
    std::string error;
    auto check = [&](const std::string& name, const ParamInfo& info, std::int32_t lo, auto stored) {
        std::string unit = info.shown_unit;
        for (char& c : unit) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        for (std::int32_t v = lo; v <= info.max; ++v) {
            const std::string shown = format_value(info.format, v).text;
            for (const std::string& text : {shown + info.shown_unit, shown + " " + unit}) {
                ASSERT_TRUE(apply_param_assignment(p, name + "=" + std::to_string(v == lo ? info.max : lo), error));
                ASSERT_TRUE(apply_param_assignment(p, name + "=" + text, error)) << error;
                ASSERT_EQ(stored(), v) << name << "=" << text;
            }
        }
    };
    for (const ParamInfo& info : kGlobalParamTable) {
        if (info.shown_unit[0] == '\0') continue;
        check(info.name, info, info.min, [&] { return global_word(p.global, info.word); });
    }
    for (const ParamInfo& info : kSectionParamTable) {
        for (int band : {0, 5}) {
            const std::string name = "section." + std::to_string(band) + ".1." + info.name;
            check(name, info, section_param_min(info, band),
                  [&] { return section_word(p.section[band][1], info.word); });
        }
    }

    // The gate: the panel's -40 dB and the stored 40 are the same word.
    ASSERT_TRUE(apply_param_assignment(p, "gate_threshold_db=-40dB", error)) << error;
    EXPECT_EQ(p.global.gate_threshold_db, 40);
    ASSERT_TRUE(apply_param_assignment(p, "gate_threshold_db=35", error)) << error;
    EXPECT_EQ(p.global.gate_threshold_db, 35);
    ASSERT_TRUE(apply_param_assignment(p, "section.2.0.threshold_db10=-3.5dB", error)) << error;
    EXPECT_EQ(p.section[2][0].threshold_db10, 35);
    ASSERT_TRUE(apply_param_assignment(p, "section.2.0.ratio_x10=2.5:1", error)) << error;
    EXPECT_EQ(p.section[2][0].ratio_x10, 25);

    // Refused, p unchanged: a bare -40 (with the written form named), the
    // panel's range, a second decimal, a fraction where the panel shows
    // whole numbers, a unit the word does not have.
    const ProcessParams before = p;
    for (const char* bad : {"gate_threshold_db=-40", "gate_threshold_db=+40dB", "gate_threshold_db=-91dB",
                            "section.2.0.threshold_db10=-3.55dB", "overdrive_db=1.5dB", "overdrive_db=12ms",
                            "section.5.0.band_gain_db10=-6.1dB", "width_limiter=40dB", "mono=1dB"}) {
        EXPECT_FALSE(apply_param_assignment(p, bad, error)) << bad;
        EXPECT_EQ(std::memcmp(&p, &before, sizeof p), 0) << bad;
    }
    EXPECT_FALSE(apply_param_assignment(p, "gate_threshold_db=-40", error));
    EXPECT_NE(error.find("gate_threshold_db=-40dB"), std::string::npos) << error;
}

}  // namespace
}  // namespace qv
