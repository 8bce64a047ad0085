#include "tools/demo_programme.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace qv::demo {

namespace {

constexpr int kRate = kProgrammeRate;
constexpr double kPi = 3.14159265358979323846;

struct Noise {
    std::uint32_t state = 0x12345678u;
    double next() {  // uniform in [-1, 1)
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return static_cast<double>(state) / 2147483648.0 - 1.0;
    }
};

// Two-pole resonator (constant peak gain) at f Hz with bandwidth bw Hz.
struct Resonator {
    double a1 = 0, a2 = 0, gain = 0, y1 = 0, y2 = 0;
    void set(double f, double bw) {
        const double r = std::exp(-kPi * bw / kRate);
        a1 = 2 * r * std::cos(2 * kPi * f / kRate);
        a2 = -r * r;
        gain = 1 - r;
    }
    double run(double x) {
        const double y = gain * x + a1 * y1 + a2 * y2;
        y2 = y1;
        y1 = y;
        return y;
    }
};

struct OnePoleLowpass {
    double c = 0, y = 0;
    void set(double f) { c = std::exp(-2 * kPi * f / kRate); }
    double run(double x) { return y = (1 - c) * x + c * y; }
};

double db(double v) { return std::pow(10.0, v / 20.0); }

// Smooth fade of a passage: 0 outside [t0, t1], raised-cosine edges of 50 ms.
double window(double t, double t0, double t1) {
    const double edge = 0.05;
    if (t < t0 || t > t1) return 0;
    if (t < t0 + edge) return 0.5 - 0.5 * std::cos(kPi * (t - t0) / edge);
    if (t > t1 - edge) return 0.5 - 0.5 * std::cos(kPi * (t1 - t) / edge);
    return 1;
}

struct Voice {
    double phase = 0;
    Resonator f1, f2, f3;
    double run(double t) {
        // Pitch glides between 110 and 160 Hz; syllables at about 4 per second.
        const double f0 = 135 + 25 * std::sin(2 * kPi * 0.7 * t);
        phase += f0 / kRate;
        double pulse = 0;
        if (phase >= 1) {
            phase -= 1;
            pulse = 1;
        }
        const double vowel = 0.5 + 0.5 * std::sin(2 * kPi * 1.3 * t);
        f1.set(500 + 300 * vowel, 90);
        f2.set(1500 - 600 * vowel, 120);
        f3.set(2600, 200);
        const double syllable = std::pow(std::max(0.0, std::sin(2 * kPi * 2.1 * t)), 2.0);
        return syllable * (6 * f1.run(pulse) + 4 * f2.run(pulse) + 2 * f3.run(pulse));
    }
};

// One frame of every instrument, unscaled.
struct Sounds {
    double speech, kick, bass, pad, hat, strings, shimmer, floor_l, floor_r;
};

// The instruments with their memories. The noise source is shared, drawn in
// a fixed order each frame (hat, shimmer, floor), so a programme is the same
// whichever instruments it mixes.
class Band {
public:
    Band() {
        bass_lp_.set(300);
        hat_lp_.set(6000);
        shimmer_lp_.set(4000);
    }
    // The frame at t seconds; bass_transpose scales the bass line's notes.
    Sounds next(double t, double bass_transpose) {
        Sounds s;
        s.speech = voice_.run(t);
        // Kick: a sine falling from 120 to 50 Hz, every half second.
        const double beat = std::fmod(t, 0.5);
        kick_phase_ += (50 + 70 * std::exp(-beat * 30)) / kRate;
        s.kick = std::sin(2 * kPi * kick_phase_) * std::exp(-beat * 8);
        // Bass line: a low-passed sawtooth, one note per two seconds.
        const double note = kBassNotes[static_cast<int>(t / 2) % 4] * bass_transpose;
        bass_phase_ += note / kRate;
        bass_phase_ -= std::floor(bass_phase_);
        s.bass = bass_lp_.run(2 * bass_phase_ - 1);
        s.pad = 0;
        for (int k = 0; k < 3; ++k) {
            pad_phase_[k] += kPadChord[k] * (1 + 0.002 * k) / kRate;
            pad_phase_[k] -= std::floor(pad_phase_[k]);
            s.pad += 2 * pad_phase_[k] - 1;
        }
        // Hi-hat: high-passed noise (noise minus its low-pass), every quarter second.
        const double h = noise_.next();
        s.hat = (h - hat_lp_.run(h)) * std::exp(-std::fmod(t, 0.25) * 40);
        s.strings = 0;
        for (int k = 0; k < 3; ++k) {
            string_phase_[k] += kStringNotes[k] * (1 + 0.003 * std::sin(2 * kPi * 5 * t)) / kRate;
            s.strings += std::sin(2 * kPi * string_phase_[k]) * (0.5 + 0.5 * std::sin(2 * kPi * (0.3 + 0.2 * k) * t));
        }
        const double n = noise_.next();
        s.shimmer = n - shimmer_lp_.run(n);
        s.floor_l = noise_.next();
        s.floor_r = noise_.next();
        return s;
    }

private:
    static constexpr double kBassNotes[4] = {55.0, 73.42, 82.41, 61.74};  // A1 D2 E2 B1
    static constexpr double kPadChord[3] = {220.0, 277.18, 329.63};       // A major
    static constexpr double kStringNotes[3] = {1760.0, 2217.46, 2637.02};
    Noise noise_;
    Voice voice_;
    OnePoleLowpass bass_lp_, hat_lp_, shimmer_lp_;
    double bass_phase_ = 0, kick_phase_ = 0, pad_phase_[3] = {0, 0, 0}, string_phase_[3] = {0, 0, 0};
};

// A stereo layer of the programme, interleaved.
using Layer = std::vector<double>;

// Adds src to dst scaled so that src's peak lands at peak_db dBFS.
void mix_at_peak(Layer& dst, const Layer& src, double peak_db) {
    double peak = 0;
    for (double v : src) peak = std::max(peak, std::fabs(v));
    if (peak <= 0) return;
    const double g = db(peak_db) / peak;
    for (std::size_t i = 0; i < dst.size(); ++i) dst[i] += g * src[i];
}

// Full scale 1.0 to 16-bit, rounded, clipped at full scale.
std::vector<std::int16_t> to_16(const Layer& mix, double gain) {
    std::vector<std::int16_t> out(mix.size());
    for (std::size_t i = 0; i < mix.size(); ++i) {
        const double v = std::round(mix[i] * gain * 32767.0);
        out[i] = static_cast<std::int16_t>(v > 32767 ? 32767 : v < -32768 ? -32768 : v);
    }
    return out;
}

}  // namespace

std::vector<std::int16_t> demo_programme() {
    const long frames = 32L * kRate;
    const std::size_t samples = 2 * static_cast<std::size_t>(frames);
    Layer quiet_voice(samples), band(samples), treble(samples), deep(samples), floor(samples);
    Band instruments;
    for (long n = 0; n < frames; ++n) {
        const double t = static_cast<double>(n) / kRate;
        const std::size_t l = 2 * static_cast<std::size_t>(n), r = l + 1;
        // The bass line drops a fourth in the last passage.
        const Sounds s = instruments.next(t, t >= 26 ? 0.75 : 1.0);
        quiet_voice[l] = quiet_voice[r] = s.speech * window(t, 0, 6);
        const double w_band = window(t, 8, 18);
        band[l] = w_band * (0.45 * s.kick + 0.35 * s.bass + 0.10 * s.pad + 0.10 * s.hat);
        band[r] = w_band * (0.45 * s.kick + 0.35 * s.bass + 0.14 * s.pad + 0.22 * s.hat);
        const double w_deep = window(t, 26, 32);
        deep[l] = deep[r] = w_deep * (0.6 * s.kick + 0.7 * s.bass + 0.08 * s.speech);
        const double w_treble = window(t, 18, 24);
        treble[l] = w_treble * (s.strings + 2 * s.shimmer);
        treble[r] = w_treble * (0.7 * s.strings + 2.5 * s.shimmer);
        // A faint noise floor, so the pauses are not digital silence.
        floor[l] = s.floor_l;
        floor[r] = s.floor_r;
    }
    Layer mix(samples);
    mix_at_peak(mix, quiet_voice, -24);
    mix_at_peak(mix, band, -3);
    mix_at_peak(mix, treble, -28);
    mix_at_peak(mix, deep, -1);
    mix_at_peak(mix, floor, -72);
    return to_16(mix, 1.0);
}

std::vector<std::int16_t> dense_programme(double seconds) {
    const long frames = std::lround(seconds * kRate);
    const std::size_t samples = 2 * static_cast<std::size_t>(std::max(frames, 0L));
    Layer rhythm(samples), bass(samples), pad(samples), voice(samples), treble(samples);
    // Presence of each layer in sections A, B, C (8 s each, repeating), glided
    // over about 16 ms (a 10 Hz one-pole) so that no change clicks.
    enum { kRhythm, kBass, kPad, kVoice, kTreble, kLayers };
    constexpr double kPresence[3][kLayers] = {
        {1, 1, 0.5, 1, 0},    // A: band and voice
        {1, 1.3, 1, 1, 1},    // B: everything, the bass a fourth down and heavier
        {0.6, 0.3, 1, 1, 1},  // C: voice, pad and treble over a lighter kick
    };
    OnePoleLowpass glide[kLayers];
    for (OnePoleLowpass& g : glide) g.set(10);
    Band instruments;
    for (long n = 0; n < frames; ++n) {
        const double t = static_cast<double>(n) / kRate;
        const std::size_t l = 2 * static_cast<std::size_t>(n), r = l + 1;
        const int section = static_cast<int>(t / 8) % 3;
        double g[kLayers];
        for (int k = 0; k < kLayers; ++k) g[k] = glide[k].run(kPresence[section][k]);
        const Sounds s = instruments.next(t, section == 1 ? 0.75 : 1.0);
        rhythm[l] = g[kRhythm] * (0.8 * s.kick + 0.25 * s.hat);
        rhythm[r] = g[kRhythm] * (0.8 * s.kick + 0.4 * s.hat);
        bass[l] = bass[r] = g[kBass] * s.bass;
        pad[l] = g[kPad] * s.pad;
        pad[r] = g[kPad] * 0.8 * s.pad;
        voice[l] = voice[r] = g[kVoice] * s.speech;
        treble[l] = g[kTreble] * (s.strings + 2 * s.shimmer + 0.5 * s.floor_l);
        treble[r] = g[kTreble] * (0.7 * s.strings + 2.5 * s.shimmer + 0.5 * s.floor_r);
    }
    Layer mix(samples);
    mix_at_peak(mix, rhythm, -4);
    mix_at_peak(mix, bass, -6);
    mix_at_peak(mix, pad, -14);
    mix_at_peak(mix, voice, -8);
    mix_at_peak(mix, treble, -16);
    double power = 0;
    for (double v : mix) power += v * v;
    const double rms = samples > 0 ? std::sqrt(power / static_cast<double>(samples)) : 0;
    return to_16(mix, rms > 0 ? db(-12) / rms : 1.0);
}

}  // namespace qv::demo
