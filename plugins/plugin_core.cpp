#include "plugins/plugin_core.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "settings/settings_folder.h"
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

// --- resampling bridge ---

void bridge_free(RateBridge& b) {
    if (b.up != nullptr) soxr_delete(b.up);
    if (b.down != nullptr) soxr_delete(b.down);
    b.up = b.down = nullptr;
}

void fifo_push(RateBridge& b, const float* frames, int count) {
    for (int i = 0; i < count; ++i) {
        if (b.fifo_count == b.fifo_capacity) {
            b.overruns += static_cast<std::uint64_t>(count - i);
            return;
        }
        const int w = (b.fifo_read + b.fifo_count) % b.fifo_capacity;
        b.fifo[2 * w] = frames[2 * i];
        b.fifo[2 * w + 1] = frames[2 * i + 1];
        ++b.fifo_count;
    }
}

// One chunk through up, the chain (when given) and down; the host-rate
// frames that come out go to the FIFO. Returns their number.
int bridge_pass(RateBridge& b, Processor* chain, int* mid_out = nullptr) {
    std::size_t used = 0, made = 0;
    soxr_process(b.up, b.chunk.data(), static_cast<std::size_t>(b.chunk_frames), &used, b.mid.data(),
                 static_cast<std::size_t>(b.mid_capacity), &made);
    const int mid_frames = static_cast<int>(made);
    if (mid_out != nullptr) *mid_out = mid_frames;
    if (chain != nullptr && mid_frames > 0) {
        for (int i = 0; i < 2 * mid_frames; ++i) b.mid_pcm[i] = to_pcm16(b.mid[i], 1.0f);
        processor_run(*chain, b.mid_pcm.data(), mid_frames, 2);
        for (int i = 0; i < 2 * mid_frames; ++i) b.mid[i] = from_pcm16(b.mid_pcm[i], 1.0f);
    }
    soxr_process(b.down, b.mid.data(), static_cast<std::size_t>(mid_frames), &used, b.back.data(),
                 static_cast<std::size_t>(b.back_capacity), &made);
    fifo_push(b, b.back.data(), static_cast<int>(made));
    return static_cast<int>(made);
}

bool bridge_start(RateBridge& b, double host_rate) {
    bridge_free(b);
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    // One thread: libsoxr would otherwise start OpenMP workers. DFT blocks
    // of 2^7..2^9 points instead of 2^10..2^17: the same filters, output in
    // smaller bursts, hence a smaller FIFO and latency.
    soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
    runtime.log2_min_dft_size = 7;
    runtime.log2_large_dft_size = 9;
    soxr_error_t err = nullptr;
    b.up = soxr_create(host_rate, 44100.0, 2, &err, &io, &quality, &runtime);
    if (err != nullptr) return false;
    b.down = soxr_create(44100.0, host_rate, 2, &err, &io, &quality, &runtime);
    if (err != nullptr) return false;

    // Room for a whole burst of either resampler (at most a few thousand
    // frames between 8 and 768 kHz), so that neither keeps output back.
    const int c = b.chunk_frames;
    b.mid_capacity = 16384;
    b.back_capacity = 16384;
    b.chunk.assign(2 * static_cast<std::size_t>(c), 0.0f);
    b.mid.assign(2 * static_cast<std::size_t>(b.mid_capacity), 0.0f);
    b.mid_pcm.assign(2 * static_cast<std::size_t>(b.mid_capacity), 0);
    b.back.assign(2 * static_cast<std::size_t>(b.back_capacity), 0.0f);
    b.chunk_fill = 0;

    // Warm both resamplers with a second of zero chunks, so their buffers
    // reach full size here and not in run(), and find the largest lag L of
    // frames out behind frames in at a chunk boundary. libsoxr works in
    // blocks, so the lag swings by up to one block of either resampler; the
    // largest swing seen is added to L against phases of the two blocks not
    // met in the warm-up. A frame that waits in the chunk leaves after at
    // most chunk - 1 more frames; with the FIFO pre-filled to
    // chunk - 1 + L - (the lag now) it never runs dry, and every input frame
    // comes out exactly chunk - 1 + L frames later: output frame m of the
    // resamplers is input time m, so that delay is whole frames.
    const int warm_chunks = std::max(64, static_cast<int>(std::ceil(host_rate / c)));
    std::int64_t out_total = 0;
    std::int64_t lag_max = 0;
    int burst_out = 0, burst_mid = 0;
    b.fifo_capacity = b.back_capacity;
    b.fifo.assign(2 * static_cast<std::size_t>(b.fifo_capacity), 0.0f);
    for (int j = 1; j <= warm_chunks; ++j) {
        b.fifo_read = b.fifo_count = 0;
        int mid_frames = 0;
        const int made = bridge_pass(b, nullptr, &mid_frames);
        out_total += made;
        burst_out = std::max(burst_out, made);
        burst_mid = std::max(burst_mid, mid_frames);
        lag_max = std::max<std::int64_t>(lag_max, static_cast<std::int64_t>(j) * c - out_total);
    }
    const int swing = std::max(burst_out, static_cast<int>(std::ceil(burst_mid * host_rate / 44100.0)));
    const std::int64_t lag_now = static_cast<std::int64_t>(warm_chunks) * c - out_total;
    b.latency_frames = static_cast<int>(c - 1 + lag_max + swing);
    const int prefill = static_cast<int>(b.latency_frames - lag_now);

    b.fifo_capacity = prefill + 2 * swing + 2 * c;
    b.fifo.assign(2 * static_cast<std::size_t>(b.fifo_capacity), 0.0f);
    b.fifo_read = 0;
    b.fifo_count = prefill;
    b.underruns = b.overruns = 0;
    return true;
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

// The finite value of x * gain; NaN and infinities count as 0 so that they
// never reach the resamplers' memories.
float sanitize(float x, float gain) {
    const float v = x * gain;
    return std::isfinite(v) ? v : 0.0f;
}

void run_bridged(PluginCore& c, std::uint32_t frames) {
    RateBridge& b = *c.bridge;
    const float* in_l = c.port[kInLeft];
    const float* in_r = c.port[kInRight];
    float* out_l = c.port[kOutLeft];
    float* out_r = c.port[kOutRight];
    for (std::uint32_t done = 0; done < frames;) {
        const int k = static_cast<int>(std::min<std::uint32_t>(b.chunk_frames - b.chunk_fill, frames - done));
        for (int i = 0; i < k; ++i) {
            b.chunk[2 * (b.chunk_fill + i)] = sanitize(in_l[done + i], c.input_gain);
            b.chunk[2 * (b.chunk_fill + i) + 1] = sanitize(in_r[done + i], c.input_gain);
        }
        b.chunk_fill += k;
        if (b.chunk_fill == b.chunk_frames) {
            bridge_pass(b, c.processor.get());
            b.chunk_fill = 0;
        }
        for (int i = 0; i < k; ++i) {
            float l = 0.0f, r = 0.0f;
            if (b.fifo_count > 0) {
                l = b.fifo[2 * b.fifo_read];
                r = b.fifo[2 * b.fifo_read + 1];
                b.fifo_read = b.fifo_read + 1 == b.fifo_capacity ? 0 : b.fifo_read + 1;
                --b.fifo_count;
            } else {
                ++b.underruns;
            }
            out_l[done + i] = l * c.output_gain;
            out_r[done + i] = r * c.output_gain;
        }
        done += static_cast<std::uint32_t>(k);
    }
}

}  // namespace

RateBridge::~RateBridge() { bridge_free(*this); }

std::int16_t to_pcm16(float x, float gain) {
    if (!std::isfinite(x)) return 0;
    double v = static_cast<double>(x) * gain * 32768.0;
    if (!(v < 32767.0)) return 32767;
    if (!(v > -32768.0)) return -32768;
    return static_cast<std::int16_t>(std::floor(v + 0.5));
}

void read_process_library(ProcessLibrary& lib) {
    fill_defaults(lib.defaults);
    std::string error;
    if (!default_settings_folder(lib.folder, error)) lib.folder.clear();
    for (int n = 0; n <= kMaxProcessNumber; ++n) {
        lib.status[n] = FileStatus::kMissing;
        if (lib.folder.empty()) continue;
        const std::string path = process_file_in(lib.folder, n);
        struct stat st;
        if (stat(path.c_str(), &st) != 0) continue;
        lib.status[n] = read_process_file(path.c_str(), lib.process[n]) ? FileStatus::kValid : FileStatus::kInvalid;
    }
}

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
            run_bridged(c, frames);
        } else {
            run_direct(c, frames);
        }
    }
    if (c.port[kLatency] != nullptr) *c.port[kLatency] = static_cast<float>(core_latency_frames(c));
}

}  // namespace qv::plugin
