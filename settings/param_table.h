#pragma once
// Names, word indices and panel ranges of every named word of a process.
// The command-line preset editor and the panel's range checks use this one table.
#include <cstdint>

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

const ParamInfo* find_global_param(const char* name);
const ParamInfo* find_section_param(const char* name);

}  // namespace qv
