#pragma once
// Conversion of any input stream to what the chain takes: interleaved signed
// 16-bit at 44.1 kHz, one or two channels.
//
// 16-bit (or narrower) input at 44.1 kHz passes unchanged. Other rates go
// through libsoxr at high quality; samples with more than 16 bits of
// resolution (24/32-bit, float, resampled) are reduced to 16 bits with TPDF
// dither of +-1 LSB peak, rounded to nearest and clamped to -32768..32767.
#include <soxr.h>

#include <cstdint>
#include <string>
#include <vector>

namespace qv::cli {

// Triangular dither from two uniform variates of a fixed-seed generator, so a
// run is reproducible.
struct TpdfDither {
    std::uint64_t state = 0x853c49e6748fea9bULL;
};

// x on the float scale (1.0 = 32768) to a dithered 16-bit sample.
std::int16_t dither_to_16(TpdfDither& d, float x);
// v on the 16-bit scale (32768 = full scale) to a dithered 16-bit sample.
std::int16_t dither_scaled_16(TpdfDither& d, double v);

// Input rates the converter takes: below 8 kHz no programme survives, and
// 768 kHz is the highest rate any interface delivers.
constexpr int kMinInputRate = 8000;
constexpr int kMaxInputRate = 768000;
bool input_rate_supported(long rate);
// "sample rate N Hz is outside 8000..768000 Hz".
std::string rate_refusal(long rate);

struct ChainConverter {
    int channels = 0;
    int input_rate = 0;
    soxr_t resampler = nullptr;  // null at 44.1 kHz
    TpdfDither dither;
    std::vector<float> resampled;
    std::vector<float> widened;  // 16-bit input on the float scale, for the resampler
};

bool converter_open(ChainConverter& c, int channels, int input_rate, std::string& error);
void converter_close(ChainConverter& c);

// Append the converted frames of the given input to out.
void convert_float(ChainConverter& c, const float* in, std::size_t frames, std::vector<std::int16_t>& out);
void convert_16(ChainConverter& c, const std::int16_t* in, std::size_t frames, std::vector<std::int16_t>& out);
// End of input: the resampler's last frames.
void convert_flush(ChainConverter& c, std::vector<std::int16_t>& out);

}  // namespace qv::cli
