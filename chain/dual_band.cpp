#include "chain/dual_band.h"

namespace qv {

void dual_band(DualBandState&, MultibandState&, Settings&, Readings&, double&, double&) {}

}  // namespace qv
