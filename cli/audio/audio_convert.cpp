#include "cli/audio/audio_convert.h"

#include <cmath>
#include <cstring>
#include <string>

namespace qv::cli {

namespace {

// PCG-style 64-bit LCG step with an xorshift output (top 24 bits used).
inline float uniform01(std::uint64_t& state) {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    const std::uint64_t x = state ^ (state >> 29);
    return static_cast<float>(x >> 40) * (1.0f / 16777216.0f);
}

void dither_block(ChainConverter& c, const float* in, std::size_t samples, std::vector<std::int16_t>& out) {
    const std::size_t base = out.size();
    out.resize(base + samples);
    for (std::size_t i = 0; i < samples; ++i) out[base + i] = dither_to_16(c.dither, in[i]);
}

void resample(ChainConverter& c, const float* in, std::size_t frames, std::vector<std::int16_t>& out) {
    // Room for the ratio plus the filter's held-back frames on a flush.
    const std::size_t cap =
        static_cast<std::size_t>(static_cast<double>(frames) * 44100.0 / static_cast<double>(c.input_rate)) + 4096;
    c.resampled.resize(cap * static_cast<std::size_t>(c.channels));
    for (;;) {
        std::size_t used = 0, made = 0;
        soxr_process(c.resampler, in, frames, &used, c.resampled.data(), cap, &made);
        dither_block(c, c.resampled.data(), made * static_cast<std::size_t>(c.channels), out);
        if (in != nullptr) {
            in += used * static_cast<std::size_t>(c.channels);
            frames -= used;
            if (frames == 0 && made < cap) return;
        } else if (made < cap) {
            return;  // flushed
        }
    }
}

}  // namespace

std::int16_t dither_to_16(TpdfDither& d, float x) { return dither_scaled_16(d, static_cast<double>(x) * 32768.0); }

std::int16_t dither_scaled_16(TpdfDither& d, double v) {
    const float tpdf = uniform01(d.state) - uniform01(d.state);  // triangular in (-1, 1) LSB
    const double r = std::floor(v + tpdf + 0.5);
    if (!(r > -32768.0)) return -32768;  // also NaN
    if (r > 32767.0) return 32767;
    return static_cast<std::int16_t>(r);
}

bool input_rate_supported(long rate) { return rate >= kMinInputRate && rate <= kMaxInputRate; }

std::string rate_refusal(long rate) {
    return "sample rate " + std::to_string(rate) + " Hz is outside " + std::to_string(kMinInputRate) + ".." +
           std::to_string(kMaxInputRate) + " Hz";
}

bool converter_open(ChainConverter& c, int channels, int input_rate, std::string& error) {
    if (!input_rate_supported(input_rate)) {
        error = rate_refusal(input_rate);
        return false;
    }
    c.channels = channels;
    c.input_rate = input_rate;
    c.resampler = nullptr;
    if (input_rate == 44100) return true;
    soxr_error_t err = nullptr;
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);  // one thread: the tool shares the machine
    c.resampler = soxr_create(input_rate, 44100, static_cast<unsigned>(channels), &err, &io, &quality, &runtime);
    if (err != nullptr) {
        error = std::string("cannot resample from ") + std::to_string(input_rate) + " Hz: " + err;
        c.resampler = nullptr;
        return false;
    }
    return true;
}

void converter_close(ChainConverter& c) {
    if (c.resampler != nullptr) soxr_delete(c.resampler);
    c.resampler = nullptr;
}

void convert_float(ChainConverter& c, const float* in, std::size_t frames, std::vector<std::int16_t>& out) {
    if (frames == 0) return;
    if (c.resampler == nullptr)
        dither_block(c, in, frames * static_cast<std::size_t>(c.channels), out);
    else
        resample(c, in, frames, out);
}

void convert_16(ChainConverter& c, const std::int16_t* in, std::size_t frames, std::vector<std::int16_t>& out) {
    const std::size_t samples = frames * static_cast<std::size_t>(c.channels);
    if (c.resampler == nullptr) {
        out.insert(out.end(), in, in + samples);
        return;
    }
    c.widened.resize(samples);
    for (std::size_t i = 0; i < samples; ++i) c.widened[i] = static_cast<float>(in[i]) * (1.0f / 32768.0f);
    resample(c, c.widened.data(), frames, out);
}

void convert_flush(ChainConverter& c, std::vector<std::int16_t>& out) {
    if (c.resampler != nullptr) resample(c, nullptr, 0, out);
}

}  // namespace qv::cli
