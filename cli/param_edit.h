#pragma once
// Named editing and printing of a process, for `preset` and `--set`.
//
// Names: every named word of GlobalParams ("overdrive_db"), every option bit
// of option_flags by its name ("mono", 0 or 1), "process_name" (text of at
// most 19 characters), and "section.B.S.NAME" for a word of the section
// record of band B (0..4 multiband low to high, 5 HF, 6 LF) and section S
// (0 compressor, 1 expander, 2 limiter). Values are decimal integers (or
// 0x-prefixed hexadecimal) inside the panel's range of the word.
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

}  // namespace qv::cli
