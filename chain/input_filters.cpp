#include "chain/input_filters.h"

namespace qv {

void input_lowpass(InputFilterState&, double&, double&) {}
void rotate_phase(InputFilterState&, double&, double&) {}

}  // namespace qv
