#include "panel/label_format.h"

#include <cstdio>

namespace qv {

namespace {

// sign, then |value| / 10 "." |value| mod 10; 64-bit so that any stored word is safe.
LabelText tenths(const char* sign, std::int32_t value) {
    const long long magnitude = value < 0 ? -static_cast<long long>(value) : value;
    LabelText t;
    std::snprintf(t.text, sizeof t.text, "%s%lld.%lld", sign, magnitude / 10, magnitude % 10);
    return t;
}

}  // namespace

LabelText format_plain(std::int32_t value) {
    LabelText t;
    std::snprintf(t.text, sizeof t.text, "%d", static_cast<int>(value));
    return t;
}

LabelText format_threshold(std::int32_t threshold_db10) {
    return tenths(threshold_db10 >= 0 ? "-" : "+", threshold_db10);
}

LabelText format_ratio(std::int32_t ratio_x10) { return tenths("", ratio_x10); }

LabelText format_band_gain(std::int32_t band_gain_db10) {
    return tenths(band_gain_db10 >= 0 ? "" : "-", band_gain_db10);
}

LabelText format_global(LabelFormat format, std::int32_t value) {
    switch (format) {
        case LabelFormat::plain:
            break;
        case LabelFormat::minus_unless_0: {
            LabelText t;
            std::snprintf(t.text, sizeof t.text, "%s%d", value != 0 ? "-" : "", static_cast<int>(value));
            return t;
        }
        case LabelFormat::signed_tenths:
            return tenths(value < 0 ? "-" : "+", value);
    }
    return format_plain(value);
}

LabelText format_percent(std::int32_t value) {
    LabelText t;
    std::snprintf(t.text, sizeof t.text, "%d %%", static_cast<int>(value));
    return t;
}

}  // namespace qv
