#include "control/processor_control.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <memory>

#include "engine/meter_feed.h"
#include "platform/posix/fs_util.h"
#include "settings/param_table.h"
#include "settings/process_file.h"
#include "settings/settings_folder.h"

namespace qv::control {

namespace {

ControlState state_locked(const Processor& p) {
    const Settings& s = p.settings;
    ControlState state;
    state.process = s.live;
    state.test_tone = s.test_tone_on != 0;
    state.on_air_number = s.selection.on_air_process;
    state.modified = s.selection.process_modified != 0;
    state.latency_frames = processor_latency_frames(p);
    fill_ceiling_state(p, state);
    return state;
}

Result apply_controls_locked(Processor& p, const ControlEdit& edit) {
    ProcessParams edited = p.settings.live;
    for (const auto& [name, value] : edit.assignments) {
        std::string error;
        if (!apply_param_assignment(edited, name + "=" + value, error)) return {Outcome::refused, error, name};
    }
    // Bypass All and the test tone leave the process unmodified, as on the panel.
    ProcessParams before = p.settings.live;
    before.global.bypass_all = edited.global.bypass_all;
    if (std::memcmp(&before, &edited, sizeof before) != 0) p.settings.selection.process_modified = 1;
    if (std::memcmp(&p.settings.live, &edited, sizeof edited) != 0) processor_update(p, edited);
    if (edit.test_tone >= 0 && edit.test_tone != p.settings.test_tone_on)
        processor_set_test_tone(p, edit.test_tone != 0);
    return {};
}

Result save_locked(Processor& p, const std::string& dir, const SaveRequest& save) {
    ProcessParams saved;
    Result r = write_stored_process(dir, save, p.settings.live, saved);
    if (r.outcome != Outcome::ok) return r;
    // The name is not read by the chain: no publication needed.
    std::memcpy(p.settings.live.global.process_name, saved.global.process_name, sizeof saved.global.process_name);
    p.settings.selection.on_air_process = save.number;
    p.settings.selection.process_modified = 0;
    return {};
}

// An action under the lock, with the state after it when it succeeded.
template <typename Action>
Result locked_action(const ProcessorControl& c, ControlState& after, Action action, ControlState* before = nullptr) {
    const std::lock_guard<std::mutex> lock(*c.lock);
    if (before != nullptr) *before = state_locked(*c.processor);
    Result r = action();
    if (r.outcome == Outcome::ok) after = state_locked(*c.processor);
    return r;
}

MeterTick meter_tick(const ProcessorControl& c, MeterHolds& holds) {
    MeterTick tick;
    bool no_clipper;
    {
        const std::lock_guard<std::mutex> lock(*c.lock);
        const GlobalParams& g = c.processor->settings.live.global;
        tick.bypass = g.bypass_all != 0;
        no_clipper = g.no_clipper != 0;
    }
    tick.frame = meter_feed_tick(*c.processor, holds, tick.bypass, no_clipper);
    return tick;
}

}  // namespace

void fill_ceiling_state(const Processor& p, ControlState& state) {
    state.ceiling_on = p.ceiling.on;
    // The limiter holds its level a margin below the ceiling asked for.
    const double level = p.ceiling.level.load(std::memory_order_relaxed);
    if (level > 0.0) state.ceiling_dbtp = 20.0 * std::log10(level / 32768.0) + kTruePeakMarginDb;
}

std::vector<StoredProcess> stored_processes(const std::string& dir) {
    std::vector<StoredProcess> list;
    for (int n = 0; n <= kMaxProcessNumber; ++n) {
        ProcessParams p;
        const std::string path = process_file_in(dir, n);
        if (!platform::file_exists(path) || !read_process_file(path.c_str(), p)) continue;
        char name[20];
        copy_process_name(name, p.global.process_name);
        list.push_back({n, name});
    }
    return list;
}

Result write_stored_process(const std::string& dir, const SaveRequest& save, const ProcessParams& process,
                            ProcessParams& saved) {
    saved = process;
    std::string error;
    if (save.name && !apply_param_assignment(saved, "process_name=" + *save.name, error))
        return {Outcome::refused, error, "name"};
    const std::string number = std::to_string(save.number);
    if (dir.empty()) return {Outcome::failed, "no settings folder (neither XDG_CONFIG_HOME nor HOME is set)", ""};
    const std::string path = process_file_in(dir, save.number);
    if (platform::file_exists(path) && !save.overwrite) return {Outcome::exists, "process " + number + " exists", ""};
    if (!platform::make_directories(dir, error)) return {Outcome::failed, error, ""};
    errno = 0;
    if (!write_process_file(path.c_str(), saved)) {
        const int cause = errno;
        return {Outcome::failed,
                "process " + number + " was not saved" + (cause != 0 ? std::string(": ") + std::strerror(cause) : ""),
                ""};
    }
    return {};
}

ControlTarget processor_control_target(const ProcessorControl& control) {
    ControlTarget t;
    t.state = [c = control] {
        const std::lock_guard<std::mutex> lock(*c.lock);
        return state_locked(*c.processor);
    };
    t.processes = [dir = control.settings_dir] { return stored_processes(dir); };
    t.load_process = [c = control](int number, ControlState& after) {
        return locked_action(c, after, [&] { return c.load_locked(number); });
    };
    t.apply_controls = [c = control](const ControlEdit& edit, ControlState& before, ControlState& after) {
        return locked_action(
            c, after, [&] { return apply_controls_locked(*c.processor, edit); }, &before);
    };
    t.save_process = [c = control](const SaveRequest& save, ControlState& after) {
        return locked_action(c, after, [&] { return save_locked(*c.processor, c.settings_dir, save); });
    };
    // The feed's decayed copies belong to the one thread that ticks.
    t.meter_tick = [c = control, holds = std::make_shared<MeterHolds>()] { return meter_tick(c, *holds); };
    t.format = control.format;
    return t;
}

}  // namespace qv::control
