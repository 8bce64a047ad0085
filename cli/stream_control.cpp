#include "cli/stream_control.h"

#include <cstdio>

#include "cli/presets/preset_store.h"
#include "platform/posix/fs_util.h"
#include "settings/settings_folder.h"

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
    control::ProcessorControl lent;
    lent.processor = session.processor.get();
    lent.lock = &session.control;
    if (!settings_folder(o.choice.settings_dir, lent.settings_dir, error)) return false;
    // A Load is the SIGHUP reload with another number: the stored file, the
    // --set overrides of the run applied over it.
    lent.load_locked = [&session, dir = lent.settings_dir](int n) {
        control::Result r;
        if (!platform::file_exists(process_file_in(dir, n))) {
            r = {control::Outcome::missing, "process " + std::to_string(n) + " does not exist", ""};
        } else if (!load_stored_process_locked(session, n, r.error)) {
            r.outcome = control::Outcome::refused;
        }
        return r;
    };
    lent.format = {format.channels, format.rate, o.raw};
    c.server = control::start_web_control(control::processor_control_target(lent), c.address, c.token, error);
    if (!c.server) return false;
    const bool v6 = c.address.host.find(':') != std::string::npos;
    print_error("control panel at http://" + (v6 ? "[" + c.address.host + "]" : c.address.host) + ":" +
                std::to_string(control::web_control_port(*c.server)) + "/");
    return true;
}

}  // namespace qv::cli
