#pragma once
// The stored processes of the settings folder ($XDG_CONFIG_HOME/quorvane,
// else ~/.config/quorvane), read whole when a plug-in instance is created,
// so that a change of the process port costs a copy and never a file access.
#include <cstdint>
#include <string>

#include "settings/process_file.h"

namespace qv::plugin {

enum class FileStatus : std::uint8_t { kValid, kMissing, kInvalid };

struct ProcessLibrary {
    std::string folder;  // empty when neither XDG_CONFIG_HOME nor HOME is set
    ProcessParams defaults;
    ProcessParams process[kMaxProcessNumber + 1];
    FileStatus status[kMaxProcessNumber + 1];
};

// Reads every qv$N.dat of the folder. Allocates and makes system calls: the
// control side only.
void read_process_library(ProcessLibrary& lib);

}  // namespace qv::plugin
