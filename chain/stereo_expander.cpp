#include "chain/stereo_expander.h"

namespace qv {

void stereo_expand(StereoExpanderState&, const Settings&, Readings&, double&, double&) {}
void clear_stereo_expander(StereoExpanderState&) {}

}  // namespace qv
