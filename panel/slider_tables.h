#pragma once
// Constant tables of the panel's sliders: the seven shared sliders of each
// band group and the sliders of single global parameters. Ranges and label
// formats are those of the parameter table.
#include <cstdint>

#include "settings/param_table.h"
#include "settings/records.h"
#include "settings/settings.h"

namespace qv {

// Roles of the seven sliders of a band group.
enum SliderRole : int { kRatio, kThreshold, kAttack1, kAttack2, kRelease1, kRelease2, kBandGain, kSliderRoles };

// The section word each role edits; the band gain is always the word of section 0.
inline constexpr const ParamInfo* kSliderRoleParam[kSliderRoles] = {
    &section_param("ratio_x10"),      &section_param("threshold_db10"), &section_param("attack1_ms"),
    &section_param("attack2_ms"),     &section_param("release1_ms"),    &section_param("release2_ms"),
    &section_param("band_gain_db10"),
};

struct BandSlider {
    int slider_id;
    int label_id;  // value label under the slider
};

struct BandSliderRow {
    int group;  // 0 multiband (bands 0..4), 1 dual-band (bands 5, 6)
    BandSlider slider[kSliderRoles];
};

// One row per band; rows of a group are identical.
extern const BandSliderRow kBandSliderTable[kBands];

constexpr int kMultibandGroup = 0;
constexpr int kDualBandGroup = 1;
inline int group_of_band(int band) { return band < kMultibandBands ? kMultibandGroup : kDualBandGroup; }

struct GlobalSlider {
    int slider_id;
    int label_id;
    const ParamInfo* param;  // the word, its range and its label format
    bool explicit_range;     // false: the trackbar keeps its default 0..100
    bool inverted;           // stored value = range max - position (Max Gain)
    // The settings' derivation of the group the parameter belongs to; null
    // where nothing is derived from it.
    void (*derive)(Settings&);
};

constexpr int kGlobalSliderCount = 24;
extern const GlobalSlider kGlobalSliderTable[kGlobalSliderCount];

// The row of this slider, or null.
const GlobalSlider* find_global_slider(int slider_id);

// Horizontal "Multiband %" slider and its label.
constexpr int kMultibandPctSlider = 1180;
constexpr int kMultibandPctLabel = 1181;

}  // namespace qv
