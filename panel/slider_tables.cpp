#include "panel/slider_tables.h"

#include "settings/derive.h"

namespace qv {

// {slider, range max, range min, value label} by role: ratio, threshold,
// attack 1, attack 2, release 1, release 2, band gain (clip threshold for the
// dual-band group).
#define QV_MULTIBAND_ROW                                                                                   \
    {                                                                                                      \
        kMultibandGroup, {                                                                                 \
            {1064, 100, 10, 1028}, {1024, 300, -200, 1026}, {1001, 500, 1, 1039}, {1004, 1000, 100, 1130}, \
                {1005, 4000, 10, 1010}, {1140, 20000, 500, 1133}, {                                        \
                1042, 120, -120, 1046                                                                      \
            }                                                                                              \
        }                                                                                                  \
    }
#define QV_DUAL_BAND_ROW                                                                                   \
    {                                                                                                      \
        kDualBandGroup, {                                                                                  \
            {1069, 100, 10, 1060}, {1061, 300, -200, 1062}, {1068, 500, 1, 1053}, {1143, 1000, 100, 1145}, \
                {1027, 4000, 10, 1011}, {1144, 20000, 500, 1146}, {                                        \
                1063, 120, -60, 1073                                                                       \
            }                                                                                              \
        }                                                                                                  \
    }

const BandSliderRow kBandSliderTable[kBands] = {
    QV_MULTIBAND_ROW, QV_MULTIBAND_ROW, QV_MULTIBAND_ROW, QV_MULTIBAND_ROW,
    QV_MULTIBAND_ROW, QV_DUAL_BAND_ROW, QV_DUAL_BAND_ROW,
};

#undef QV_MULTIBAND_ROW
#undef QV_DUAL_BAND_ROW

using LF = LabelFormat;

// {slider, value label, parameter, range, explicit range, inverted, label format, derivation}
const GlobalSlider kGlobalSliderTable[kGlobalSliderCount] = {
    {1003, 1013, &GlobalParams::gate_threshold_db, 0, 90, true, false, LF::minus_unless_0, derive_levels},
    {1067, 1043, &GlobalParams::agc_max_gain_db, 0, 25, true, true, LF::plain, derive_levels},
    {1169, 1170, &GlobalParams::bass_attack_ms, 100, 1000, true, false, LF::plain, derive_agc_coefs},
    {1163, 1164, &GlobalParams::bass_release_ms, 100, 20000, true, false, LF::plain, derive_agc_coefs},
    {1166, 1167, &GlobalParams::master_attack_ms, 100, 1000, true, false, LF::plain, derive_agc_coefs},
    {1160, 1161, &GlobalParams::master_release_ms, 100, 20000, true, false, LF::plain, derive_agc_coefs},
    {1154, 1155, &GlobalParams::agc_band_link_pct, 0, 100, true, false, LF::plain, derive_limited_percentages},
    {1134, 1085, &GlobalParams::bass_clip_threshold, -100, 30, true, false, LF::signed_tenths, derive_levels},
    {1172, 1173, &GlobalParams::master_bass_mix_pct, 30, 80, true, false, LF::plain, derive_agc_coefs},
    {1007, 1018, &GlobalParams::bass_eq_gain_db, 0, 20, true, false, LF::plain, derive_bass_eq},
    {1070, 1050, &GlobalParams::bass_eq_freq_hz, 40, 150, true, false, LF::plain, derive_bass_eq},
    {1111, 1015, &GlobalParams::overdrive_db, 0, 30, true, false, LF::plain, derive_levels},
    {1083, 1137, &GlobalParams::lookahead_ms, 0, 100, true, false, LF::plain, derive_lengths},
    {1141, 1142, &GlobalParams::hold_ms, 0, 500, true, false, LF::plain, derive_lengths},
    {1000, 1002, &GlobalParams::band_link_12, 0, 100, true, false, LF::plain, derive_limited_percentages},
    {1150, 1151, &GlobalParams::band_link_32, 0, 100, false, false, LF::plain, derive_limited_percentages},
    {1006, 1009, &GlobalParams::band_link_43, 0, 100, true, false, LF::plain, derive_limited_percentages},
    {1096, 1097, &GlobalParams::band_link_54, 0, 100, true, false, LF::plain, derive_limited_percentages},
    {1048, 1051, &GlobalParams::density_overdrive_db, -20, 20, true, false, LF::plain, derive_levels},
    {1156, 1157, &GlobalParams::clip_drive, 40, 100, true, false, LF::plain, derive_limited_percentages},
    {1008, 1020, &GlobalParams::stereo_level_pct, 0, 100, true, false, LF::plain, derive_limited_percentages},
    {1021, 1023, &GlobalParams::stereo_depth_ms, 0, 20, true, false, LF::plain, derive_stereo_depth},
    {1086, 1092, &GlobalParams::width_limiter, 0, 100, true, false, LF::plain, nullptr},
    {1094, 1093, &GlobalParams::output_level_pct, 0, 100, true, false, LF::plain, derive_limited_percentages},
};

const GlobalSlider* find_global_slider(int slider_id) {
    for (const GlobalSlider& g : kGlobalSliderTable)
        if (g.slider_id == slider_id) return &g;
    return nullptr;
}

}  // namespace qv
