#pragma once
// Names, word indices and panel ranges of every named word of a process, and
// the named assignments ("overdrive_db=12") that the command-line tool, the
// factory processes and the plug-in adapters apply through this one table.
//
// Names: every named word of GlobalParams ("overdrive_db"), every option bit
// of option_flags by its name ("mono", 0 or 1), "process_name" (text of at
// most 19 characters), and "section.B.S.NAME" for a word of the section
// record of band B (0..4 multiband low to high, 5 HF, 6 LF) and section S
// (0 compressor, 1 expander, 2 limiter). Values are decimal integers (or
// 0x-prefixed hexadecimal) inside the panel's range of the word.
#include <cstdint>
#include <string>

#include "settings/records.h"

namespace qv {

struct ParamInfo {
    const char* name;  // the word's name in GlobalParams / SectionParams
    int word;          // word index in its record
    std::int32_t min;  // panel range
    std::int32_t max;
    const char* unit;  // "ms", "dB", "0.1 dB", "%", "Hz", "0/1", "x10", "bits", ""
};

extern const ParamInfo kGlobalParamTable[];
extern const int kGlobalParamCount;
extern const ParamInfo kSectionParamTable[];
extern const int kSectionParamCount;

// The option_flags bits by name, lowest first.
struct OptionInfo {
    const char* name;
    std::int32_t bit;
};
extern const OptionInfo kOptionTable[];
extern const int kOptionCount;

// Dual-band bands 5 and 6 use band_gain_db10 as their clip threshold, -6.0..+12.0 dB.
constexpr std::int32_t kDualBandGainMin = -60;
constexpr int kProcessNameChars = 19;

const ParamInfo* find_global_param(const char* name);
const ParamInfo* find_section_param(const char* name);

// Word 0..6 of a section record, by the word index of the parameter table.
std::int32_t& section_word(SectionParams& sp, int word);
std::int32_t section_word(const SectionParams& sp, int word);

// Applies one "NAME=VALUE" to p. False, with a message naming the fault and
// p unchanged, for an unknown name, a malformed value or one outside range.
bool apply_param_assignment(ProcessParams& p, const std::string& assignment, std::string& error);

}  // namespace qv
