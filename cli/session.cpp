#include "cli/session.h"

#include <string>

#include "cli/presets/preset_store.h"
#include "platform/posix/fs_util.h"
#include "settings/param_table.h"
#include "settings/process_file.h"
#include "settings/startup.h"

namespace qv::cli {

namespace {

std::string name_of(const ProcessParams& p) {
    char name[20];
    copy_process_name(name, p.global.process_name);
    return name;
}

}  // namespace

bool check_choice(const ProcessChoice& choice, std::string& error, bool& error_is_usage) {
    error_is_usage = true;
    ProcessParams scratch;
    fill_defaults(scratch);
    for (const std::string& set : choice.sets)
        if (!apply_param_assignment(scratch, set, error)) return false;
    error_is_usage = false;
    if (!choice.preset_file.empty()) {
        if (platform::is_directory(choice.preset_file)) {
            error = choice.preset_file + ": is a directory";
            return false;
        }
        if (!platform::file_exists(choice.preset_file)) {
            error = choice.preset_file + ": no such process file";
            return false;
        }
    }
    return true;
}

bool resolve_process(const ProcessChoice& choice, ProcessParams& p, int& number, std::string& description,
                     std::string& error) {
    number = -1;
    if (!choice.preset_file.empty()) {
        if (!read_process_file(choice.preset_file.c_str(), p)) {
            error = choice.preset_file + ": not a valid process file";
            return false;
        }
        description = "preset " + choice.preset_file + " " + quoted_process_name(p);
    } else {
        if (!resolve_process(choice.settings_dir, choice.process_number, p, description, error)) return false;
        // A stored process plays (number given, or process 0 found), else the built-in default.
        if (description.rfind("process ", 0) == 0) number = choice.process_number.value_or(0);
    }
    for (const std::string& set : choice.sets)
        if (!apply_param_assignment(p, set, error)) return false;
    if (!choice.sets.empty()) description += " with --set";
    return true;
}

namespace {

// The processor's own record of what is on air, which the web control shows.
void note_on_air(Session& s, const ProcessParams& p, int number, const std::string& description) {
    s.process_number = number;
    s.process_name = name_of(p);
    s.description = description;
    s.processor->settings.selection.on_air_process = number;
    s.processor->settings.selection.process_modified = s.choice.sets.empty() ? 0 : 1;
}

bool load_choice_locked(Session& s, const ProcessChoice& choice, std::string& error) {
    ProcessParams p;
    int number = -1;
    std::string description;
    if (!resolve_process(choice, p, number, description, error)) return false;
    processor_load(*s.processor, p);
    s.choice = choice;
    note_on_air(s, p, number, description);
    return true;
}

}  // namespace

bool start_session(Session& s, const ProcessChoice& choice, std::string& error) {
    ProcessParams p;
    int number = -1;
    std::string description;
    if (!resolve_process(choice, p, number, description, error)) return false;
    s.choice = choice;
    s.processor = make_processor(
        p, ProcessorOptions{choice.ceiling_dbtp.has_value(), choice.ceiling_dbtp.value_or(kCeilingDefaultDbtp)});
    note_on_air(s, p, number, description);
    return true;
}

bool reload_session(Session& s, OnAir& now, std::string& error) {
    const std::lock_guard<std::mutex> lock(s.control);
    if (!load_choice_locked(s, s.choice, error)) return false;
    now = {s.description, processor_latency_frames(*s.processor)};
    return true;
}

bool load_stored_process_locked(Session& s, int number, std::string& error) {
    ProcessChoice choice = s.choice;
    choice.preset_file.clear();
    choice.process_number = number;
    return load_choice_locked(s, choice, error);
}

OnAir session_on_air(Session& s) {
    const std::lock_guard<std::mutex> lock(s.control);
    return {s.description, processor_latency_frames(*s.processor)};
}

}  // namespace qv::cli
