#include "chain/multiband.h"

namespace qv {

bool multiband(MultibandState&, Settings& s, Readings& r, double&, double&) {
    if (s.live.global.bypass_all) {
        r.agc_gated = 0;
        return false;
    }
    return true;
}

}  // namespace qv
