#include "platform/host_path.h"

namespace qv::platform {

bool host_file_path(const char*, char*, std::size_t) { return false; }
bool replace_file_name(const char*, const char*, char*, std::size_t) { return false; }

}  // namespace qv::platform
