#pragma once
// Every named word of a process, once, for every front end: its name, word
// index and panel range, its unit, the stage of the chain it acts in, how
// the panel shows it and under which caption, and whether the sound depends
// on it at all; and the named assignments ("overdrive_db=12") that the
// command-line tool and the factory processes apply through this one table.
//
// Names: every named word of GlobalParams ("overdrive_db"), every option bit
// of option_flags by its name ("mono", 0 or 1), "process_name" (text of at
// most 19 characters), and "section.B.S.NAME" for a word of the section
// record of band B (0..4 multiband low to high, 5 HF, 6 LF) and section S
// (0 compressor, 1 expander, 2 limiter). A value is the stored word, a
// decimal integer (or 0x-prefixed hexadecimal), or the value as the panel
// shows it followed by the panel's unit ("gate_threshold_db=-40dB" stores
// 40); either way inside the panel's range of the word.
#include <cstdint>
#include <iterator>
#include <string>
#include <string_view>

#include "settings/records.h"
#include "settings/value_format.h"

namespace qv {

// Stages of the chain, in the order the audio flows through them.
enum class Stage : std::uint8_t {
    input,  // input filters and phase rotator; Bypass All, decided there
    stereo_expander,
    agc,  // the two-band gated AGC with its bass clipper
    bass_eq,
    multiband,  // bands 0..4, links, look-ahead, the mode switches, the drive into it
    dual_band,  // bands 5 and 6 and the drive into them
    clippers,
    output,  // pre-emphasis, output filters, level, AM filter, mono
};
constexpr int kStageCount = 8;
// "input", "stereo expander", "AGC", "bass EQ", "multiband", "dual band", "clippers", "output".
const char* stage_name(Stage stage);

struct ParamInfo {
    const char* name;  // the word's name in GlobalParams / SectionParams
    int word;          // word index in its record
    std::int32_t min;  // panel range of the stored word
    std::int32_t max;
    const char* unit;        // of the stored word: "ms", "dB", "0.1 dB", "%", "Hz", "0/1", "x10", "bits", ""
    Stage stage;             // section words: multiband; bands 5, 6 are the dual band's (section_stage)
    ValueFormat format;      // how the panel's value label writes the word
    const char* shown_unit;  // unit of the value as the panel shows it; "" where it shows none
    const char* label;       // the panel's caption of the control ("" for none)
    bool no_effect;          // stored and shown only: no stage of the chain reads it
                             // (section words: section_word_affects_sound)
    const char* dual_band_label = nullptr;  // section words: the caption in the dual-band group
    // A 0/1 word the panel shows as two radio buttons: the caption of the one for 0.
    const char* off_label = nullptr;
};

// The labels are the panel template's captions; panel/control_table.cpp
// takes them from here.
inline constexpr ParamInfo kGlobalParamTable[] = {
    {"agc_on", 15, 0, 1, "0/1", Stage::agc, ValueFormat::plain, "", "ON", false},
    {"agc_max_gain_db", 16, 0, 25, "dB", Stage::agc, ValueFormat::plain, "dB", "Max Gain", false},
    {"band_link_12", 18, 0, 100, "%", Stage::multiband, ValueFormat::plain, "%", "1-2 ", false},
    {"overdrive_db", 19, 0, 30, "dB", Stage::multiband, ValueFormat::plain, "dB", "Overdrive dB", false},
    {"bass_eq_gain_db", 20, 0, 20, "dB", Stage::bass_eq, ValueFormat::plain, "dB", "Gain", false},
    {"stereo_level_pct", 21, 0, 100, "%", Stage::stereo_expander, ValueFormat::plain, "%", "Level %", false},
    {"stereo_depth_ms", 22, 0, 20, "ms", Stage::stereo_expander, ValueFormat::plain, "ms", "Depth mS", false},
    {"bypass_all", 23, 0, 1, "0/1", Stage::input, ValueFormat::plain, "", "Bypass All", false},
    {"bass_clip_threshold", 24, -100, 30, "0.1 dB", Stage::agc, ValueFormat::signed_tenths, "dB", "Bass Clipper Thr",
     false},
    {"no_clipper", 25, 0, 1, "0/1", Stage::clippers, ValueFormat::plain, "", "No Clipper", false},
    {"no_stereo_exp", 26, 0, 1, "0/1", Stage::stereo_expander, ValueFormat::plain, "", "No Stereo Exp", false},
    {"lookahead_ms", 27, 0, 100, "ms", Stage::multiband, ValueFormat::plain, "ms", "L/Ahead mSec", false},
    {"independent_gate", 29, 0, 1, "0/1", Stage::multiband, ValueFormat::plain, "", "Independent gate", false},
    {"preemphasis_50us", 30, 0, 1, "0/1", Stage::output, ValueFormat::plain, "", "50uS", false, nullptr, "75uS"},
    {"width_limiter", 31, 0, 100, "", Stage::stereo_expander, ValueFormat::plain, "", "Width Limiter", true},
    {"gate_threshold_db", 32, 0, 90, "dB", Stage::agc, ValueFormat::minus_unless_0, "dB", "GATE dB", false},
    {"hold_ms", 33, 0, 500, "ms", Stage::multiband, ValueFormat::plain, "ms", "Hold mSec", false},
    {"preemphasis_on", 34, 0, 1, "0/1", Stage::output, ValueFormat::plain, "", "Preemphasis ON", false},
    {"bass_eq_freq_hz", 35, 40, 150, "Hz", Stage::bass_eq, ValueFormat::plain, "Hz", "Freq", false},
    {"density_overdrive_db", 36, -20, 20, "dB", Stage::dual_band, ValueFormat::plain, "dB", "Density Overdrive dB",
     false},
    {"output_level_pct", 37, 0, 100, "%", Stage::output, ValueFormat::plain, "%", "OUT LEV %", false},
    {"compressor_on", 38, 0, 1, "0/1", Stage::multiband, ValueFormat::plain, "", "ON (Compressor)", false},
    {"expander_on", 39, 0, 1, "0/1", Stage::multiband, ValueFormat::plain, "", "ON (Expander)", false},
    {"limiter_on", 40, 0, 1, "0/1", Stage::multiband, ValueFormat::plain, "", "ON (Limiter)", false},
    {"band_link_54", 41, 0, 100, "%", Stage::multiband, ValueFormat::plain, "%", "5-4", false},
    {"band_link_43", 42, 0, 100, "%", Stage::multiband, ValueFormat::plain, "%", "4-3", false},
    {"band_link_32", 43, 0, 100, "%", Stage::multiband, ValueFormat::plain, "%", "3-2", false},
    // Its bits have their stages in kOptionTable.
    {"option_flags", 44, 0, 0xFFF, "bits", Stage::input, ValueFormat::plain, "", "", false},
    {"agc_band_link_pct", 45, 0, 100, "%", Stage::agc, ValueFormat::plain, "%", "Band Link %", false},
    {"clip_drive", 46, 40, 100, "%", Stage::clippers, ValueFormat::plain, "%", "Clip Drive", false},
    {"master_release_ms", 47, 100, 20000, "ms", Stage::agc, ValueFormat::plain, "ms", "Master Release", false},
    {"bass_release_ms", 48, 100, 20000, "ms", Stage::agc, ValueFormat::plain, "ms", "Bass Release", false},
    {"master_attack_ms", 49, 100, 1000, "ms", Stage::agc, ValueFormat::plain, "ms", "Master Attack", false},
    {"bass_attack_ms", 50, 100, 1000, "ms", Stage::agc, ValueFormat::plain, "ms", "Bass Attack", false},
    {"master_bass_mix_pct", 51, 30, 80, "%", Stage::agc, ValueFormat::plain, "%", "Master/Bass Mix", false},
    {"multiband_pct", 52, 0, 100, "%", Stage::multiband, ValueFormat::plain, "%", "Multiband %", false},
};
inline constexpr int kGlobalParamCount = static_cast<int>(std::size(kGlobalParamTable));

// Words 0..6 of a section record, in word order. band_gain_db10 is -120..120
// for bands 0..4 and the clip threshold -60..120 for bands 5, 6.
inline constexpr ParamInfo kSectionParamTable[] = {
    {"attack1_ms", 0, 1, 500, "ms", Stage::multiband, ValueFormat::plain, "ms", "Attack1 msec", false, "Att1 msec"},
    {"release1_ms", 1, 10, 4000, "ms", Stage::multiband, ValueFormat::plain, "ms", "Rel1 msec", false, "Rel1 msec"},
    {"attack2_ms", 2, 100, 1000, "ms", Stage::multiband, ValueFormat::plain, "ms", "Attack2 msec", false, "Att2 msec"},
    {"release2_ms", 3, 500, 20000, "ms", Stage::multiband, ValueFormat::plain, "ms", "Rel2 msec", false, "Rel2 msec"},
    {"threshold_db10", 4, -200, 300, "0.1 dB", Stage::multiband, ValueFormat::level_tenths, "dB", "Thrshld dB", false,
     "Thr dB"},
    {"ratio_x10", 5, 10, 100, "x10", Stage::multiband, ValueFormat::tenths, ":1", "Ratio", false, "Ratio"},
    {"band_gain_db10", 6, -120, 120, "0.1 dB", Stage::multiband, ValueFormat::minus_tenths, "dB", "Band Gain", false,
     "Clip Thr"},
};
inline constexpr int kSectionParamCount = static_cast<int>(std::size(kSectionParamTable));

// The option_flags bits by name, lowest first.
struct OptionInfo {
    const char* name;
    std::int32_t bit;
    Stage stage;
    const char* label;  // the caption of the button that sets the bit
    bool no_effect;     // stored and shown only (the panel's meters may read it)
    // A bit the panel shows as two radio buttons: the caption of the one that clears it.
    const char* off_label = nullptr;
};
inline constexpr OptionInfo kOptionTable[] = {
    {"phase_rotator", option::phase_rotator, Stage::input, "PHASE ROTATOR", false},
    {"show_composite", option::show_composite, Stage::multiband, "Show Composite", true},
    {"four_bands", option::four_bands, Stage::multiband, "4 BANDS", false},
    {"track_rms", option::track_rms, Stage::multiband, "Track RMS", false},
    {"input_lpf_15k", option::input_lpf_15k, Stage::input, "15KHz INPUT LPF", false},
    {"bass_eq_shelving", option::bass_eq_shelving, Stage::bass_eq, "Shelving", false, "Peaking"},
    {"bass_eq_high_q", option::bass_eq_high_q, Stage::bass_eq, "High Q", false},
    {"spare_option", option::spare_option, Stage::output, "VARKEL", true},
    {"mono", option::mono, Stage::output, "MONO", false},
    {"multiband_bypass", option::multiband_bypass, Stage::multiband, "BYPASS", false},
    {"am_filter", option::am_filter, Stage::output, "AM FILTER", false},
    {"am_filter_wide", option::am_filter_wide, Stage::output, "Wide", true, "Narrow"},
};
inline constexpr int kOptionCount = static_cast<int>(std::size(kOptionTable));

// Dual-band bands 5 and 6 use band_gain_db10 as their clip threshold, -6.0..+12.0 dB.
constexpr std::int32_t kDualBandGainMin = -60;
constexpr int kProcessNameChars = 19;

// The rows by name, at compile time (an unknown name does not compile).
consteval const ParamInfo& global_param(std::string_view name) {
    for (const ParamInfo& p : kGlobalParamTable)
        if (name == p.name) return p;
    throw "no such global parameter";
}
consteval const ParamInfo& section_param(std::string_view name) {
    for (const ParamInfo& p : kSectionParamTable)
        if (name == p.name) return p;
    throw "no such section parameter";
}
consteval const OptionInfo& option_param(std::string_view name) {
    for (const OptionInfo& o : kOptionTable)
        if (name == o.name) return o;
    throw "no such option bit";
}

const ParamInfo* find_global_param(const char* name);
const ParamInfo* find_section_param(const char* name);

// A stored word as the panel shows it, with the panel's unit: "-40 dB", "4.0:1".
std::string shown_value(const ParamInfo& info, std::int32_t value);
// lo..hi as the panel shows them, lowest shown value first: "-90..0 dB";
// "" for a word the panel shows without a unit.
std::string shown_range(const ParamInfo& info, std::int32_t lo, std::int32_t hi);

// The stage the section records of band b act in.
constexpr Stage section_stage(int band) { return band < kMultibandBands ? Stage::multiband : Stage::dual_band; }
// Lowest stored value of a section word of band b.
constexpr std::int32_t section_param_min(const ParamInfo& info, int band) {
    return info.word == 6 && band >= kMultibandBands ? kDualBandGainMin : info.min;
}
// Whether the sound depends on word w of section s of band b: the band gain
// and the second detector belong to section 0, the limiter has no ratio, and
// the dual-band bands run their compressor (section 0) alone.
bool section_word_affects_sound(int band, int section, int word);

// Word 0..6 of a section record, by the word index of the parameter table.
std::int32_t& section_word(SectionParams& sp, int word);
std::int32_t section_word(const SectionParams& sp, int word);

// Applies one "NAME=VALUE" to p. False, with a message naming the fault and
// p unchanged, for an unknown name, a malformed value or one outside range.
bool apply_param_assignment(ProcessParams& p, const std::string& assignment, std::string& error);

}  // namespace qv
