#include "plugins/plugin_core.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

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
};

namespace {

void say(const PluginCore& c, const char* text) {
    if (c.log.write != nullptr)
        c.log.write(c.log.context, text);
    else
        std::fprintf(stderr, "%s", text);
}

void report_number(PluginCore& c, int n) {
    if (c.reported[n]) return;
    c.reported[n] = true;
    const ProcessLibrary& lib = *c.library;
    char text[640];
    if (lib.folder.empty())
        std::snprintf(text, sizeof text,
                      "quorvane: no settings folder (HOME is not set): process %d plays the built-in default\n", n);
    else
        std::snprintf(text, sizeof text, "quorvane: %s/qv$%d.dat is %s: process %d plays the built-in default\n",
                      lib.folder.c_str(), n, lib.status[n] == FileStatus::kMissing ? "missing" : "not a valid process",
                      n);
    say(c, text);
}

void report_pending(PluginCore& c) {
    for (int n = 0; n <= kMaxProcessNumber; ++n) {
        if (!c.report_pending[n]) continue;
        c.report_pending[n] = false;
        report_number(c, n);
    }
}

float db_to_gain(float db) { return db == 0.0f ? 1.0f : static_cast<float>(std::pow(10.0, db / 20.0)); }

float port_value(const PluginCore& c, int index) {
    const float* p = c.port[index];
    return p != nullptr && std::isfinite(*p) ? *p : kPorts[index].def;
}

// -1 while the port is not connected: a host may connect it after activate.
int process_port(const PluginCore& c) {
    if (c.port[kProcess] == nullptr) return -1;
    const float v = port_value(c, kProcess);
    return static_cast<int>(std::clamp(std::floor(v + 0.5f), 0.0f, static_cast<float>(kMaxProcessNumber)));
}

// The stored process of number n, or the defaults (the file being missing or
// invalid, to be told off the audio thread).
void select_stored(PluginCore& c, int n) {
    const ProcessLibrary& lib = *c.library;
    if (lib.status[n] == FileStatus::kValid) {
        c.on_air = lib.process[n];
    } else {
        c.on_air = lib.defaults;
        if (!c.reported[n]) c.report_pending[n] = true;
    }
}

void stage(PluginCore& c) {
    c.staged = c.on_air;
    if (c.bypass) c.staged.global.bypass_all = 1;
}

// Reads every control once per block; whatever changed is published whole
// before the block's first frame.
void apply_controls(PluginCore& c) {
    Processor& p = *c.processor;
    const int number = process_port(c);
    const bool bypass = port_value(c, kBypass) >= 0.5f;
    const bool tone = port_value(c, kTestTone) >= 0.5f;
    const float in_db = std::clamp(port_value(c, kInputGain), kPorts[kInputGain].min, kPorts[kInputGain].max);
    const float out_db = std::clamp(port_value(c, kOutputGain), kPorts[kOutputGain].min, kPorts[kOutputGain].max);

    if (number >= 0 && number != c.process_number) {
        c.process_number = number;
        if (!(c.restored && number == c.restored_number)) {
            c.restored = false;
            select_stored(c, number);
        }
        c.bypass = bypass;
        stage(c);
        processor_load(p, c.staged);
        if (c.test_tone) processor_set_test_tone(p, true);
    } else if (bypass != c.bypass) {
        c.bypass = bypass;
        stage(c);
        processor_update(p, c.staged);
    }
    if (tone != c.test_tone) {
        c.test_tone = tone;
        processor_set_test_tone(p, tone);
    }
    if (in_db != c.input_gain_db) {
        c.input_gain_db = in_db;
        c.input_gain = db_to_gain(in_db);
    }
    if (out_db != c.output_gain_db) {
        c.output_gain_db = out_db;
        c.output_gain = db_to_gain(out_db);
    }
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
        for (int i = 0; i < m; ++i) {
            out_l[done + i] = from_pcm16(c.work[2 * i], c.output_gain);
            out_r[done + i] = from_pcm16(c.work[2 * i + 1], c.output_gain);
        }
        done += static_cast<std::uint32_t>(m);
    }
}

}  // namespace

std::unique_ptr<PluginCore> core_create(double host_rate, LogSink log) {
    if (!(host_rate >= 8000.0 && host_rate <= 768000.0)) return nullptr;
    auto c = std::make_unique<PluginCore>();
    c->host_rate = host_rate;
    c->log = log;
    c->library = std::make_unique<ProcessLibrary>();
    read_process_library(*c->library);
    c->on_air = c->library->defaults;
    c->processor = make_processor(c->on_air);
    return c;
}

bool core_activate(PluginCore& c) {
    // A fresh processor: filter memories from rest, as a newly loaded module.
    c.process_number = -1;
    c.bypass = false;
    c.test_tone = false;
    c.silent = false;
    c.processor = make_processor(c.on_air);
    apply_controls(c);
    report_pending(c);
    if (c.host_rate != 44100.0) {
        if (!c.bridge) c.bridge = std::make_unique<RateBridge>();
        c.silent = !bridge_start(*c.bridge, c.host_rate);
        if (c.silent) {
            say(c, "quorvane: the resampler cannot be created: the plug-in plays silence\n");
            return false;
        }
    } else {
        c.bridge.reset();
    }
    if (c.port[kLatency] != nullptr) *c.port[kLatency] = static_cast<float>(core_latency_frames(c));
    return true;
}

void core_deactivate(PluginCore& c) { report_pending(c); }

void core_restore(PluginCore& c, const ProcessParams& process, int number) {
    c.on_air = process;
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
}

}  // namespace qv::plugin
