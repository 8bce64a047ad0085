#include "panel/slider_tables.h"

#include "settings/derive.h"

namespace qv {

// {slider, value label} by role: ratio, threshold, attack 1, attack 2,
// release 1, release 2, band gain (clip threshold for the dual-band group).
constexpr BandSliderRow kMultibandRow = {
    kMultibandGroup,
    {{1064, 1028}, {1024, 1026}, {1001, 1039}, {1004, 1130}, {1005, 1010}, {1140, 1133}, {1042, 1046}}};
constexpr BandSliderRow kDualBandRow = {
    kDualBandGroup, {{1069, 1060}, {1061, 1062}, {1068, 1053}, {1143, 1145}, {1027, 1011}, {1144, 1146}, {1063, 1073}}};

const BandSliderRow kBandSliderTable[kBands] = {
    kMultibandRow, kMultibandRow, kMultibandRow, kMultibandRow, kMultibandRow, kDualBandRow, kDualBandRow,
};

// {slider, value label, parameter, explicit range, inverted, derivation}
const GlobalSlider kGlobalSliderTable[kGlobalSliderCount] = {
    {1003, 1013, &global_param("gate_threshold_db"), true, false, derive_levels},
    {1067, 1043, &global_param("agc_max_gain_db"), true, true, derive_levels},
    {1169, 1170, &global_param("bass_attack_ms"), true, false, derive_agc_coefs},
    {1163, 1164, &global_param("bass_release_ms"), true, false, derive_agc_coefs},
    {1166, 1167, &global_param("master_attack_ms"), true, false, derive_agc_coefs},
    {1160, 1161, &global_param("master_release_ms"), true, false, derive_agc_coefs},
    {1154, 1155, &global_param("agc_band_link_pct"), true, false, derive_limited_percentages},
    {1134, 1085, &global_param("bass_clip_threshold"), true, false, derive_levels},
    {1172, 1173, &global_param("master_bass_mix_pct"), true, false, derive_agc_coefs},
    {1007, 1018, &global_param("bass_eq_gain_db"), true, false, derive_bass_eq},
    {1070, 1050, &global_param("bass_eq_freq_hz"), true, false, derive_bass_eq},
    {1111, 1015, &global_param("overdrive_db"), true, false, derive_levels},
    {1083, 1137, &global_param("lookahead_ms"), true, false, derive_lengths},
    {1141, 1142, &global_param("hold_ms"), true, false, derive_lengths},
    {1000, 1002, &global_param("band_link_12"), true, false, derive_limited_percentages},
    {1150, 1151, &global_param("band_link_32"), false, false, derive_limited_percentages},
    {1006, 1009, &global_param("band_link_43"), true, false, derive_limited_percentages},
    {1096, 1097, &global_param("band_link_54"), true, false, derive_limited_percentages},
    {1048, 1051, &global_param("density_overdrive_db"), true, false, derive_levels},
    {1156, 1157, &global_param("clip_drive"), true, false, derive_limited_percentages},
    {1008, 1020, &global_param("stereo_level_pct"), true, false, derive_limited_percentages},
    {1021, 1023, &global_param("stereo_depth_ms"), true, false, derive_stereo_depth},
    {1086, 1092, &global_param("width_limiter"), true, false, nullptr},
    {1094, 1093, &global_param("output_level_pct"), true, false, derive_limited_percentages},
};

const GlobalSlider* find_global_slider(int slider_id) {
    for (const GlobalSlider& g : kGlobalSliderTable)
        if (g.slider_id == slider_id) return &g;
    return nullptr;
}

}  // namespace qv
