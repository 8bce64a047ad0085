#include "settings/param_table.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace qv {

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

bool in_range(std::int32_t v, std::int32_t lo, std::int32_t hi) { return v >= lo && v <= hi; }

// text ends in unit, compared without regard to case.
bool ends_with_unit(const std::string& text, const char* unit) {
    const std::size_t n = std::strlen(unit);
    if (n == 0 || text.size() < n) return false;
    for (std::size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(text[text.size() - n + i])) !=
            std::tolower(static_cast<unsigned char>(unit[i])))
            return false;
    return true;
}

// value_text for the word info describes, lo..hi its range: the value as the
// panel shows it when it ends in the panel's unit, the stored word otherwise.
bool parse_word(const std::string& name, const ParamInfo& info, std::int32_t lo, std::int32_t hi,
                const std::string& text, std::int32_t& v, std::string& error) {
    if (ends_with_unit(text, info.shown_unit)) {
        std::string number = text.substr(0, text.size() - std::strlen(info.shown_unit));
        while (!number.empty() && number.back() == ' ') number.pop_back();
        if (!parse_shown_value(info.format, number, v)) {
            error = name + ": '" + text + "' is not a value in " + info.shown_unit + " as the panel shows it (" +
                    shown_range(info, lo, hi) + ")";
            return false;
        }
        if (in_range(v, lo, hi)) return true;
        error = name + "=" + text + " is outside the panel's range " + shown_range(info, lo, hi);
        return false;
    }
    if (!parse_value(text, v)) {
        error = name + ": '" + text + "' is not an integer";
        if (info.shown_unit[0] != '\0')
            error += " nor a value in " + std::string(info.shown_unit) + " as the panel shows it (" +
                     shown_range(info, lo, hi) + ")";
        return false;
    }
    if (in_range(v, lo, hi)) return true;
    error = name + "=" + std::to_string(v) + " is outside its range " + std::to_string(lo) + ".." + std::to_string(hi);
    std::int32_t shown = 0;
    if (info.shown_unit[0] != '\0' && parse_shown_value(info.format, text, shown) && in_range(shown, lo, hi))
        error += " (a bare integer is the stored word; the panel's " + text + " " + info.shown_unit + " is written " +
                 name + "=" + text + info.shown_unit + ")";
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
    std::int32_t v = 0;
    if (!parse_word(name, *info, section_param_min(*info, band), info->max, value_text, v, error)) return false;
    word_of(p.section[band][section], info->word) = v;
    return true;
}

}  // namespace

const char* stage_name(Stage stage) {
    switch (stage) {
        case Stage::input:
            return "input";
        case Stage::stereo_expander:
            return "stereo expander";
        case Stage::agc:
            return "AGC";
        case Stage::bass_eq:
            return "bass EQ";
        case Stage::multiband:
            return "multiband";
        case Stage::dual_band:
            return "dual band";
        case Stage::clippers:
            return "clippers";
        case Stage::output:
            return "output";
    }
    return "";
}

bool section_word_affects_sound(int band, int section, int word) {
    if (section == kCompressor) return true;
    if (band >= kMultibandBands) return false;
    // Expander and limiter: one detector on attack 1 and release 1, a threshold;
    // the expander's ratio, no ratio for the limiter.
    return word == section_param("attack1_ms").word || word == section_param("release1_ms").word ||
           word == section_param("threshold_db10").word ||
           (section == kExpander && word == section_param("ratio_x10").word);
}

std::string shown_value(const ParamInfo& info, std::int32_t value) {
    const char* unit = info.shown_unit;
    return std::string(format_value(info.format, value).text) + (unit[0] == ':' || unit[0] == '\0' ? "" : " ") + unit;
}

std::string shown_range(const ParamInfo& info, std::int32_t lo, std::int32_t hi) {
    if (info.shown_unit[0] == '\0') return "";
    const bool negated = shows_negated(info.format);
    return std::string(format_value(info.format, negated ? hi : lo).text) + ".." + shown_value(info, negated ? lo : hi);
}

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
        if (!parse_word(name, *info, info->min, info->max, value_text, v, error)) return false;
        set_global_word(p.global, info->word, v);
        return true;
    }
    for (int i = 0; i < kOptionCount; ++i) {
        const OptionInfo& o = kOptionTable[i];
        if (name != o.name) continue;
        if (!parse_value(value_text, v) || !in_range(v, 0, 1)) {
            error = name + ": '" + value_text + "' is not 0 or 1";
            return false;
        }
        p.global.option_flags = v ? (p.global.option_flags | o.bit) : (p.global.option_flags & ~o.bit);
        return true;
    }
    error = "unknown parameter '" + name + "' (see `quorvane preset params` for the names)";
    return false;
}

}  // namespace qv
