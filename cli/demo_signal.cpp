// quorvane_demo_signal OUT.wav: the demo programme of scripts/run-demo.sh, a
// 32-second stereo 44.1 kHz 16-bit piece made here from oscillators and
// noise, with the contrasts a broadcast processor is there to even out:
//   0-6 s    quiet speech-like voice (pulse train through two formants)
//   6-8 s    pause
//   8-18 s   loud band: kick drum, bass line, chord pad, hi-hats
//   18-24 s  quiet treble: high string notes and cymbal shimmer
//   24-26 s  pause
//   26-32 s  loud, bass-heavy: deep bass and kick under the voice
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

constexpr int kRate = 44100;
constexpr double kPi = 3.14159265358979323846;
constexpr double kSeconds = 32.0;

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

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: quorvane_demo_signal OUT.wav\n");
        return 2;
    }
    const long frames = static_cast<long>(kSeconds * kRate);
    const std::size_t samples = 2 * static_cast<std::size_t>(frames);
    Layer quiet_voice(samples), band(samples), treble(samples), deep(samples), floor(samples);

    Noise noise;
    Voice voice;
    OnePoleLowpass bass_lp, hat_lp, shimmer_lp;
    bass_lp.set(300);
    hat_lp.set(6000);
    shimmer_lp.set(4000);
    double bass_phase = 0, kick_phase = 0, pad_phase[3] = {0, 0, 0}, string_phase[3] = {0, 0, 0};
    const double bass_notes[4] = {55.0, 73.42, 82.41, 61.74};  // A1 D2 E2 B1
    const double pad_chord[3] = {220.0, 277.18, 329.63};       // A major
    const double string_notes[3] = {1760.0, 2217.46, 2637.02};

    for (long n = 0; n < frames; ++n) {
        const double t = static_cast<double>(n) / kRate;
        const std::size_t l = 2 * static_cast<std::size_t>(n), r = l + 1;

        const double speech = voice.run(t);
        quiet_voice[l] = quiet_voice[r] = speech * window(t, 0, 6);

        // Kick: a sine falling from 120 to 50 Hz, every half second.
        const double beat = std::fmod(t, 0.5);
        kick_phase += (50 + 70 * std::exp(-beat * 30)) / kRate;
        const double kick = std::sin(2 * kPi * kick_phase) * std::exp(-beat * 8);
        // Bass line: a low-passed sawtooth, one note per two seconds, lower in the last passage.
        const double note = bass_notes[static_cast<int>(t / 2) % 4] * (t >= 26 ? 0.75 : 1.0);
        bass_phase += note / kRate;
        bass_phase -= std::floor(bass_phase);
        const double bass = bass_lp.run(2 * bass_phase - 1);
        double pad = 0;
        for (int k = 0; k < 3; ++k) {
            pad_phase[k] += pad_chord[k] * (1 + 0.002 * k) / kRate;
            pad_phase[k] -= std::floor(pad_phase[k]);
            pad += 2 * pad_phase[k] - 1;
        }
        // Hi-hat: high-passed noise (noise minus its low-pass), every quarter second.
        const double h = noise.next();
        const double hat = (h - hat_lp.run(h)) * std::exp(-std::fmod(t, 0.25) * 40);
        const double w_band = window(t, 8, 18);
        band[l] = w_band * (0.45 * kick + 0.35 * bass + 0.10 * pad + 0.10 * hat);
        band[r] = w_band * (0.45 * kick + 0.35 * bass + 0.14 * pad + 0.22 * hat);
        const double w_deep = window(t, 26, 32);
        deep[l] = deep[r] = w_deep * (0.6 * kick + 0.7 * bass + 0.08 * speech);

        const double w_treble = window(t, 18, 24);
        double strings = 0;
        for (int k = 0; k < 3; ++k) {
            string_phase[k] += string_notes[k] * (1 + 0.003 * std::sin(2 * kPi * 5 * t)) / kRate;
            strings += std::sin(2 * kPi * string_phase[k]) * (0.5 + 0.5 * std::sin(2 * kPi * (0.3 + 0.2 * k) * t));
        }
        const double s = noise.next();
        const double shimmer = s - shimmer_lp.run(s);
        treble[l] = w_treble * (strings + 2 * shimmer);
        treble[r] = w_treble * (0.7 * strings + 2.5 * shimmer);

        // A faint noise floor, so the pauses are not digital silence.
        floor[l] = noise.next();
        floor[r] = noise.next();
    }

    Layer mix(samples);
    mix_at_peak(mix, quiet_voice, -24);
    mix_at_peak(mix, band, -3);
    mix_at_peak(mix, treble, -28);
    mix_at_peak(mix, deep, -1);
    mix_at_peak(mix, floor, -72);
    std::vector<short> out(samples);
    for (std::size_t i = 0; i < samples; ++i) {
        const double v = std::round(mix[i] * 32767.0);
        out[i] = static_cast<short>(v > 32767 ? 32767 : v < -32768 ? -32768 : v);
    }

    SF_INFO info = {};
    info.samplerate = kRate;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* f = sf_open(argv[1], SFM_WRITE, &info);
    if (f == nullptr) {
        std::fprintf(stderr, "quorvane_demo_signal: %s: %s\n", argv[1], sf_strerror(nullptr));
        return 1;
    }
    const bool ok = sf_writef_short(f, out.data(), frames) == frames;
    if (sf_close(f) != 0 || !ok) {
        std::fprintf(stderr, "quorvane_demo_signal: %s: write failed\n", argv[1]);
        return 1;
    }
    return 0;
}
