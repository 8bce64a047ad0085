#include "panel/label_format.h"

#include <cstdio>

namespace qv {

LabelText format_percent(std::int32_t value) {
    LabelText t;
    std::snprintf(t.text, sizeof t.text, "%d %%", static_cast<int>(value));
    return t;
}

}  // namespace qv
