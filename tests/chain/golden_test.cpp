// Golden outputs: short synthetic stimuli through the whole chain under
// several switch sets, checked against committed FNV-1a checksums of every
// output sample. Any change to a single sample fails here; re-bless only on
// purpose, saying why in the commit.
#include <gtest/gtest.h>

#include <cstdio>

#include "tests/chain/chain_rig.h"

namespace qv {
namespace {

using test::Rig;

constexpr int kFrames = 16384;  // well past both look-ahead delays

struct Golden {
    const char* name;
    void (*configure)(Rig&);
    std::vector<std::int16_t> (*stimulus)();
    int nch;
    std::uint64_t checksum;
};

std::vector<std::int16_t> programme() { return test::programme(kFrames, 101); }
std::vector<std::int16_t> hot_noise_and_squares() {
    auto v = test::full_scale_noise(kFrames / 2, 77);
    auto sq = test::square_wave(kFrames / 2, 100, 32767);
    v.insert(v.end(), sq.begin(), sq.end());
    return v;
}
std::vector<std::int16_t> mono_programme() {
    auto st = test::programme(kFrames, 202);
    std::vector<std::int16_t> v(kFrames);
    for (int n = 0; n < kFrames; ++n) v[n] = st[2 * n];
    return v;
}

void defaults(Rig&) {}
void fir_output(Rig& r) { r.g().preemphasis_on = 1; }
void fir_output_75us(Rig& r) {
    r.g().preemphasis_on = 1;
    r.g().preemphasis_50us = 0;
}
void am_broadcast(Rig& r) {
    r.g().option_flags = option::input_lpf_15k | option::am_filter | option::bass_eq_high_q | option::bass_eq_shelving;
    r.g().bass_eq_gain_db = 12;
    r.g().output_level_pct = 90;
}
void rms_four_bands_all_sections(Rig& r) {
    r.g().option_flags = option::phase_rotator | option::track_rms | option::four_bands;
    r.g().expander_on = 1;
    r.g().limiter_on = 1;
    r.g().independent_gate = 1;
    r.g().multiband_pct = 70;
}
void wide_stereo(Rig& r) {
    r.g().stereo_level_pct = 100;
    r.g().stereo_depth_ms = 12;
    r.g().lookahead_ms = 3;
}
void bypass_all_with_tone(Rig& r) {
    r.g().bypass_all = 1;
    r.g().option_flags |= option::input_lpf_15k;
    r.s->test_tone_on = 1;
}
void multiband_bypass_no_clipper(Rig& r) {
    r.g().option_flags |= option::multiband_bypass;
    r.g().no_clipper = 1;
    r.g().density_overdrive_db = 6;
}

// Checksums of the outputs as built and reviewed; a deliberate baseline.
const Golden kGoldens[] = {
    {"default process", defaults, programme, 2, 0x0aab20ad9f308e47ull},
    {"default, full-scale noise and squares", defaults, hot_noise_and_squares, 2, 0x0314e4b18b05f42full},
    {"default, one channel", defaults, mono_programme, 1, 0x569a7a6a9807eb5bull},
    {"15 kHz FIR output, 50 us", fir_output, programme, 2, 0x4b497d9e7e6c3fc2ull},
    {"15 kHz FIR output, 75 us", fir_output_75us, hot_noise_and_squares, 2, 0x3e85bf9d155b2f7dull},
    {"AM: input LPF, shelving High Q bass, AM filter", am_broadcast, programme, 2, 0x17c62475dc04d33dull},
    {"Track RMS, 4 bands, expander and limiter", rms_four_bands_all_sections, programme, 2, 0x9cedcc79ff1f7650ull},
    {"stereo expander", wide_stereo, programme, 2, 0x2b500f9ee5be92f2ull},
    {"bypass all with test tone", bypass_all_with_tone, programme, 2, 0x75473f04d3f3d982ull},
    {"multiband bypass, no clipper", multiband_bypass_no_clipper, hot_noise_and_squares, 2, 0x011b62e2ac06acf5ull},
};

TEST(Golden, OutputsMatchTheBaseline) {
    for (const Golden& gold : kGoldens) {
        Rig rig;
        gold.configure(rig);
        const std::int32_t tone = rig.s->test_tone_on;
        rig.derive();  // as a Load would, which also switches the tone off
        rig.s->test_tone_on = tone;
        auto out = gold.stimulus();
        rig.run(out, gold.nch);
        const std::uint64_t sum = test::fnv1a(out);
        EXPECT_EQ(sum, gold.checksum) << gold.name;
        if (sum != gold.checksum) std::printf("    {\"%s\", ..., 0x%016llxull},\n", gold.name, (unsigned long long)sum);
    }
}

}  // namespace
}  // namespace qv
