#pragma once
// One processor instance, for every front end: the player's module record,
// the command-line tool, the plug-ins and the web control. The control side
// (one thread at a time; a front end with several control threads holds its
// own lock around these calls) edits the working set and publishes it; the
// audio thread processes blocks and never waits, locks, allocates or makes a
// system call. Instances are independent: nothing is shared between them.
// Every call runs in the module's own floating-point mode (platform/fp_mode.h),
// whatever the calling thread's, and gives the caller's mode back unchanged.
#include <cstdint>
#include <memory>

#include "chain/chain_state.h"
#include "engine/ceiling.h"
#include "settings/param_channel.h"
#include "settings/records.h"
#include "settings/settings.h"

namespace qv {

struct Processor {
    Settings settings;     // control side: the working set and its bookkeeping
    ParamChannel channel;  // the working set on its way to the audio thread
    ChainState chain;      // audio thread: memories; the readings for the meters
    CeilingStage ceiling;  // after the chain, when the processor was made with it
};

// What a processor is made with besides its process.
struct ProcessorOptions {
    // The true-peak ceiling after the chain. Off, the output is the chain's,
    // sample for sample; on, the output comes kTruePeakLatencyFrames later.
    bool ceiling = false;
    double ceiling_dbtp = kCeilingDefaultDbtp;
};

// --- control side ---

// A processor playing process from its first block, started as Init starts
// the module (tables built, every value derived, detectors from rest) but
// without files or windows. Allocates; call it off the audio thread.
std::unique_ptr<Processor> make_processor(const ProcessParams& process, const ProcessorOptions& options = {});
// Puts process on air at the next block, as the panel's Load does: the
// detector memories restart there, every band sounds, the test tone is off.
void processor_load(Processor& p, const ProcessParams& process);
// Plays changed parameters of the process on air from the next block; the
// memories run on and the switches (mutes, test tone) stay, as when a slider
// moves.
void processor_update(Processor& p, const ProcessParams& process);
void processor_set_test_tone(Processor& p, bool on);
// Publishes the working set after a caller edited p.settings directly (and
// re-derived what it changed).
void processor_publish(Processor& p);
// Moves the true-peak ceiling (dBTP) from the next block on, through the
// limiter's smooth gain; nothing for a processor made without it.
void processor_set_ceiling(Processor& p, double dbtp);
// The processor's pure delay, in frames, for the working set (what plays
// from the next block on): the chain's look-ahead, and the ceiling's.
int processor_latency_frames(const Processor& p);

// What the meters show, read through the chain's atomics.
struct ProcessorReadings {
    double input_peak;  // 16-bit scale; peaks since the panel's last decay
    double output_peak;
    double master_agc_gain;  // linear; 0 under Bypass All
    double bass_agc_gain;
    bool agc_gated;
    double band_composite_gain[kBands];  // linear, 1 = no reduction
    double clip_peak_in;
    double clip_peak_out;
    double bass_clip_peak;
    double stereo_activity;
    double stereo_image_peak;
    double ceiling_gain;  // the ceiling's lowest gain, linear (1 = none or no ceiling)
};
ProcessorReadings processor_readings(const Processor& p);
// The same, but every peak (and the stereo activity) is taken: set to 0 in
// the same atomic step as it is read, so that the next take holds only what
// the chain raised since. For a meter owner that keeps its own decayed
// copies instead of writing decayed values back as the panel does; use one
// or the other on a processor, never both.
ProcessorReadings processor_take_readings(Processor& p);

// --- audio thread ---

// Processes count frames of interleaved 16-bit audio at 44.1 kHz, 1 or 2
// channels, in place, under the chain's floating-point mode (flush-to-zero
// and denormals-are-zero added): the chain, then the ceiling when it has one.
void processor_run(Processor& p, std::int16_t* frames, int count, int channels);

}  // namespace qv
