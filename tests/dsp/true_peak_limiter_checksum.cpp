// Prints a hash of the true-peak limiter's output on a fixed loud stimulus
// made from integers and IEEE operations only (no library function whose
// last bit may differ), so that builds for different targets can be compared
// by their output: full-scale squares, clipped noise and sines near Nyquist
// from a recursive oscillator, in blocks of changing length, the ceiling
// redesigned between blocks; in the default floating-point mode and with
// flush-to-zero and denormals-are-zero.
//
// With --processor: the same stimulus as 16-bit samples through a processor
// of the default process with the ceiling after the chain (the chain, the
// conversions and the limiter as every front end but the player runs them),
// stereo and mono, the ceiling moved between blocks; once in the default
// mode and once called with flush-to-zero, denormals-are-zero and rounding
// upward, which the processor must not see.
#include <xmmintrin.h>

#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "dsp/true_peak_limiter.h"
#include "engine/processor.h"
#include "settings/startup.h"

namespace {

constexpr int kFrames = 30 * 44100;

std::uint32_t lcg(std::uint32_t& seed) {
    seed = seed * 1664525u + 1013904223u;
    return seed;
}

double clip(double v) { return v > 32767.0 ? 32767.0 : v < -32768.0 ? -32768.0 : v; }

std::vector<double> stimulus() {
    std::vector<double> x(2 * static_cast<std::size_t>(kFrames));
    std::uint32_t seed = 7;
    // Oscillators y[n] = 2 cos(w) y[n-1] - y[n-2] at 16537.5 Hz (w = 3 pi / 4)
    // and 20212.5 Hz (w = 11 pi / 12), amplitudes y[-2] / sin(w): 28284, 30910.
    const double k1 = 2 * -0.7071067811865476, k2 = 2 * -0.9659258262890683;
    double a1 = 0, a2 = -20000, b1 = 0, b2 = -8000;
    for (int n = 0; n < kFrames; ++n) {
        const double a = k1 * a1 - a2;
        a2 = a1;
        a1 = a;
        const double b = k2 * b1 - b2;
        b2 = b1;
        b1 = b;
        const double noise = static_cast<double>(static_cast<std::int32_t>(lcg(seed))) * (1.0 / 32768);
        const double square = (n / 37) % 2 ? 32767.0 : -32768.0;
        double l, r;
        switch ((n / 44100) % 3) {
            case 0:
                l = square;
                r = clip(0.5 * square + 0.8 * noise);
                break;
            case 1:
                l = clip(1.1 * a + 0.1 * noise);
                r = clip(b);
                break;
            default:
                l = clip(1.5 * noise);
                r = clip(0.7 * a - 0.6 * b);
                break;
        }
        x[2 * n] = l;
        x[2 * n + 1] = r;
    }
    return x;
}

std::uint64_t run(const std::vector<double>& input) {
    std::vector<double> y = input;
    auto s = std::make_unique<qv::TruePeakLimiterState>();
    qv::reset_true_peak_limiter(*s);
    std::uint32_t seed = 11;
    std::uint64_t h = 0xcbf29ce484222325ull;
    int at = 0;
    for (int block = 0; at < kFrames; ++block) {
        // Ceilings from -6 to 0 dBTP in steps of 0.25 dB.
        const qv::TruePeakLimiterCoefs c = qv::design_true_peak_limiter(-0.25 * (lcg(seed) % 25));
        int count = 1 + static_cast<int>(lcg(seed) % 4096);
        if (count > kFrames - at) count = kFrames - at;
        if (block % 2)
            qv::true_peak_limit(c, *s, &y[2 * static_cast<std::size_t>(at)], count);
        else {
            std::vector<double> left(count), right(count);
            for (int i = 0; i < count; ++i) {
                left[i] = y[2 * (at + i)];
                right[i] = y[2 * (at + i) + 1];
            }
            qv::true_peak_limit(c, *s, left.data(), right.data(), count);
            for (int i = 0; i < count; ++i) {
                y[2 * (at + i)] = left[i];
                y[2 * (at + i) + 1] = right[i];
            }
        }
        at += count;
    }
    for (const double v : y) h = (h ^ std::bit_cast<std::uint64_t>(v)) * 0x100000001b3ull;
    return h;
}

// Channel 0 (and 1) of the stimulus, truncated to 16 bits, through the
// processor in blocks of 1 to 4096 frames.
std::uint64_t run_processor(const std::vector<double>& input, int channels) {
    std::vector<std::int16_t> y(static_cast<std::size_t>(kFrames) * channels);
    for (std::size_t n = 0; n < static_cast<std::size_t>(kFrames); ++n)
        for (int ch = 0; ch < channels; ++ch) y[n * channels + ch] = static_cast<std::int16_t>(input[2 * n + ch]);
    qv::ProcessParams p;
    qv::fill_defaults(p);
    auto m = qv::make_processor(p, qv::ProcessorOptions{true, -1.0});
    std::uint32_t seed = 13;
    for (int at = 0; at < kFrames;) {
        qv::processor_set_ceiling(*m, -0.25 * (lcg(seed) % 25));
        int count = 1 + static_cast<int>(lcg(seed) % 4096);
        if (count > kFrames - at) count = kFrames - at;
        qv::processor_run(*m, &y[static_cast<std::size_t>(at) * channels], count, channels);
        at += count;
    }
    std::uint64_t h = 0xcbf29ce484222325ull;
    for (const std::int16_t v : y) h = (h ^ static_cast<std::uint16_t>(v)) * 0x100000001b3ull;
    return h;
}

int processor_checksum(const std::vector<double>& x) {
    std::uint64_t hashes[2][2];
    const unsigned int saved = _mm_getcsr();
    for (int mode = 0; mode < 2; ++mode) {
        // 0x8040 flush-to-zero and denormals-are-zero, 0x4000 rounding upward.
        if (mode == 1) _mm_setcsr(saved | 0xC040u);
        for (int channels = 1; channels <= 2; ++channels) hashes[mode][channels - 1] = run_processor(x, channels);
        _mm_setcsr(saved);
    }
    std::printf("processor with the ceiling over %d frames: stereo %016llx, mono %016llx\n", kFrames,
                static_cast<unsigned long long>(hashes[0][1]), static_cast<unsigned long long>(hashes[0][0]));
    return std::memcmp(hashes[0], hashes[1], sizeof hashes[0]) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<double> x = stimulus();
    if (argc == 2 && std::strcmp(argv[1], "--processor") == 0) return processor_checksum(x);
    const std::uint64_t plain = run(x);
    const unsigned int saved = _mm_getcsr();
    _mm_setcsr(saved | 0x8040u);
    const std::uint64_t ftz = run(x);
    _mm_setcsr(saved);
    std::printf("true-peak limiter over %d frames: %016llx, with FTZ/DAZ: %016llx\n", kFrames,
                static_cast<unsigned long long>(plain), static_cast<unsigned long long>(ftz));
    return plain == ftz ? 0 : 1;
}
