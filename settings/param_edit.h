#pragma once
// A process printed by name, for `preset show` and `preset params`; the
// names are those of settings/param_table.h, where apply_param_assignment
// edits one by name.
#include <cstdio>
#include <string>

#include "settings/records.h"

namespace qv {

// Every named value with its unit, the option bits by name and the 21
// section records as a table.
void print_process(std::FILE* out, const ProcessParams& p);

// Every parameter a process holds, stage by stage in the order the audio
// flows: its panel label, stored range and unit, the range as the panel shows
// it, the default, and whether it has no effect on the sound.
void print_param_list(std::FILE* out);

}  // namespace qv
