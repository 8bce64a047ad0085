#include "chain/output_level.h"

#include "dsp/soft_clip.h"

namespace qv {

namespace {
constexpr std::int32_t kOutputCeiling = 32760;
constexpr double kAmTrim = 0.9;
}  // namespace

void final_soft_clip(const ChainParams& s, double& left, double& right) {
    const std::int32_t knee = s.derived.soft_clip_knee;
    const std::int32_t no_clipper = s.live.global.no_clipper;
    soft_clip(kOutputCeiling, right, knee, no_clipper);
    soft_clip(kOutputCeiling, left, knee, no_clipper);
}

void output_level_and_am(OutputLevelState& st, const ChainParams& s, std::int32_t options, double& left,
                         double& right) {
    const double level = s.derived.output_level_pct;
    left = level * left * 0.01;
    right = level * right * 0.01;
    if (options & option::am_filter) {
        am_filter_section1(st.am_section1, right, left);
        am_filter_section2(st.am_section2, right, left);
        right = kAmTrim * right;
        left = kAmTrim * left;
    }
}

}  // namespace qv
