#include "settings/param_table.h"

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

namespace {
const ParamInfo* find(const ParamInfo* table, int count, const char* name) {
    for (int i = 0; i < count; ++i)
        if (std::strcmp(table[i].name, name) == 0) return &table[i];
    return nullptr;
}
}  // namespace

const ParamInfo* find_global_param(const char* name) { return find(kGlobalParamTable, kGlobalParamCount, name); }
const ParamInfo* find_section_param(const char* name) { return find(kSectionParamTable, kSectionParamCount, name); }

}  // namespace qv
