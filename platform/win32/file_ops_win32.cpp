#include <io.h>
#include <windows.h>

#include <cstdio>

#include "platform/file_ops.h"

namespace qv::platform {

bool commit_file(std::FILE* f) { return std::fflush(f) == 0 && _commit(_fileno(f)) == 0; }

bool replace_file(const char* from, const char* to) {
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
}

}  // namespace qv::platform
