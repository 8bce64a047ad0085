#pragma once
// Loudness delivery: the chain's output is held in an anonymous temporary
// file, measured, and written again with one linear gain (in double, TPDF
// dither back to 16 bits) that brings it to a loudness target, a true-peak
// ceiling, or both; the lower of the gains they allow wins, and full scale
// is always a ceiling so that no sample clips. The processor's own ceiling
// (--ceiling) is a true-peak limit of the delivery too, so that the gain
// never lifts the output above it; with --true-peak as well, the lower one
// holds.
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "cli/audio/audio_output.h"
#include "cli/report/loudness.h"

namespace qv::cli {

struct DeliveryTargets {
    std::optional<double> loudness_lufs;   // --loudness
    std::optional<double> true_peak_dbtp;  // --true-peak
    std::optional<double> ceiling_dbtp;    // --ceiling; alone it asks for no delivery
    bool active() const { return loudness_lufs.has_value() || true_peak_dbtp.has_value(); }
};

enum class DeliveryLimit {
    none,        // nothing measurable (silence): unity gain
    loudness,    // the loudness target set the gain
    true_peak,   // the true-peak ceiling did
    ceiling,     // the processor's ceiling did
    full_scale,  // the highest sample would otherwise clip
};

struct DeliveryGain {
    double gain_db = 0;
    DeliveryLimit limit = DeliveryLimit::none;
};

// The gain for a measured output; peak_sample is the highest |sample| on the
// 16-bit scale (32768 = full scale).
DeliveryGain delivery_gain(const LoudnessFigures& measured, double peak_sample, const DeliveryTargets& targets);

// Where `process` writes the chain's 16-bit frames: straight to the output
// file, or, while delivering, into the held temporary file.
struct OutputSink {
    AudioOutput* out = nullptr;
    int channels = 0;
    int held_fd = -1;  // -1: frames go straight to out
    std::int32_t peak_sample = 0;
    ~OutputSink();
};

// Opens the held file in $TMPDIR or /tmp (platform::scratch_file).
bool sink_hold(OutputSink& sink, int channels, std::string& error);
bool sink_write(OutputSink& sink, const std::int16_t* frames, std::size_t count, std::string& error);

// The second pass: reads the held frames back, applies the gain for the
// measured figures and writes them to sink.out, measuring them into delivered.
bool deliver(OutputSink& sink, const LoudnessFigures& measured, const DeliveryTargets& targets,
             LoudnessMeter& delivered, DeliveryGain& result, std::string& error);

// "  delivery   -3.2 dB, set by the loudness target -16.0 LUFS (true-peak ceiling -1.0 dBTP)"
void print_delivery(std::FILE* out, const DeliveryTargets& targets, const DeliveryGain& gain);

}  // namespace qv::cli
