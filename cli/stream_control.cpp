#include "cli/stream_control.h"

#include <cstdio>

#include "cli/param_edit.h"
#include "settings/process_file.h"

namespace qv::cli {

namespace {

std::string stored_process_path(const std::string& dir, int n) {
    char name[16];
    return process_file_name(n, name) ? dir + "/" + name : std::string();
}

}  // namespace

bool prepare_stream_control(const StreamOptions& o, StreamControl& c, std::string& error, bool& error_is_usage) {
    error_is_usage = true;
    if (o.control.empty()) {
        if (o.control_token.empty()) return true;
        error = "--control-token needs --control";
        return false;
    }
    if (!parse_control_address(o.control, c.address, error)) return false;
    if (!o.control_token.empty()) {
        bool created = false;
        if (!load_control_token(o.control_token, c.token, created, error, error_is_usage)) return false;
        if (created) print_error("wrote a new control token to " + o.control_token);
    } else if (!c.address.loopback) {
        error = "--control on " + c.address.host + " needs --control-token FILE (only loopback may go without)";
        return false;
    }
    return true;
}

bool start_stream_control(StreamControl& c, const StreamOptions& o, const Session& session,
                          const WavStreamFormat& format, std::string& error) {
    const ProcessChoice& choice = o.choice;
    // The session's directory holds what it put on air: the stored process,
    // or a private copy (number 0) with the preset or the --set overrides.
    const int number = choice.process_number.value_or(0);
    ProcessParams on_air;
    const std::string on_air_path = stored_process_path(session.dir.path, session.dir.is_private ? 0 : number);
    if (!read_process_file(on_air_path.c_str(), on_air)) {
        error = on_air_path + ": the process on air cannot be read";
        return false;
    }
    c.processor = make_processor(on_air);
    Settings& s = c.processor->settings;
    s.selection.on_air_process = choice.preset_file.empty() ? number : -1;
    s.selection.process_modified = choice.sets.empty() ? 0 : 1;

    ControlTarget target;
    target.processor = c.processor.get();
    target.control_lock = &c.lock;
    if (!choice.settings_dir.empty())
        target.settings_dir = choice.settings_dir;
    else if (!default_settings_dir(target.settings_dir, error))
        return false;
    // A Load is the SIGHUP reload with another number: the stored file, the
    // --set overrides of the run applied over it.
    target.load_process = [&c, dir = target.settings_dir, sets = choice.sets](int n, std::string& err) {
        const std::string path = stored_process_path(dir, n);
        ProcessParams p;
        if (!file_exists(path)) {
            err = "process " + std::to_string(n) + " does not exist";
            return LoadStatus::missing;
        }
        if (!read_process_file(path.c_str(), p)) {
            err = "process " + std::to_string(n) + " is not a valid process file";
            return LoadStatus::invalid;
        }
        for (const std::string& set : sets)
            if (!apply_assignment(p, set, err)) return LoadStatus::invalid;
        processor_load(*c.processor, p);
        c.processor->settings.selection.on_air_process = n;
        c.processor->settings.selection.process_modified = sets.empty() ? 0 : 1;
        return LoadStatus::ok;
    };
    target.channels = format.channels;
    target.input_rate = format.rate;
    target.raw = o.raw;
    c.server = start_web_control(target, c.address, c.token, error);
    if (!c.server) return false;
    const bool v6 = c.address.host.find(':') != std::string::npos;
    print_error("control panel at http://" + (v6 ? "[" + c.address.host + "]" : c.address.host) + ":" +
                std::to_string(web_control_port(*c.server)) + "/");
    return true;
}

}  // namespace qv::cli
