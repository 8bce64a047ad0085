#include "cli/stream_control.h"

#include <cstdio>

#include "cli/presets/preset_store.h"
#include "platform/posix/fs_util.h"
#include "settings/settings_folder.h"

namespace qv::cli {

namespace {

// A token file of --control-token or --control-read-token (what: the kind
// of token, for the note that a new one was written) into token.
bool load_token(const char* option, const char* what, const std::string& path, std::string& token, std::string& error,
                bool& error_is_usage) {
    bool created = false;
    if (!control::load_control_token(option, path, token, created, error, error_is_usage)) return false;
    if (created) print_error(std::string("wrote a new ") + what + " to " + path);
    return true;
}

bool prepare_tokens(const StreamOptions& o, StreamControl& c, std::string& error, bool& error_is_usage) {
    if (!o.control_read_token.empty() && o.control_token.empty()) {
        error = "--control-read-token needs --control-token (without it every request may write)";
        return false;
    }
    if (!o.control_token.empty() &&
        !load_token("--control-token", "control token", o.control_token, c.tokens.full, error, error_is_usage))
        return false;
    if (!o.control_read_token.empty() && !load_token("--control-read-token", "read-only control token",
                                                     o.control_read_token, c.tokens.read, error, error_is_usage))
        return false;
    if (!c.tokens.read.empty() && c.tokens.read == c.tokens.full) {
        error = "--control-read-token: the read token must differ from the --control-token one";
        error_is_usage = true;
        return false;
    }
    return true;
}

}  // namespace

bool prepare_stream_control(const StreamOptions& o, StreamControl& c, std::string& error, bool& error_is_usage) {
    error_is_usage = true;
    c.dead_air.below_dbfs = o.dead_air_below_dbfs.value_or(c.dead_air.below_dbfs);
    c.dead_air.after_s = o.dead_air_after_s.value_or(c.dead_air.after_s);
    if (!control::dead_air_rule_valid(c.dead_air, error)) return false;
    c.monitored = !o.control.empty() || o.dead_air_below_dbfs || o.dead_air_after_s;
    if (o.control.empty()) {
        if (o.control_token.empty() && o.control_read_token.empty()) return true;
        error =
            (o.control_token.empty() ? "--control-read-token" : "--control-token") + std::string(" needs --control");
        return false;
    }
    if (!control::parse_control_address(o.control, c.address, error)) return false;
    if (!prepare_tokens(o, c, error, error_is_usage)) return false;
    if (c.tokens.full.empty() && !c.address.loopback) {
        error = "--control on " + c.address.host + " needs --control-token FILE (only loopback may go without)";
        return false;
    }
    return true;
}

bool start_stream_monitor(StreamControl& c, int channels, std::string& error) {
    c.tap = std::make_unique<control::SignalTap>();
    c.tap->channels = channels;
    c.monitor = control::start_station_monitor(*c.tap, c.dead_air, print_note, error);
    return c.monitor != nullptr;
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
    control::ControlTarget target = control::processor_control_target(lent);
    target.kind = "stream";
    target.monitor = c.monitor.get();
    target.log = print_note;
    c.server = control::control_register(std::move(target), c.address, c.tokens, error);
    if (!c.server) {
        error = "--control: " + error;
        return false;
    }
    const bool v6 = c.address.host.find(':') != std::string::npos;
    print_error("control panel at http://" + (v6 ? "[" + c.address.host + "]" : c.address.host) + ":" +
                std::to_string(control::registration_port(*c.server)) + "/");
    return true;
}

}  // namespace qv::cli
