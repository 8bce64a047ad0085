#include "cli/param_edit.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "settings/param_table.h"

namespace qv::cli {

namespace {

struct OptionName {
    const char* name;
    std::int32_t bit;
};

// Names of the option_flags bits, lowest first.
constexpr OptionName kOptionNames[] = {
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

constexpr const char* kBandNames[kBands] = {"1", "2", "3", "4", "5", "HF", "LF"};
constexpr const char* kSectionNames[kSections] = {"compressor", "expander", "limiter"};

// Dual-band bands 5 and 6 use band_gain_db10 as their clip threshold, -6.0..+12.0 dB.
constexpr std::int32_t kDualBandGainMin = -60;

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

bool check_range(const std::string& name, std::int32_t v, std::int32_t lo, std::int32_t hi, std::string& error) {
    if (v >= lo && v <= hi) return true;
    error = name + "=" + std::to_string(v) + " is outside its range " + std::to_string(lo) + ".." + std::to_string(hi);
    return false;
}

// Word 0..6 of a section record, by the word index of the parameter table.
template <class Section>
auto& section_word(Section& sp, int word) {
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
    if (!parse_value(value_text, v)) {
        error = name + ": '" + value_text + "' is not an integer";
        return false;
    }
    std::int32_t lo = info->min;
    if (info->word == 6 && band >= 5) lo = kDualBandGainMin;
    if (!check_range(name, v, lo, info->max, error)) return false;
    section_word(p.section[band][section], info->word) = v;
    return true;
}

}  // namespace

bool apply_assignment(ProcessParams& p, const std::string& assignment, std::string& error) {
    const std::size_t eq = assignment.find('=');
    if (eq == std::string::npos || eq == 0) {
        error = "'" + assignment + "' is not NAME=VALUE";
        return false;
    }
    const std::string name = assignment.substr(0, eq);
    const std::string value_text = assignment.substr(eq + 1);

    if (name == "process_name") {
        if (value_text.size() > 19) {
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
        if (!parse_value(value_text, v)) {
            error = name + ": '" + value_text + "' is not an integer";
            return false;
        }
        if (!check_range(name, v, info->min, info->max, error)) return false;
        set_global_word(p.global, info->word, v);
        return true;
    }
    for (const OptionName& o : kOptionNames) {
        if (name != o.name) continue;
        if (!parse_value(value_text, v)) {
            error = name + ": '" + value_text + "' is not an integer";
            return false;
        }
        if (!check_range(name, v, 0, 1, error)) return false;
        p.global.option_flags = v ? (p.global.option_flags | o.bit) : (p.global.option_flags & ~o.bit);
        return true;
    }
    error = "unknown parameter '" + name + "' (see `quorvane preset show` for the names)";
    return false;
}

void print_process(std::FILE* out, const ProcessParams& p) {
    char name[20];
    copy_process_name(name, p.global.process_name);
    std::fprintf(out, "process_name  \"%s\"\n\n", name);

    std::fprintf(out, "%-22s %8s  %-7s %s\n", "parameter", "value", "unit", "range");
    for (int i = 0; i < kGlobalParamCount; ++i) {
        const ParamInfo& info = kGlobalParamTable[i];
        const std::int32_t v = global_word(p.global, info.word);
        char value[24];
        char range[32];
        if (std::strcmp(info.unit, "bits") == 0) {
            std::snprintf(value, sizeof value, "0x%03x", static_cast<unsigned>(v));
            std::snprintf(range, sizeof range, "0x%03x..0x%03x", static_cast<unsigned>(info.min),
                          static_cast<unsigned>(info.max));
        } else {
            std::snprintf(value, sizeof value, "%d", v);
            std::snprintf(range, sizeof range, "%d..%d", info.min, info.max);
        }
        std::fprintf(out, "%-22s %8s  %-7s %s%s\n", info.name, value, info.unit, range,
                     v < info.min || v > info.max ? "  (outside the panel's range)" : "");
    }

    std::fprintf(out, "\noption bits (option_flags)\n");
    for (const OptionName& o : kOptionNames)
        std::fprintf(out, "  %-20s 0x%03x  %s\n", o.name, static_cast<unsigned>(o.bit),
                     (p.global.option_flags & o.bit) ? "1 on" : "0 off");

    std::fprintf(out, "\nsections (set as section.B.S.NAME; bands 0..4 multiband low to high, 5 HF, 6 LF)\n");
    std::fprintf(out, "%-2s %-5s %-12s", "B", "band", "S section");
    for (int w = 0; w < kSectionParamCount; ++w) std::fprintf(out, " %14s", kSectionParamTable[w].name);
    std::fprintf(out, "\n");
    for (int b = 0; b < kBands; ++b) {
        for (int s = 0; s < kSections; ++s) {
            std::fprintf(out, "%-2d %-5s %d %-10s", b, kBandNames[b], s, kSectionNames[s]);
            for (int w = 0; w < kSectionParamCount; ++w)
                std::fprintf(out, " %14d", section_word(p.section[b][s], kSectionParamTable[w].word));
            std::fprintf(out, "\n");
        }
    }
    std::fprintf(out, "\nsection words: unit and range\n");
    for (int w = 0; w < kSectionParamCount; ++w)
        std::fprintf(out, "  %-16s %-7s %d..%d%s\n", kSectionParamTable[w].name, kSectionParamTable[w].unit,
                     kSectionParamTable[w].min, kSectionParamTable[w].max,
                     kSectionParamTable[w].word == 6 ? " (bands 5, 6: -60..120)" : "");
}

}  // namespace qv::cli
