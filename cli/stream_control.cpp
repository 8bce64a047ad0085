#include "cli/stream_control.h"

#include <cstdio>

#include "cli/presets/preset_store.h"
#include "platform/posix/fs_util.h"

namespace qv::cli {

bool prepare_stream_control(const StreamOptions& o, StreamControl& c, std::string& error, bool& error_is_usage) {
    error_is_usage = true;
    if (o.control.empty()) {
        if (o.control_token.empty()) return true;
        error = "--control-token needs --control";
        return false;
    }
    if (!control::parse_control_address(o.control, c.address, error)) return false;
    if (!o.control_token.empty()) {
        bool created = false;
        if (!control::load_control_token(o.control_token, c.token, created, error, error_is_usage)) return false;
        if (created) print_error("wrote a new control token to " + o.control_token);
    } else if (!c.address.loopback) {
        error = "--control on " + c.address.host + " needs --control-token FILE (only loopback may go without)";
        return false;
    }
    return true;
}

bool start_stream_control(StreamControl& c, const StreamOptions& o, Session& session, const WavStreamFormat& format,
                          std::string& error) {
    control::ControlTarget target;
    target.processor = session.processor.get();
    target.control_lock = &session.control;
    if (!settings_folder(o.choice.settings_dir, target.settings_dir, error)) return false;
    // A Load is the SIGHUP reload with another number: the stored file, the
    // --set overrides of the run applied over it.
    target.load_process = [&session, dir = target.settings_dir](int n, std::string& err) {
        if (!platform::file_exists(process_path(dir, n))) {
            err = "process " + std::to_string(n) + " does not exist";
            return control::LoadStatus::missing;
        }
        return load_stored_process_locked(session, n, err) ? control::LoadStatus::ok : control::LoadStatus::invalid;
    };
    target.channels = format.channels;
    target.input_rate = format.rate;
    target.raw = o.raw;
    c.server = control::start_web_control(target, c.address, c.token, error);
    if (!c.server) return false;
    const bool v6 = c.address.host.find(':') != std::string::npos;
    print_error("control panel at http://" + (v6 ? "[" + c.address.host + "]" : c.address.host) + ":" +
                std::to_string(control::web_control_port(*c.server)) + "/");
    return true;
}

}  // namespace qv::cli
