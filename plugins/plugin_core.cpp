#include "plugins/plugin_core.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "settings/startup.h"

namespace qv::plugin {

const PortInfo kPorts[kPortCount] = {
    {"in_l", "Left in", PortKind::kAudioIn, 0, 0, 0, false, false},
    {"in_r", "Right in", PortKind::kAudioIn, 0, 0, 0, false, false},
    {"out_l", "Left out", PortKind::kAudioOut, 0, 0, 0, false, false},
    {"out_r", "Right out", PortKind::kAudioOut, 0, 0, 0, false, false},
    {"process", "Process", PortKind::kControlIn, 0, 100, 0, true, false},
    {"bypass", "Bypass", PortKind::kControlIn, 0, 1, 0, false, true},
    {"test_tone", "Test tone", PortKind::kControlIn, 0, 1, 0, false, true},
    {"input_gain_db", "Input gain", PortKind::kControlIn, -20, 20, 0, false, false},
    {"output_gain_db", "Output gain", PortKind::kControlIn, -24, 0, 0, false, false},
    {"latency", "Latency", PortKind::kControlOut, 0, 192000, 0, true, false},
    {"status", "Status", PortKind::kControlOut, 0, 3, 0, true, false},
    {"reload", "Reload", PortKind::kControlIn, 0, 1, 0, false, true},
    {"ceiling", "True-peak ceiling", PortKind::kControlIn, 0, 1, 0, false, true},
    {"ceiling_dbtp", "Ceiling", PortKind::kControlIn, static_cast<float>(kCeilingMinDbtp),
     static_cast<float>(kCeilingMaxDbtp), static_cast<float>(kCeilingDefaultDbtp), false, false},
    {"silence_s", "Silence", PortKind::kControlOut, 0, 86400, 0, false, false},
};

namespace {

float db_to_gain(float db) { return db == 0.0f ? 1.0f : static_cast<float>(std::pow(10.0, db / 20.0)); }

float port_value(const PluginCore& c, int index) {
    const float* p = c.port[index];
    return p != nullptr && std::isfinite(*p) ? *p : kPorts[index].def;
}

float clamped(const PluginCore& c, int index) {
    return std::clamp(port_value(c, index), kPorts[index].min, kPorts[index].max);
}

// -1 while the port is not connected: a host may connect it after activate.
int process_port(const PluginCore& c) {
    if (c.port[kProcess] == nullptr) return -1;
    const float v = port_value(c, kProcess);
    return static_cast<int>(std::clamp(std::floor(v + 0.5f), 0.0f, static_cast<float>(kMaxProcessNumber)));
}

// Takes the library's newest snapshot, and says so to the library.
void pick_up(PluginCore& c) {
    const LibrarySnapshot* s = library_newest(*c.member);
    if (s == c.snapshot) return;
    c.snapshot = s;
    library_hold(*c.member, *s);
}

// Looks at the selected number's entry in the snapshot: at a new selection
// or a reload edge (fresh), or when the entry changed. True when on_air
// changed. A process that cannot play leaves on_air as it is, sets the
// status and asks the library's thread to tell it; one that can goes on air
// when fresh or when it was waiting, while an edit of the process on air
// waits for a reload.
bool look(PluginCore& c, bool fresh) {
    const int n = c.process_number;
    const ProcessEntry& e = *c.snapshot->entry[n];
    if (!fresh && e.version == c.seen_version) return false;
    c.seen_version = e.version;
    if (playable(e)) {
        c.status = kOnAir;
        if (!fresh && !c.pending) return false;
        c.pending = false;
        c.restored = false;
        c.on_air = e.process;
        return true;
    }
    const int status = e.status == FileStatus::kMissing ? kMissing : kInvalid;
    if (fresh) c.pending = true;
    if (fresh || status != c.status)
        c.member->report[n].store(report_word(++c.serial, status), std::memory_order_release);
    c.status = status;
    return false;
}

// The process port and the reload edge; true when on_air changed.
bool select(PluginCore& c) {
    const int number = process_port(c);
    const bool high = port_value(c, kReload) >= 0.5f;
    const bool edge = high && !c.reload_high;
    c.reload_high = high;
    if (number < 0) return false;
    if (number == c.process_number) return look(c, edge);
    c.process_number = number;
    if (c.restored && number == c.restored_number && !edge) {
        // The restored process plays while the port holds its saved number.
        c.seen_version = c.snapshot->entry[number]->version;
        c.pending = false;
        c.status = kOnAir;
        return true;
    }
    c.restored = false;
    return look(c, true);
}

void stage(PluginCore& c) {
    c.staged = c.on_air;
    if (c.bypass) c.staged.global.bypass_all = 1;
}

void take_trims(PluginCore& c) {
    const float in_db = clamped(c, kInputGain);
    const float out_db = clamped(c, kOutputGain);
    if (in_db != c.input_gain_db) {
        c.input_gain_db = in_db;
        c.input_gain = db_to_gain(in_db);
    }
    if (out_db != c.output_gain_db) {
        c.output_gain_db = out_db;
        c.output_gain = db_to_gain(out_db);
    }
}

// Some hosts (Liquidsoap) write their control values only just before each
// run(), after activate: the ceiling port is read once more before the first
// block, while the processor can still take or drop the stage (no block has
// gone through it; switching it allocates nothing). From then on it stays,
// and so does the latency.
void take_first_ceiling(PluginCore& c, float dbtp) {
    c.first_block = false;
    const bool on = port_value(c, kCeiling) >= 0.5f;
    if (on == c.ceiling) return;
    c.ceiling = on;
    c.ceiling_dbtp = dbtp;
    ceiling_start(c.processor->ceiling, on, dbtp);
}

// Reads every control once per block; whatever changed is published whole
// before the block's first frame. A new process goes on air as an operator's
// edit does: the chain's memories run on.
// A page's edit goes on air the same way, after the host's selection: an
// edit made on the process the host just replaced is dropped.
void apply_controls(PluginCore& c) {
    Processor& p = *c.processor;
    pick_up(c);
    const bool bypass = port_value(c, kBypass) >= 0.5f;
    const bool tone = port_value(c, kTestTone) >= 0.5f;
    const float dbtp = clamped(c, kCeilingDbtp);
    if (c.first_block) take_first_ceiling(c, dbtp);
    const int number = c.process_number;
    bool changed = false;
    if (select(c)) {
        ++c.generation;
        c.modified = false;
        changed = true;
    }
    changed = take_page_edit(c) || changed;
    const bool told = changed || bypass != c.bypass || tone != c.test_tone || number != c.process_number;
    if (changed || bypass != c.bypass) {
        c.bypass = bypass;
        stage(c);
        processor_update(p, c.staged);
    }
    if (tone != c.test_tone) {
        c.test_tone = tone;
        processor_set_test_tone(p, tone);
    }
    if (told) publish_on_air(c);
    if (dbtp != c.ceiling_dbtp) {
        c.ceiling_dbtp = dbtp;
        processor_set_ceiling(p, dbtp);
    }
    take_trims(c);
}

void run_direct(PluginCore& c, std::uint32_t frames) {
    const float* in_l = c.port[kInLeft];
    const float* in_r = c.port[kInRight];
    float* out_l = c.port[kOutLeft];
    float* out_r = c.port[kOutRight];
    for (std::uint32_t done = 0; done < frames;) {
        const int m = static_cast<int>(std::min<std::uint32_t>(kBlockFrames, frames - done));
        // The whole block is read before any of it is written: the host may
        // give the same buffer for input and output.
        for (int i = 0; i < m; ++i) {
            c.work[2 * i] = to_pcm16(in_l[done + i], c.input_gain);
            c.work[2 * i + 1] = to_pcm16(in_r[done + i], c.input_gain);
        }
        processor_run(*c.processor, c.work, m, 2);
        if (c.control) control::tap_output(c.control->tap, c.work, static_cast<std::size_t>(m));
        for (int i = 0; i < m; ++i) {
            out_l[done + i] = from_pcm16(c.work[2 * i], c.output_gain);
            out_r[done + i] = from_pcm16(c.work[2 * i + 1], c.output_gain);
        }
        done += static_cast<std::uint32_t>(m);
    }
}

// The dead-air detector on the block's input (after the input gain) and the
// silence_s port, before run() may overwrite the input in place.
void watch_input(PluginCore& c, std::uint32_t frames) {
    const float* in_l = c.port[kInLeft];
    const float* in_r = c.port[kInRight];
    float peak = 0.0f;
    for (std::uint32_t i = 0; i < frames; ++i) {
        // NaN never compares greater: it counts as silence.
        const float l = std::fabs(in_l[i]), r = std::fabs(in_r[i]);
        if (l > peak) peak = l;
        if (r > peak) peak = r;
    }
    control::DeadAirWatch& w = c.dead_air_watch;
    const control::DeadAirRule rule{w.below_dbfs.load(std::memory_order_relaxed),
                                    w.after_s.load(std::memory_order_relaxed)};
    const double level = static_cast<double>(peak) * c.input_gain;
    const double dbfs = level > 0.0 ? 20.0 * std::log10(level) : -INFINITY;
    control::dead_air_advance(c.dead_air, rule, dbfs, frames / c.host_rate);
    w.quiet_s.store(c.dead_air.quiet_s, std::memory_order_relaxed);
    w.dead_air.store(c.dead_air.dead_air, std::memory_order_relaxed);
}

}  // namespace

std::unique_ptr<PluginCore> core_create(double host_rate, LogSink log) {
    if (!(host_rate >= 8000.0 && host_rate <= 768000.0)) return nullptr;
    auto c = std::make_unique<PluginCore>();
    c->host_rate = host_rate;
    c->member.reset(library_join(log));
    if (!c->member) return nullptr;
    pick_up(*c);
    fill_defaults(c->on_air);
    c->processor = make_processor(c->on_air);
    return c;
}

bool core_activate(PluginCore& c) {
    // A fresh processor: filter memories from rest, as a newly loaded module,
    // on the selected process (or, that one missing, the process on air).
    pick_up(c);
    c.process_number = -1;
    c.pending = false;
    c.status = kOnAir;
    c.reload_high = port_value(c, kReload) >= 0.5f;
    select(c);
    c.bypass = port_value(c, kBypass) >= 0.5f;
    c.test_tone = port_value(c, kTestTone) >= 0.5f;
    c.ceiling = port_value(c, kCeiling) >= 0.5f;
    c.ceiling_dbtp = clamped(c, kCeilingDbtp);
    take_trims(c);
    stage(c);
    ++c.generation;
    c.modified = false;
    std::unique_ptr<Processor> made = make_processor(c.staged, ProcessorOptions{c.ceiling, c.ceiling_dbtp});
    c.first_block = true;
    if (c.test_tone) processor_set_test_tone(*made, true);
    {
        // The page reads the processor and the bridge being replaced.
        std::unique_lock<std::mutex> lock;
        if (c.control) lock = std::unique_lock<std::mutex>(c.control->lock);
        std::swap(c.processor, made);
        c.silent = false;
        if (c.host_rate != 44100.0) {
            if (!c.bridge) c.bridge = std::make_unique<RateBridge>();
            c.bridge->tap = c.control ? &c.control->tap : nullptr;
            c.silent = !bridge_start(*c.bridge, c.host_rate);
        } else {
            c.bridge.reset();
        }
    }
    made.reset();
    publish_on_air(c);
    if (c.port[kLatency] != nullptr) *c.port[kLatency] = static_cast<float>(core_latency_frames(c));
    if (c.port[kStatus] != nullptr) *c.port[kStatus] = static_cast<float>(c.silent ? kNoResampler : c.status);
    if (c.silent) {
        const char* text = "quorvane: the resampler cannot be created: the plug-in plays silence\n";
        const LogSink& log = c.member->log;
        if (log.write != nullptr)
            log.write(log.context, text);
        else
            std::fprintf(stderr, "%s", text);
    }
    return !c.silent;
}

void core_restore(PluginCore& c, const ProcessParams& process, int number) {
    c.on_air = process;
    ++c.generation;
    c.modified = false;
    c.restored = true;
    c.restored_number = std::clamp(number, 0, kMaxProcessNumber);
    // Played from the next run() on when the port still holds the saved number.
    c.process_number = -1;
}

int core_state_number(const PluginCore& c) {
    if (c.restored) return c.restored_number;
    return c.process_number >= 0 ? c.process_number : std::max(0, process_port(c));
}

int core_latency_frames(const PluginCore& c) {
    const int chain = processor_latency_frames(*c.processor);
    if (!c.bridge) return chain;
    return c.bridge->latency_frames + static_cast<int>(std::lround(chain * c.host_rate / 44100.0));
}

void core_run(PluginCore& c, std::uint32_t frames) {
    apply_controls(c);
    if (c.port[kInLeft] != nullptr && c.port[kInRight] != nullptr && c.port[kOutLeft] != nullptr &&
        c.port[kOutRight] != nullptr) {
        watch_input(c, frames);
        if (c.silent) {
            for (std::uint32_t i = 0; i < frames; ++i) c.port[kOutLeft][i] = c.port[kOutRight][i] = 0.0f;
        } else if (c.bridge) {
            bridge_run(*c.bridge, *c.processor, c.port[kInLeft], c.port[kInRight], c.port[kOutLeft], c.port[kOutRight],
                       frames, c.input_gain, c.output_gain);
        } else {
            run_direct(c, frames);
        }
    }
    if (c.port[kLatency] != nullptr) *c.port[kLatency] = static_cast<float>(core_latency_frames(c));
    if (c.port[kStatus] != nullptr) *c.port[kStatus] = static_cast<float>(c.silent ? kNoResampler : c.status);
    if (c.port[kSilenceS] != nullptr) *c.port[kSilenceS] = static_cast<float>(c.dead_air.quiet_s);
}

}  // namespace qv::plugin
