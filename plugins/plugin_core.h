#pragma once
// What the LADSPA and LV2 adapters share: the port table, the controls read
// once per block, the trims, and the chain played directly at 44.1 kHz or
// through the resampling bridge (plugins/rate_bridge.h) at other rates, on
// the processes of the settings folder (plugins/process_library.h). One
// PluginCore per plug-in instance; what instances share is the library of
// stored processes, which each joins at create and leaves at destroy.
//
// Threads: create, activate, restore and destroy run on the host's control
// side, never at the same time as run(); run() is the audio thread and
// neither allocates, locks nor makes a system call. What run() has to say
// (a selected process missing or invalid) the library's thread tells.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "control/station_monitor.h"
#include "engine/processor.h"
#include "plugins/pcm16.h"
#include "plugins/plugin_control.h"
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
    // Ports added later come last, so that positional values (sox) and
    // numbered ones (ffmpeg's c0, c1...) keep their meaning.
    kStatus,       // output, CoreStatus
    kReload,       // 0/1: a rising edge puts the newest stored version of the selected process on air
    kCeiling,      // 0/1, the true-peak ceiling after the chain; read at activate and at the first block
    kCeilingDbtp,  // dBTP, -6..0, applied at once
    kSilenceS,     // output, seconds the input has stayed below the dead-air level
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

// The status port's values.
enum CoreStatus : int {
    kOnAir = 0,        // the selected process is on air
    kMissing = 1,      // its file is missing: the process on air stays
    kInvalid = 2,      // its file is not a valid process: the process on air stays
    kNoResampler = 3,  // the resampler could not start: the plug-in is silent
};

struct LibraryLeave {
    void operator()(LibraryMember* m) const { library_leave(m); }
};

struct PluginCore {
    double host_rate = 44100.0;
    std::unique_ptr<LibraryMember, LibraryLeave> member;
    const LibrarySnapshot* snapshot = nullptr;  // the one member->held names
    std::unique_ptr<Processor> processor;
    std::unique_ptr<RateBridge> bridge;  // only at rates other than 44100
    bool silent = false;                 // the bridge could not be made: run() writes silence
    float* port[kPortCount] = {};

    // The controls as last applied; process_number -1 before the first.
    int process_number = -1;
    bool reload_high = false;
    bool bypass = false;
    bool test_tone = false;
    float input_gain_db = 0.0f;
    float output_gain_db = 0.0f;
    float input_gain = 1.0f;
    float output_gain = 1.0f;
    bool ceiling = false;  // as the processor plays it
    // No block has run since activate: the ceiling may still be switched.
    bool first_block = false;
    float ceiling_dbtp = static_cast<float>(kCeilingDefaultDbtp);

    // The selection: the version of the selected number's entry last looked
    // at, whether that number is still to go on air (missing or invalid when
    // selected), the status port, and the serial of the selections told.
    std::uint64_t seen_version = 0;
    bool pending = false;
    int status = kOnAir;
    std::uint32_t serial = 0;

    // The whole process on air as stored (the bypass port not folded in),
    // what the LV2 state saves.
    ProcessParams on_air;
    ProcessParams staged;  // scratch for what is published
    // A process restored from saved state plays while the process port keeps
    // the value saved with it.
    bool restored = false;
    int restored_number = 0;

    std::int16_t work[kBlockFrames * 2];

    // The dead-air detector on the input, on the sample clock: the
    // silence_s port, and the page's alarm (its rule set from the page).
    control::DeadAirWatch dead_air_watch;
    control::DeadAirState dead_air;

    // What the page is told (plugins/plugin_control.h): the generation of
    // the host's process, new at every selection, reload, restore and
    // activate; whether the page edited it since; the page's last edit taken.
    std::uint64_t generation = 0;
    bool modified = false;
    std::uint64_t edit_seq = 0;
    // Null unless the environment names a control address. Last: destroyed
    // first, so that the instance leaves the server before the processor goes.
    std::unique_ptr<PluginControl> control;
};

// --- control side ---
// Joins the library of stored processes. Allocates; null when the rate is
// out of range or the library cannot start.
std::unique_ptr<PluginCore> core_create(double host_rate, LogSink log);
// A processor started afresh on the process the ports select (or the
// restored one), with the ceiling when its port is on, and the resampling
// bridge warmed with zeros.
bool core_activate(PluginCore& c);
// Puts a saved process on air; it plays while the process port holds number.
void core_restore(PluginCore& c, const ProcessParams& process, int number);
// The process port value that goes with on_air in saved state.
int core_state_number(const PluginCore& c);
int core_latency_frames(const PluginCore& c);

// --- audio thread ---
void core_run(PluginCore& c, std::uint32_t frames);

}  // namespace qv::plugin
