#pragma once
// Constant tables of the panel's sliders: the seven shared sliders of each
// band group and the sliders of single global parameters.
#include <cstdint>

#include "settings/records.h"
#include "settings/settings.h"

namespace qv {

// Roles of the seven sliders of a band group.
enum SliderRole : int { kRatio, kThreshold, kAttack1, kAttack2, kRelease1, kRelease2, kBandGain, kSliderRoles };

struct BandSlider {
    int slider_id;
    std::int32_t range_max;
    std::int32_t range_min;
    int label_id;  // value label under the slider
};

struct BandSliderRow {
    int group;  // 0 multiband (bands 0..4), 1 dual-band (bands 5, 6)
    BandSlider slider[kSliderRoles];
};

// One row per band; rows of a group are identical.
extern const BandSliderRow kBandSliderTable[kBands];

// The word of the section record (settings/param_table.h numbering) that
// each role edits; the band gain is always the word of section 0.
constexpr int kSliderRoleWord[kSliderRoles] = {5, 4, 0, 2, 1, 3, 6};

constexpr int kMultibandGroup = 0;
constexpr int kDualBandGroup = 1;
inline int group_of_band(int band) { return band < kMultibandBands ? kMultibandGroup : kDualBandGroup; }

// How a global slider's value label is written.
enum class LabelFormat : std::uint8_t {
    plain,           // "%d"
    minus_unless_0,  // "-%d", "0" for 0 (dB below full scale)
    signed_tenths,   // "+%d.%d" / "-%d.%d" of |value| / 10, |value| mod 10
};

struct GlobalSlider {
    int slider_id;
    int label_id;
    std::int32_t GlobalParams::*param;
    std::int32_t range_min;
    std::int32_t range_max;
    bool explicit_range;  // false: the trackbar keeps its default 0..100
    bool inverted;        // stored value = range_max - position (Max Gain)
    LabelFormat format;
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
