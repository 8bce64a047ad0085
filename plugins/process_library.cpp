#include "plugins/process_library.h"

#include <sys/stat.h>

#include "settings/settings_folder.h"
#include "settings/startup.h"

namespace qv::plugin {

void read_process_library(ProcessLibrary& lib) {
    fill_defaults(lib.defaults);
    std::string error;
    if (!default_settings_folder(lib.folder, error)) lib.folder.clear();
    for (int n = 0; n <= kMaxProcessNumber; ++n) {
        lib.status[n] = FileStatus::kMissing;
        if (lib.folder.empty()) continue;
        const std::string path = process_file_in(lib.folder, n);
        struct stat st;
        if (stat(path.c_str(), &st) != 0) continue;
        lib.status[n] = read_process_file(path.c_str(), lib.process[n]) ? FileStatus::kValid : FileStatus::kInvalid;
    }
}

}  // namespace qv::plugin
