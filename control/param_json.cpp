#include "control/param_json.h"

#include <cstring>

#include "settings/startup.h"

namespace qv::control {

using nlohmann::json;

namespace {

constexpr const char* kBandLabels[kBands] = {"1", "2", "3", "4", "5", "HF", "LF"};
constexpr const char* kSectionNames[kSections] = {"compressor", "expander", "limiter"};

const char* format_name(ValueFormat f) {
    switch (f) {
        case ValueFormat::plain:
            break;
        case ValueFormat::minus_unless_0:
            return "minus_unless_0";
        case ValueFormat::signed_tenths:
            return "signed_tenths";
        case ValueFormat::level_tenths:
            return "level_tenths";
        case ValueFormat::tenths:
            return "tenths";
        case ValueFormat::minus_tenths:
            return "minus_tenths";
    }
    return "plain";
}

std::vector<NamedWord> all_words() {
    std::vector<NamedWord> words;
    for (const ParamInfo& info : kGlobalParamTable) words.push_back({info.name, &info, nullptr, -1, -1});
    for (const OptionInfo& o : kOptionTable) words.push_back({o.name, nullptr, &o, -1, -1});
    for (int b = 0; b < kBands; ++b)
        for (int s = 0; s < kSections; ++s)
            for (const ParamInfo& info : kSectionParamTable)
                words.push_back(
                    {"section." + std::to_string(b) + "." + std::to_string(s) + "." + info.name, &info, nullptr, b, s});
    return words;
}

std::int32_t min_of(const NamedWord& w) { return w.band >= 0 ? section_param_min(*w.info, w.band) : w.info->min; }

// The fields every front end draws a word's control from.
json describe(const NamedWord& w, const ProcessParams& defaults) {
    const std::int32_t dflt = word_value(w, defaults);
    if (w.option != nullptr) {
        const OptionInfo& o = *w.option;
        json j = {{"name", w.name},
                  {"stage", stage_name(o.stage)},
                  {"label", o.label},
                  {"kind", o.off_label ? "pair" : "switch"},
                  {"unit", "0/1"},
                  {"min", 0},
                  {"max", 1},
                  {"default", dflt},
                  {"format", "plain"},
                  {"panel_unit", ""},
                  {"no_effect", o.no_effect},
                  {"bit", o.bit}};
        if (o.off_label) j["off_label"] = o.off_label;
        return j;
    }
    const ParamInfo& info = *w.info;
    const std::int32_t lo = min_of(w);
    const bool dual = w.band >= kMultibandBands;
    const bool bits = std::strcmp(info.unit, "bits") == 0;
    const bool on_off = lo == 0 && info.max == 1;
    json j = {{"name", w.name},
              {"stage", stage_name(w.band >= 0 ? section_stage(w.band) : info.stage)},
              {"label", dual ? info.dual_band_label : info.label},
              {"kind", bits             ? "bits"
                       : !on_off        ? "slider"
                       : info.off_label ? "pair"
                                        : "switch"},
              {"unit", info.unit},
              {"min", lo},
              {"max", info.max},
              {"default", dflt},
              {"format", format_name(info.format)},
              {"panel_unit", info.shown_unit},
              {"no_effect", w.band >= 0 ? !section_word_affects_sound(w.band, w.section, info.word) : info.no_effect},
              {"shown_min", word_text(w, lo)},
              {"shown_max", word_text(w, info.max)}};
    if (info.off_label) j["off_label"] = info.off_label;
    if (w.band >= 0) {
        j["band"] = w.band;
        j["section"] = w.section;
        j["word"] = info.name;
    }
    return j;
}

}  // namespace

const std::vector<NamedWord>& named_words() {
    static const std::vector<NamedWord> words = all_words();
    return words;
}

std::int32_t word_value(const NamedWord& w, const ProcessParams& p) {
    if (w.option != nullptr) return (p.global.option_flags & w.option->bit) != 0 ? 1 : 0;
    if (w.band >= 0) return section_word(p.section[w.band][w.section], w.info->word);
    return global_word(p.global, w.info->word);
}

std::string word_text(const NamedWord& w, std::int32_t value) {
    if (w.option != nullptr) return value != 0 ? "on" : "off";
    if (std::strcmp(w.info->unit, "bits") == 0) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "0x%03x", static_cast<unsigned>(value));
        return hex;
    }
    return shown_value(*w.info, value);
}

json params_json() {
    ProcessParams defaults;
    fill_defaults(defaults);
    json stages = json::array(), bands = json::array(), params = json::array();
    for (int s = 0; s < kStageCount; ++s) stages.push_back(stage_name(static_cast<Stage>(s)));
    for (int b = 0; b < kBands; ++b)
        bands.push_back({{"band", b}, {"label", kBandLabels[b]}, {"stage", stage_name(section_stage(b))}});
    for (const NamedWord& w : named_words()) params.push_back(describe(w, defaults));
    return {{"stages", stages},
            {"bands", bands},
            {"sections", kSectionNames},
            {"process_name_chars", kProcessNameChars},
            {"params", params}};
}

json values_json(const ProcessParams& p) {
    json values = json::object();
    for (const NamedWord& w : named_words()) values[w.name] = word_value(w, p);
    return values;
}

std::vector<std::string> process_changes(const ProcessParams& before, const ProcessParams& after) {
    std::vector<std::string> changes;
    for (const NamedWord& w : named_words()) {
        // The option word changes with its bits, which say it by name.
        if (w.info != nullptr && std::strcmp(w.info->unit, "bits") == 0) continue;
        const std::int32_t a = word_value(w, before), b = word_value(w, after);
        if (a != b) changes.push_back(w.name + " " + word_text(w, a) + " -> " + word_text(w, b));
    }
    char a[20], b[20];
    copy_process_name(a, before.global.process_name);
    copy_process_name(b, after.global.process_name);
    if (std::strcmp(a, b) != 0) changes.push_back("process_name \"" + std::string(a) + "\" -> \"" + b + "\"");
    return changes;
}

}  // namespace qv::control
