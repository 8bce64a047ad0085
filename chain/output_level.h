#pragma once
// The last stages before the 16-bit conversion: the soft clip at 32760, the
// output level and the optional AM band-limiting filter with its 0.9 trim.
#include "dsp/am_filter.h"
#include "settings/settings.h"

namespace qv {

struct OutputLevelState {
    AmSectionState am_section1;
    AmSectionState am_section2;
};

// Right then left; does nothing with "No Clipper". Output can reach 34908.
void final_soft_clip(const ChainParams& s, double& left, double& right);
// "OUT LEV %", then with "AM FILTER" the two tenth-order sections and 0.9.
void output_level_and_am(OutputLevelState& st, const ChainParams& s, std::int32_t options, double& left, double& right);

}  // namespace qv
