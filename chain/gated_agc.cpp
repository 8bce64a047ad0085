#include "chain/gated_agc.h"

namespace qv {

void gated_agc(AgcState&, Settings&, Readings&, double, double&, double&) {}

}  // namespace qv
