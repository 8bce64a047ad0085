#pragma once
// Texts of the panel's value labels. Tenths are shown as |value| / 10 and
// |value| mod 10 after a sign chosen per label.
#include <cstdint>

#include "panel/slider_tables.h"

namespace qv {

struct LabelText {
    char text[32];
};

// "%d": times, percentages, whole dB.
LabelText format_plain(std::int32_t value);
// Threshold in tenths of a dB below full scale, shown as a level: 35 -> "-3.5",
// -120 -> "+12.0", 0 -> "-0.0".
LabelText format_threshold(std::int32_t threshold_db10);
// Ratio x10: 25 -> "2.5".
LabelText format_ratio(std::int32_t ratio_x10);
// Band gain / clip threshold in tenths of a dB: 15 -> "1.5", -15 -> "-1.5".
LabelText format_band_gain(std::int32_t band_gain_db10);
// The global-slider formats.
LabelText format_global(LabelFormat format, std::int32_t value);
// OUT LEV as written by refresh_all_controls: "%d %".
LabelText format_percent(std::int32_t value);

}  // namespace qv
