#include "platform/profile.h"

namespace qv::platform {

int profile_read_int(const char*, const char*, int d, const char*) { return d; }
bool profile_write_string(const char*, const char*, const char*, const char*) { return false; }

}  // namespace qv::platform
