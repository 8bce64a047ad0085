#include "settings/param_edit.h"

#include <cstring>
#include <string>

#include "settings/param_table.h"
#include "settings/startup.h"

namespace qv {

namespace {

constexpr const char* kBandNames[kBands] = {"1", "2", "3", "4", "5", "HF", "LF"};
constexpr const char* kSectionNames[kSections] = {"compressor", "expander", "limiter"};

void format_word(const ParamInfo& info, std::int32_t v, char (&value)[24], char (&range)[32]) {
    if (std::strcmp(info.unit, "bits") == 0) {
        std::snprintf(value, sizeof value, "0x%03x", static_cast<unsigned>(v));
        std::snprintf(range, sizeof range, "0x%03x..0x%03x", static_cast<unsigned>(info.min),
                      static_cast<unsigned>(info.max));
    } else {
        std::snprintf(value, sizeof value, "%d", v);
        std::snprintf(range, sizeof range, "%d..%d", info.min, info.max);
    }
}

void print_section_table(std::FILE* out, const ProcessParams& p) {
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
}

void print_section_units(std::FILE* out) {
    for (int w = 0; w < kSectionParamCount; ++w)
        std::fprintf(out, "  %-16s %-7s %d..%d%s\n", kSectionParamTable[w].name, kSectionParamTable[w].unit,
                     kSectionParamTable[w].min, kSectionParamTable[w].max,
                     kSectionParamTable[w].word == 6 ? " (bands 5, 6: -60..120)" : "");
}

}  // namespace

void print_process(std::FILE* out, const ProcessParams& p) {
    char name[20];
    copy_process_name(name, p.global.process_name);
    std::fprintf(out, "process_name  \"%s\"\n\n", name);

    std::fprintf(out, "%-22s %8s  %-7s %s\n", "parameter", "value", "unit", "range");
    for (int i = 0; i < kGlobalParamCount; ++i) {
        const ParamInfo& info = kGlobalParamTable[i];
        const std::int32_t v = global_word(p.global, info.word);
        char value[24], range[32];
        format_word(info, v, value, range);
        std::fprintf(out, "%-22s %8s  %-7s %s%s\n", info.name, value, info.unit, range,
                     v < info.min || v > info.max ? "  (outside the panel's range)" : "");
    }

    std::fprintf(out, "\noption bits (option_flags)\n");
    for (int i = 0; i < kOptionCount; ++i)
        std::fprintf(out, "  %-20s 0x%03x  %s\n", kOptionTable[i].name, static_cast<unsigned>(kOptionTable[i].bit),
                     (p.global.option_flags & kOptionTable[i].bit) ? "1 on" : "0 off");

    std::fprintf(out, "\nsections (set as section.B.S.NAME; bands 0..4 multiband low to high, 5 HF, 6 LF)\n");
    print_section_table(out, p);
    std::fprintf(out, "\nsection words: unit and range\n");
    print_section_units(out);
}

namespace {

// One row: name, panel label, stored range, unit, the range as the panel
// shows it, default, note; without trailing blanks.
void print_row(std::FILE* out, const char* name, const char* label, const std::string& range, const char* unit,
               const std::string& panel, const std::string& default_text, const char* note) {
    char line[256];
    std::snprintf(line, sizeof line, "  %-22s %-20s %-11s %-9s %-19s %-16s %s", name, label, range.c_str(), unit,
                  panel.c_str(), default_text.c_str(), note);
    std::size_t n = std::strlen(line);
    while (n > 0 && line[n - 1] == ' ') --n;
    std::fprintf(out, "%.*s\n", static_cast<int>(n), line);
}

void print_param_row(std::FILE* out, const ParamInfo& info, const char* label, std::int32_t lo, std::int32_t hi,
                     const std::string& default_text, const char* note) {
    print_row(out, info.name, label, std::to_string(lo) + ".." + std::to_string(hi), info.unit,
              shown_range(info, lo, hi), default_text, note);
}

// "no effect in sections 1, 2" for the sections of bands first..last whose
// word has no effect on the sound; "" when it has in every one.
std::string sections_without_effect(int first, int last, int word) {
    std::string sections;
    for (int s = 0; s < kSections; ++s) {
        bool effect = false;
        for (int b = first; b <= last; ++b) effect = effect || section_word_affects_sound(b, s, word);
        if (!effect) sections += (sections.empty() ? "" : ", ") + std::to_string(s);
    }
    if (sections.empty()) return "";
    return std::string("no effect in section") + (sections.size() > 1 ? "s " : " ") + sections;
}

// The section words of bands first..last under their captions there.
void print_section_words(std::FILE* out, int first, int last) {
    for (const ParamInfo& info : kSectionParamTable) {
        const char* label = first < kMultibandBands ? info.label : info.dual_band_label;
        // The defaults differ by band and section: the table at the end.
        print_param_row(out, info, label, section_param_min(info, first), info.max, "",
                        sections_without_effect(first, last, info.word).c_str());
    }
}

}  // namespace

void print_param_list(std::FILE* out) {
    ProcessParams d;
    fill_defaults(d);
    std::fprintf(out,
                 "Parameters of a process, stage by stage as the audio flows (NAME=VALUE for `preset set` and\n"
                 "--set). A bare integer is the stored word (gate_threshold_db=40; 0x for hexadecimal); a value\n"
                 "with the panel's unit is read as the panel shows it (gate_threshold_db=-40dB stores 40).\n\n");
    print_row(out, "parameter", "panel label", "stored", "unit", "as the panel shows", "default", "");
    print_row(out, "process_name", "(name field)", "0..19 chars", "text", "", "DEFAULT", "");

    for (int st = 0; st < kStageCount; ++st) {
        const Stage stage = static_cast<Stage>(st);
        std::fprintf(out, "\n%s\n", stage_name(stage));
        for (const ParamInfo& info : kGlobalParamTable) {
            if (info.stage != stage || std::strcmp(info.unit, "bits") == 0) continue;
            const std::int32_t v = global_word(d.global, info.word);
            std::string dflt = std::to_string(v);
            if (info.shown_unit[0] != '\0') dflt += " (" + shown_value(info, v) + ")";
            print_param_row(out, info, info.label, info.min, info.max, dflt,
                            info.no_effect ? "no effect on the sound" : "");
        }
        for (const OptionInfo& o : kOptionTable) {
            if (o.stage != stage) continue;
            char unit[24];
            std::snprintf(unit, sizeof unit, "bit 0x%03x", static_cast<unsigned>(o.bit));
            print_row(out, o.name, o.label, "0..1", unit, "", (d.global.option_flags & o.bit) ? "1" : "0",
                      o.no_effect ? "no effect on the sound" : "");
        }
        if (stage == section_stage(0)) {
            std::fprintf(out,
                         "  section words of bands 0..4 (low to high), section.B.S.NAME with S 0 compressor,\n"
                         "  1 expander, 2 limiter:\n");
            print_section_words(out, 0, kMultibandBands - 1);
        } else if (stage == section_stage(kDualHighBand)) {
            std::fprintf(out,
                         "  section words of bands 5 (HF) and 6 (LF), section.B.S.NAME; band_gain_db10 is the\n"
                         "  clip threshold:\n");
            print_section_words(out, kMultibandBands, kBands - 1);
        }
    }
    const ParamInfo& flags = *find_global_param("option_flags");
    std::fprintf(out, "\n%s: the option bits above as one word, 0x000..0x%03x, default 0x%03x\n", flags.name,
                 static_cast<unsigned>(flags.max), static_cast<unsigned>(d.global.option_flags));
    std::fprintf(out, "\nthe section words' defaults\n");
    print_section_table(out, d);
}

}  // namespace qv
