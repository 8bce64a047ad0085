#include "cli/param_edit.h"

#include <cstring>

#include "settings/param_table.h"
#include "settings/startup.h"

namespace qv::cli {

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

bool apply_assignment(ProcessParams& p, const std::string& assignment, std::string& error) {
    return apply_param_assignment(p, assignment, error);
}

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

void print_param_list(std::FILE* out) {
    ProcessParams d;
    fill_defaults(d);
    std::fprintf(out, "Parameters of a process (NAME=VALUE for `preset set` and --set; integers, 0x for hex)\n\n");
    std::fprintf(out, "%-22s %-7s %-14s %s\n", "parameter", "unit", "range", "default");
    std::fprintf(out, "%-22s %-7s %-14s %s\n", "process_name", "text", "0..19 chars", "DEFAULT");
    for (int i = 0; i < kGlobalParamCount; ++i) {
        const ParamInfo& info = kGlobalParamTable[i];
        char value[24], range[32];
        format_word(info, global_word(d.global, info.word), value, range);
        std::fprintf(out, "%-22s %-7s %-14s %s\n", info.name, info.unit, range, value);
    }
    std::fprintf(out, "\noption bits of option_flags (0/1 each)\n");
    for (int i = 0; i < kOptionCount; ++i)
        std::fprintf(out, "  %-20s 0x%03x  default %d\n", kOptionTable[i].name,
                     static_cast<unsigned>(kOptionTable[i].bit), (d.global.option_flags & kOptionTable[i].bit) ? 1 : 0);
    std::fprintf(out,
                 "\nsection words, set as section.B.S.NAME (band B 0..4 multiband low to high, 5 HF, 6 LF;\n"
                 "section S 0 compressor, 1 expander, 2 limiter): unit and range\n");
    print_section_units(out);
    std::fprintf(out, "\ntheir defaults\n");
    print_section_table(out, d);
}

}  // namespace qv::cli
