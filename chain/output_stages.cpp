#include "chain/output_stages.h"

namespace qv {

void build_fir_taps(OutputState&) {}
void output_filter(OutputState&, const Settings&, double&, double&) {}
void final_soft_clip(const Settings&, double&, double&) {}
void output_level_and_am(OutputState&, const Settings&, double&, double&) {}

}  // namespace qv
