#include "platform/host_path.h"

namespace qv::platform {

bool host_executable_path(char*, std::size_t) { return false; }

}  // namespace qv::platform
