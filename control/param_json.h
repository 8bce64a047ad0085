#pragma once
// The parameter table (settings/param_table.h) as the browser control gives
// it: every named word of a process with its range, unit, stage, caption and
// panel format (GET /api/params), the values of a process by the same names
// (GET /api/state), and the words two processes differ in, for the log.
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "settings/param_table.h"

namespace qv::control {

// One named word: a global, an option bit, or a word of band b's section s
// ("section.B.S.NAME").
struct NamedWord {
    std::string name;
    const ParamInfo* info = nullptr;     // globals and section words
    const OptionInfo* option = nullptr;  // option bits
    int band = -1;                       // section words
    int section = -1;
};

// Every named word, in the table's order: globals, option bits, then the
// section words band by band, section by section.
const std::vector<NamedWord>& named_words();

std::int32_t word_value(const NamedWord& w, const ProcessParams& p);
// The value as the panel shows it: "-40 dB", "4.0:1", "on"/"off" for a bit.
std::string word_text(const NamedWord& w, std::int32_t value);

nlohmann::json params_json();
// Name -> stored value of every named word.
nlohmann::json values_json(const ProcessParams& p);
// "NAME OLD -> NEW" for every named word that differs, values as the panel
// shows them; the name when it changed.
std::vector<std::string> process_changes(const ProcessParams& before, const ProcessParams& after);

}  // namespace qv::control
