#include <unistd.h>

#include <cstdio>

#include "platform/file_ops.h"

namespace qv::platform {

bool commit_file(std::FILE* f) { return std::fflush(f) == 0 && fsync(fileno(f)) == 0; }

bool replace_file(const char* from, const char* to) { return std::rename(from, to) == 0; }

}  // namespace qv::platform
