#pragma once
// What the LADSPA and LV2 adapters share: the port table, the controls read
// once per block, the trims, and the chain played directly at 44.1 kHz or
// through the resampling bridge (plugins/rate_bridge.h) at other rates, on
// the processes of the settings folder (plugins/process_library.h). One PluginCore per
// plug-in instance; nothing in it is shared with another instance.
//
// Threads: create, activate, deactivate, restore and destroy run on the
// host's control side, never at the same time as run(); run() is the audio
// thread and neither allocates, locks nor makes a system call.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/processor.h"
#include "plugins/pcm16.h"
#include "plugins/process_library.h"
#include "plugins/rate_bridge.h"
#include "settings/process_file.h"

namespace qv::plugin {

// Port indices, the same on both plug-ins.
enum Port : int {
    kInLeft,
    kInRight,
    kOutLeft,
    kOutRight,
    kProcess,     // 0..100, the stored process of that number
    kBypass,      // 0/1, the chain's Bypass All
    kTestTone,    // 0/1
    kInputGain,   // dB, applied before the 16-bit rounding
    kOutputGain,  // dB, applied to the chain's output
    kLatency,     // output, frames at the host's rate
    kPortCount
};

enum class PortKind { kAudioIn, kAudioOut, kControlIn, kControlOut };

struct PortInfo {
    const char* symbol;  // LV2 symbol; also the LADSPA name of the control ports
    const char* name;    // LV2 name; LADSPA name of the audio ports
    PortKind kind;
    float min;
    float max;
    float def;
    bool integer;
    bool toggled;
};
extern const PortInfo kPorts[kPortCount];

constexpr unsigned long kLadspaUniqueId = 5328726;  // 0x514F56
constexpr const char* kLadspaLabel = "quorvane";
constexpr const char* kLv2Uri = QUORVANE_LV2_URI;  // from plugins/CMakeLists.txt, as in the .ttl files
constexpr int kBlockFrames = 512;                  // chain block at 44.1 kHz

// Where messages go: the LV2 log when the host offers one, else stderr.
struct LogSink {
    void (*write)(void* context, const char* text) = nullptr;
    void* context = nullptr;
};

struct PluginCore {
    double host_rate = 44100.0;
    LogSink log;
    std::unique_ptr<ProcessLibrary> library;
    std::unique_ptr<Processor> processor;
    std::unique_ptr<RateBridge> bridge;  // only at rates other than 44100
    bool silent = false;                 // the bridge could not be made: run() writes silence
    float* port[kPortCount] = {};

    // The controls as last applied; process_number -1 before the first.
    int process_number = -1;
    bool bypass = false;
    bool test_tone = false;
    float input_gain_db = 0.0f;
    float output_gain_db = 0.0f;
    float input_gain = 1.0f;
    float output_gain = 1.0f;

    // The whole process on air as stored (the bypass port not folded in),
    // what the LV2 state saves.
    ProcessParams on_air;
    ProcessParams staged;  // scratch for what is published
    // A process restored from saved state plays while the process port keeps
    // the value saved with it.
    bool restored = false;
    int restored_number = 0;

    // Numbers whose missing or invalid file run() met; told off the audio thread.
    bool report_pending[kMaxProcessNumber + 1] = {};
    bool reported[kMaxProcessNumber + 1] = {};

    std::int16_t work[kBlockFrames * 2];
};

// --- control side ---
// Reads the settings folder. Allocates.
std::unique_ptr<PluginCore> core_create(double host_rate, LogSink log);
// A processor started afresh on the process the ports select (or the
// restored one), and the resampling bridge warmed with zeros.
bool core_activate(PluginCore& c);
// Tells what run() found missing.
void core_deactivate(PluginCore& c);
// Puts a saved process on air; it plays while the process port holds number.
void core_restore(PluginCore& c, const ProcessParams& process, int number);
// The process port value that goes with on_air in saved state.
int core_state_number(const PluginCore& c);
int core_latency_frames(const PluginCore& c);

// --- audio thread ---
void core_run(PluginCore& c, std::uint32_t frames);

}  // namespace qv::plugin
