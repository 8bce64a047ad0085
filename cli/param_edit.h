#pragma once
// Named editing and printing of a process, for `preset` and `--set`; the
// names are those of settings/param_table.h.
#include <cstdio>
#include <string>

#include "settings/records.h"

namespace qv::cli {

// Applies one "NAME=VALUE" to p. False, with a message naming the fault and
// p unchanged, for an unknown name, a malformed value or one outside range.
bool apply_assignment(ProcessParams& p, const std::string& assignment, std::string& error);

// Every named value with its unit, the option bits by name and the 21
// section records as a table.
void print_process(std::FILE* out, const ProcessParams& p);

// Every parameter a process holds, stage by stage in the order the audio
// flows: its panel label, stored range and unit, the range as the panel shows
// it, the default, and whether it has no effect on the sound.
void print_param_list(std::FILE* out);

}  // namespace qv::cli
