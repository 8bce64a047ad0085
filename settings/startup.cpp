#include "settings/startup.h"

#include <cstring>

namespace qv {

int startup_load(Settings&) { return 0; }
void fill_defaults(ProcessParams& p) { std::memset(&p, 0, sizeof p); }

}  // namespace qv
