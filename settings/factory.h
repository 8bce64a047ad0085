#pragma once
// The factory processes: ready-made processes for common formats at fixed
// numbers 90 and up, the same numbers for the command-line tool, the
// plug-ins and the installers. Their source is the text of factory/*.txt
// (NAME=VALUE assignments of settings/param_table.h over the default
// process), compiled into this table at build time.
#include <string>

#include "settings/records.h"

namespace qv {

struct FactoryProcess {
    int number;                      // 90..100
    const char* name;                // process_name, at most 19 characters
    const char* description;         // one line
    const char* const* assignments;  // "NAME=VALUE", applied in order over the defaults
    int assignment_count;
};

extern const FactoryProcess kFactoryProcesses[];  // by number, ascending
extern const int kFactoryProcessCount;

// The factory process of that number, or null.
const FactoryProcess* find_factory_process(int number);

// The full process: the defaults, then the assignments. False (with the
// failing assignment named in error) only for a table that does not fit the
// parameter table, which the build's test rules out.
bool factory_params(const FactoryProcess& f, ProcessParams& out, std::string& error);

}  // namespace qv
