#include "plugins/plugin_control.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "control/processor_control.h"
#include "engine/meter_feed.h"
#include "plugins/plugin_core.h"
#include "settings/param_table.h"

namespace qv::plugin {

namespace {

void say(const LogSink& log, const std::string& line) {
    const std::string text = "quorvane: " + line + "\n";
    if (log.write != nullptr)
        log.write(log.context, text.c_str());
    else
        std::fprintf(stderr, "%s", text.c_str());
}

// What the page shows, the page's last edit while run() has not taken it.
// Called with control.lock held.
control::ControlState state_locked(PluginCore& c) {
    PluginControl& k = *c.control;
    k.on_air.take();
    const OnAirCopy& a = k.on_air.read_slot();
    const bool edit_waits = k.sent.seq > a.edit_seq && k.sent.generation == a.generation;
    control::ControlState s;
    s.process = edit_waits ? k.sent.process : a.process;
    s.modified = edit_waits ? k.sent.modified : a.modified;
    s.on_air_number = a.number;
    s.test_tone = a.test_tone;
    s.latency_frames = core_latency_frames(c);
    control::fill_ceiling_state(*c.processor, s);
    s.host_process = a.number;
    s.host_bypass = a.bypass;
    return s;
}

// Sends process to run() as an edit on the process state shows.
void send_edit(PluginControl& k, const ProcessParams& process, bool modified) {
    k.on_air.take();
    k.sent.process = process;
    k.sent.generation = k.on_air.read_slot().generation;
    k.sent.modified = modified;
    ++k.sent.seq;
    k.edits.write_slot() = k.sent;
    k.edits.publish();
}

control::Result apply_edit(PluginCore& c, const control::ControlEdit& edit, control::ControlState& before,
                           control::ControlState& after) {
    const std::lock_guard<std::mutex> lock(c.control->lock);
    before = state_locked(c);
    if (edit.test_tone >= 0)
        return {control::Outcome::refused, "the host's test_tone port sets the test tone", "test_tone"};
    ProcessParams edited = before.process;
    for (const auto& [name, value] : edit.assignments) {
        if (name == "bypass_all") return {control::Outcome::refused, "the host's bypass port sets Bypass All", name};
        std::string error;
        if (!apply_param_assignment(edited, name + "=" + value, error)) return {control::Outcome::refused, error, name};
    }
    if (std::memcmp(&edited, &before.process, sizeof edited) != 0) send_edit(*c.control, edited, true);
    after = state_locked(c);
    return {};
}

control::Result save(PluginCore& c, const std::string& dir, const control::SaveRequest& request,
                     control::ControlState& after) {
    const std::lock_guard<std::mutex> lock(c.control->lock);
    const control::ControlState now = state_locked(c);
    ProcessParams saved;
    control::Result r = control::write_stored_process(dir, request, now.process, saved);
    if (r.outcome != control::Outcome::ok) return r;
    send_edit(*c.control, saved, false);
    after = state_locked(c);
    return r;
}

control::MeterTick meter_tick(PluginCore& c, MeterHolds& holds) {
    const std::lock_guard<std::mutex> lock(c.control->lock);
    c.control->on_air.take();
    const OnAirCopy& a = c.control->on_air.read_slot();
    control::MeterTick tick;
    tick.bypass = a.bypass || a.process.global.bypass_all != 0;
    tick.frame = meter_feed_tick(*c.processor, holds, tick.bypass, a.process.global.no_clipper != 0);
    return tick;
}

control::ControlTarget target_for(PluginCore& c, const char* kind, const LogSink& log) {
    control::ControlTarget t;
    PluginCore* core = &c;
    t.kind = kind;
    t.host_owned = true;
    t.state = [core] {
        const std::lock_guard<std::mutex> lock(core->control->lock);
        return state_locked(*core);
    };
    t.processes = [] { return control::stored_processes(library_folder()); };
    t.load_process = [](int, control::ControlState&) {
        return control::Result{control::Outcome::refused, "the host's process port selects the process", "number"};
    };
    t.apply_controls = [core](const control::ControlEdit& edit, control::ControlState& before,
                              control::ControlState& after) { return apply_edit(*core, edit, before, after); };
    t.save_process = [core](const control::SaveRequest& request, control::ControlState& after) {
        return save(*core, library_folder(), request, after);
    };
    t.meter_tick = [core, holds = std::make_shared<MeterHolds>()] { return meter_tick(*core, *holds); };
    t.format = {2, static_cast<int>(c.host_rate), false};
    t.monitor = c.control->monitor.get();
    t.log = [log](const std::string& line) { say(log, line); };
    return t;
}

// The address and the tokens the environment names; false with the fault.
bool control_address(control::ControlAddress& address, control::ControlTokens& tokens, const LogSink& log,
                     std::string& error) {
    if (!control::parse_control_address(std::getenv("QUORVANE_CONTROL"), address, error)) {
        error = "QUORVANE_CONTROL: " + error;
        return false;
    }
    const char* token_file = std::getenv("QUORVANE_CONTROL_TOKEN");
    if (token_file != nullptr && *token_file != '\0') {
        bool created = false, usage = false;
        if (!control::load_control_token("QUORVANE_CONTROL_TOKEN", token_file, tokens.full, created, error, usage))
            return false;
        if (created) say(log, std::string("wrote a new control token to ") + token_file);
    }
    if (tokens.full.empty() && !address.loopback) {
        error =
            "QUORVANE_CONTROL on " + address.host + " needs QUORVANE_CONTROL_TOKEN=FILE (only loopback may go without)";
        return false;
    }
    return true;
}

}  // namespace

void plugin_control_start(PluginCore& c, const char* kind, const LogSink& log) {
    const char* wanted = std::getenv("QUORVANE_CONTROL");
    if (wanted == nullptr || *wanted == '\0') return;
    control::ControlAddress address;
    control::ControlTokens tokens;
    std::string error;
    if (!control_address(address, tokens, log, error)) {
        say(log, error + ": no control panel");
        return;
    }
    // In place before the registration: the server may call the target at once.
    c.control = std::make_unique<PluginControl>();
    publish_on_air(c);
    const auto monitor_log = [log](const std::string& line) { say(log, line); };
    PluginControl& k = *c.control;
    k.monitor = control::start_station_monitor(k.tap, control::DeadAirRule{}, monitor_log, error, &c.dead_air_watch);
    if (k.monitor) k.registration = control::control_register(target_for(c, kind, log), address, tokens, error);
    if (!k.registration) {
        if (!error.empty()) say(log, "QUORVANE_CONTROL: " + error + ": no control panel");
        c.control.reset();
        return;
    }
    say(log, std::string(kind) + " instance " + control::registration_id(*k.registration) +
                 " on the control panel at port " + std::to_string(control::registration_port(*k.registration)));
}

bool take_page_edit(PluginCore& c) {
    PluginControl* k = c.control.get();
    if (k == nullptr || !k->edits.take()) return false;
    const PageEdit& e = k->edits.read_slot();
    c.edit_seq = e.seq;
    if (e.generation != c.generation) return false;
    c.on_air = e.process;
    c.modified = e.modified;
    c.restored = false;
    return true;
}

void publish_on_air(PluginCore& c) {
    PluginControl* k = c.control.get();
    if (k == nullptr) return;
    OnAirCopy& a = k->on_air.write_slot();
    a.process = c.on_air;
    a.number = c.process_number;
    a.modified = c.modified;
    a.bypass = c.bypass;
    a.test_tone = c.test_tone;
    a.generation = c.generation;
    a.edit_seq = c.edit_seq;
    k->on_air.publish();
}

}  // namespace qv::plugin
