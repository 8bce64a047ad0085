#pragma once
// Texts of the panel's value labels: the parameter table's formats
// (settings/value_format.h), and OUT LEV's text as refresh_all_controls
// writes it.
#include <cstdint>

#include "settings/value_format.h"

namespace qv {

using LabelText = ValueText;

// OUT LEV as written by refresh_all_controls: "%d %".
LabelText format_percent(std::int32_t value);

}  // namespace qv
