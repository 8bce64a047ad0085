#include "settings/param_table.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace qv {

const ParamInfo kGlobalParamTable[] = {
    {"agc_on", 15, 0, 1, "0/1"},
    {"agc_max_gain_db", 16, 0, 25, "dB"},
    {"band_link_12", 18, 0, 100, "%"},
    {"overdrive_db", 19, 0, 30, "dB"},
    {"bass_eq_gain_db", 20, 0, 20, "dB"},
    {"stereo_level_pct", 21, 0, 100, "%"},
    {"stereo_depth_ms", 22, 0, 20, "ms"},
    {"bypass_all", 23, 0, 1, "0/1"},
    {"bass_clip_threshold", 24, -100, 30, "0.1 dB"},
    {"no_clipper", 25, 0, 1, "0/1"},
    {"no_stereo_exp", 26, 0, 1, "0/1"},
    {"lookahead_ms", 27, 0, 100, "ms"},
    {"independent_gate", 29, 0, 1, "0/1"},
    {"preemphasis_50us", 30, 0, 1, "0/1"},
    {"width_limiter", 31, 0, 100, ""},
    {"gate_threshold_db", 32, 0, 90, "dB"},
    {"hold_ms", 33, 0, 500, "ms"},
    {"preemphasis_on", 34, 0, 1, "0/1"},
    {"bass_eq_freq_hz", 35, 40, 150, "Hz"},
    {"density_overdrive_db", 36, -20, 20, "dB"},
    {"output_level_pct", 37, 0, 100, "%"},
    {"compressor_on", 38, 0, 1, "0/1"},
    {"expander_on", 39, 0, 1, "0/1"},
    {"limiter_on", 40, 0, 1, "0/1"},
    {"band_link_54", 41, 0, 100, "%"},
    {"band_link_43", 42, 0, 100, "%"},
    {"band_link_32", 43, 0, 100, "%"},
    {"option_flags", 44, 0, 0xFFF, "bits"},
    {"agc_band_link_pct", 45, 0, 100, "%"},
    {"clip_drive", 46, 40, 100, "%"},
    {"master_release_ms", 47, 100, 20000, "ms"},
    {"bass_release_ms", 48, 100, 20000, "ms"},
    {"master_attack_ms", 49, 100, 1000, "ms"},
    {"bass_attack_ms", 50, 100, 1000, "ms"},
    {"master_bass_mix_pct", 51, 30, 80, "%"},
    {"multiband_pct", 52, 0, 100, "%"},
};
const int kGlobalParamCount = sizeof(kGlobalParamTable) / sizeof(kGlobalParamTable[0]);

// band_gain_db10 is -120..120 for bands 0..4 and -60..120 for bands 5, 6.
const ParamInfo kSectionParamTable[] = {
    {"attack1_ms", 0, 1, 500, "ms"},
    {"release1_ms", 1, 10, 4000, "ms"},
    {"attack2_ms", 2, 100, 1000, "ms"},
    {"release2_ms", 3, 500, 20000, "ms"},
    {"threshold_db10", 4, -200, 300, "0.1 dB"},
    {"ratio_x10", 5, 10, 100, "x10"},
    {"band_gain_db10", 6, -120, 120, "0.1 dB"},
};
const int kSectionParamCount = sizeof(kSectionParamTable) / sizeof(kSectionParamTable[0]);

const OptionInfo kOptionTable[] = {
    {"phase_rotator", option::phase_rotator},
    {"show_composite", option::show_composite},
    {"four_bands", option::four_bands},
    {"track_rms", option::track_rms},
    {"input_lpf_15k", option::input_lpf_15k},
    {"bass_eq_shelving", option::bass_eq_shelving},
    {"bass_eq_high_q", option::bass_eq_high_q},
    {"spare_option", option::spare_option},
    {"mono", option::mono},
    {"multiband_bypass", option::multiband_bypass},
    {"am_filter", option::am_filter},
    {"am_filter_wide", option::am_filter_wide},
};
const int kOptionCount = sizeof(kOptionTable) / sizeof(kOptionTable[0]);

namespace {

const ParamInfo* find(const ParamInfo* table, int count, const char* name) {
    for (int i = 0; i < count; ++i)
        if (std::strcmp(table[i].name, name) == 0) return &table[i];
    return nullptr;
}

// Decimal with an optional sign, or 0x hexadecimal; the whole text must parse.
bool parse_value(const std::string& text, std::int32_t& value) {
    if (text.empty()) return false;
    const char* s = text.c_str();
    const bool hex = (s[0] == '0' && (s[1] == 'x' || s[1] == 'X'));
    if (hex && s[2] == '\0') return false;
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(s, &end, hex ? 16 : 10);
    if (errno != 0 || end == s || *end != '\0' || v < INT32_MIN || v > INT32_MAX) return false;
    value = static_cast<std::int32_t>(v);
    return true;
}

bool parse_index(const std::string& text, int max, int& out) {
    if (text.size() != 1 || text[0] < '0' || text[0] > '0' + max) return false;
    out = text[0] - '0';
    return true;
}

bool parse_in_range(const std::string& name, const std::string& text, std::int32_t lo, std::int32_t hi, std::int32_t& v,
                    std::string& error) {
    if (!parse_value(text, v)) {
        error = name + ": '" + text + "' is not an integer";
        return false;
    }
    if (v >= lo && v <= hi) return true;
    error = name + "=" + std::to_string(v) + " is outside its range " + std::to_string(lo) + ".." + std::to_string(hi);
    return false;
}

// Word 0..6 of a section record, const or not.
template <class Section>
auto& word_of(Section& sp, int word) {
    switch (word) {
        case 0:
            return sp.attack1_ms;
        case 1:
            return sp.release1_ms;
        case 2:
            return sp.attack2_ms;
        case 3:
            return sp.release2_ms;
        case 4:
            return sp.threshold_db10;
        case 5:
            return sp.ratio_x10;
        default:
            return sp.band_gain_db10;
    }
}

bool assign_section(ProcessParams& p, const std::string& name, const std::string& value_text, std::string& error) {
    // section.B.S.NAME
    const std::string rest = name.substr(8);
    const std::size_t dot1 = rest.find('.');
    const std::size_t dot2 = dot1 == std::string::npos ? std::string::npos : rest.find('.', dot1 + 1);
    int band = 0, section = 0;
    if (dot2 == std::string::npos || !parse_index(rest.substr(0, dot1), kBands - 1, band) ||
        !parse_index(rest.substr(dot1 + 1, dot2 - dot1 - 1), kSections - 1, section)) {
        error =
            "unknown parameter '" + name + "' (section words are section.B.S.NAME with band B 0..6, section S 0..2)";
        return false;
    }
    const std::string word_name = rest.substr(dot2 + 1);
    const ParamInfo* info = find_section_param(word_name.c_str());
    if (info == nullptr) {
        error = "unknown section parameter '" + word_name + "' in '" + name + "'";
        return false;
    }
    const std::int32_t lo = info->word == 6 && band >= 5 ? kDualBandGainMin : info->min;
    std::int32_t v = 0;
    if (!parse_in_range(name, value_text, lo, info->max, v, error)) return false;
    word_of(p.section[band][section], info->word) = v;
    return true;
}

}  // namespace

const ParamInfo* find_global_param(const char* name) { return find(kGlobalParamTable, kGlobalParamCount, name); }
const ParamInfo* find_section_param(const char* name) { return find(kSectionParamTable, kSectionParamCount, name); }

std::int32_t& section_word(SectionParams& sp, int word) { return word_of(sp, word); }
std::int32_t section_word(const SectionParams& sp, int word) { return word_of(sp, word); }

bool apply_param_assignment(ProcessParams& p, const std::string& assignment, std::string& error) {
    const std::size_t eq = assignment.find('=');
    if (eq == std::string::npos || eq == 0) {
        error = "'" + assignment + "' is not NAME=VALUE";
        return false;
    }
    const std::string name = assignment.substr(0, eq);
    const std::string value_text = assignment.substr(eq + 1);

    if (name == "process_name") {
        if (value_text.size() > kProcessNameChars) {
            error = "process_name holds at most 19 characters";
            return false;
        }
        for (unsigned char c : value_text) {
            if (c < 0x20 || c == 0x7F) {
                error = "process_name may not contain control characters";
                return false;
            }
        }
        // The bytes after the terminator keep their value, as the panel leaves them.
        std::memcpy(p.global.process_name, value_text.c_str(), value_text.size() + 1);
        return true;
    }
    if (name.rfind("section.", 0) == 0) return assign_section(p, name, value_text, error);

    std::int32_t v = 0;
    if (const ParamInfo* info = find_global_param(name.c_str())) {
        if (!parse_in_range(name, value_text, info->min, info->max, v, error)) return false;
        set_global_word(p.global, info->word, v);
        return true;
    }
    for (int i = 0; i < kOptionCount; ++i) {
        const OptionInfo& o = kOptionTable[i];
        if (name != o.name) continue;
        if (!parse_in_range(name, value_text, 0, 1, v, error)) return false;
        p.global.option_flags = v ? (p.global.option_flags | o.bit) : (p.global.option_flags & ~o.bit);
        return true;
    }
    error = "unknown parameter '" + name + "' (see `quorvane preset params` for the names)";
    return false;
}

}  // namespace qv
