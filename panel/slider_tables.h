#pragma once
// Constant tables of the panel's sliders: the seven shared sliders of each
// band group and the sliders of single global parameters.
#include <cstdint>

#include "settings/records.h"

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

constexpr int kMultibandGroup = 0;
constexpr int kDualBandGroup = 1;
inline int group_of_band(int band) { return band < kMultibandBands ? kMultibandGroup : kDualBandGroup; }

// How a global slider's value label is written.
enum class LabelFormat : std::uint8_t {
    plain,           // "%d"
    minus_unless_0,  // "-%d", "0" for 0 (dB below full scale)
    signed_tenths,   // "+%d.%d" / "-%d.%d" of |value| / 10, |value| mod 10
};

// The derived value a global slider writes at once.
enum class GlobalDerived : std::uint8_t {
    none,  // the chain reads the parameter itself
    gate_level,
    agc_level_floor,
    bass_attack_coef,
    bass_release_coef,
    master_attack_coef,
    master_release_coef,
    bass_clip_level,
    mix_weights,
    bass_eq_gain,  // bass EQ design, then the High Q rule
    bass_eq_freq,  // bass EQ design
    overdrive_gain,
    lookahead_samples,
    hold_samples,
    density_gain,
    stereo_depth_samples,
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
    GlobalDerived derived;
};

constexpr int kGlobalSliderCount = 24;
extern const GlobalSlider kGlobalSliderTable[kGlobalSliderCount];

// The row of this slider, or null.
const GlobalSlider* find_global_slider(int slider_id);

// Horizontal "Multiband %" slider and its label.
constexpr int kMultibandPctSlider = 1180;
constexpr int kMultibandPctLabel = 1181;

}  // namespace qv
