// Random and extreme process files through the loaders and every derivation:
// whatever a file holds, the values the chain reads stay finite, coefficients
// stay in [0, 1], divisor levels stay at least 1 and lengths fit their buffers.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <random>

#include "settings/derive.h"
#include "settings/process_file.h"
#include "settings/startup.h"
#include "tests/temp_host_dir.h"

namespace qv {
namespace {

constexpr std::int32_t kExtremes[] = {0,
                                      1,
                                      -1,
                                      10,
                                      100,
                                      20000,
                                      -20000,
                                      48695,
                                      48696,
                                      -48696,
                                      964,
                                      -964,
                                      97,
                                      -97,
                                      4411,
                                      21,
                                      std::numeric_limits<std::int32_t>::max(),
                                      std::numeric_limits<std::int32_t>::min(),
                                      std::numeric_limits<std::int32_t>::max() - 1};

std::int32_t pick(std::mt19937& rng) {
    switch (rng() % 4) {
        case 0:
            return kExtremes[rng() % std::size(kExtremes)];
        case 1:
            return static_cast<std::int32_t>(rng());
        case 2:
            return static_cast<std::int32_t>(rng() % 2001) - 1000;
        default:
            return static_cast<std::int32_t>(rng() % 40001) - 20000;
    }
}

void expect_coef(double c) {
    ASSERT_TRUE(std::isfinite(c));
    ASSERT_GE(c, 0.0);
    ASSERT_LE(c, 1.0);
}

void check_sections(const SectionCoefs (&st)[kBands][kSections], const std::int32_t (&band_gain_level)[kBands]) {
    for (int b = 0; b < kBands; ++b) {
        for (int s = 0; s < kSections; ++s) {
            const SectionCoefs& x = st[b][s];
            expect_coef(x.attack1_coef);
            expect_coef(x.release1_coef);
            if (s == kCompressor) {
                expect_coef(x.attack2_coef);
                expect_coef(x.release2_coef);
            }
            ASSERT_GE(x.threshold_level, 1);
            ASSERT_TRUE(std::isfinite(x.ratio_exponent));
            if (s == kExpander) {
                ASSERT_GE(x.ratio_exponent, 0.0);
                ASSERT_LE(x.ratio_exponent, 0.9);
            } else {
                ASSERT_LE(x.ratio_exponent, 0.0);
                ASSERT_GE(x.ratio_exponent, -0.9);
            }
        }
        if (b < kMultibandBands) {
            ASSERT_GE(band_gain_level[b], 0);
        }
    }
}

void check_recomputed(const Settings& s) {
    const DerivedValues& d = s.derived;
    for (double c : {d.bass_attack_coef, d.bass_release_coef, d.master_attack_coef, d.master_release_coef}) {
        expect_coef(c);
    }
    ASSERT_GE(d.agc_level_floor, 1.0);
    ASSERT_TRUE(std::isfinite(d.agc_level_floor));
    ASSERT_TRUE(std::isfinite(d.overdrive_gain));
    ASSERT_TRUE(std::isfinite(d.density_gain));
    ASSERT_GE(d.gate_level, 0);
    ASSERT_GE(d.bass_clip_level, 0);
    ASSERT_GE(d.lookahead_samples, 0);
    ASSERT_LE(d.lookahead_samples, 4410);
    ASSERT_GE(d.stereo_depth_samples, 0);
    ASSERT_LE(d.stereo_depth_samples, 882);
    expect_coef(d.bass_mix_weight);
    expect_coef(d.master_mix_weight);
    const BiquadCoefs& c = d.bass_eq_coefs;
    for (double v : {c.b0, c.b1, c.b2, c.a1, c.a2}) ASSERT_TRUE(std::isfinite(v));
    ASSERT_LT(std::fabs(c.a2), 1.0);
    ASSERT_LT(std::fabs(c.a1), 1.0 + c.a2);
    ASSERT_GE(s.band_gain_level[5], 0);
    ASSERT_GE(s.band_gain_level[6], 0);
    for (int b = 0; b < kBands; ++b) ASSERT_GE(s.section_coefs[b][kCompressor].hold_samples, 0);
}

TEST(Fuzz, RandomAndExtremeProcessesDeriveSafely) {
    std::mt19937 rng(20240611);
    auto s = std::make_unique<Settings>();
    unsigned char img[kProcessFileBytes];
    for (int round = 0; round < 3000; ++round) {
        // A valid header over random words; every stored word may be anything.
        auto* words = reinterpret_cast<std::int32_t*>(&s->staged.params);
        for (std::size_t i = 0; i < sizeof(ProcessParams) / 4; ++i) words[i] = pick(rng);
        encode_process(s->staged.params, img);
        const std::size_t len = rng() % 8 == 0 ? rng() % kProcessFileBytes : kProcessFileBytes;
        const bool valid = decode_process(img, len, s->live);
        ASSERT_EQ(valid, len == kProcessFileBytes);
        clamp_ratios(s->live);
        derive_all_sections(s->live, s->section_coefs, s->band_gain_level);
        check_sections(s->section_coefs, s->band_gain_level);
        recompute_all(*s);
        check_recomputed(*s);
        if (HasFatalFailure()) {
            ADD_FAILURE() << "round " << round;
            return;
        }
    }
}

TEST(Fuzz, FilesThroughTheLoaders) {
    test::TempHostDir host;
    std::mt19937 rng(77);
    auto s = std::make_unique<Settings>();
    auto p = std::make_unique<ProcessParams>();
    unsigned char img[kProcessFileBytes + 64];
    char path[1024];
    ASSERT_TRUE(process_file_path(1, path, sizeof path));
    for (int round = 0; round < 300; ++round) {
        auto* words = reinterpret_cast<std::int32_t*>(p.get());
        for (std::size_t i = 0; i < sizeof(ProcessParams) / 4; ++i) words[i] = pick(rng);
        encode_process(*p, reinterpret_cast<unsigned char(&)[kProcessFileBytes]>(img));
        for (std::size_t i = kProcessFileBytes; i < sizeof img; ++i) img[i] = static_cast<unsigned char>(rng());
        if (rng() % 5 == 0) img[10 + rng() % 4] ^= static_cast<unsigned char>(1 + rng() % 255);  // spoil the magic
        const std::size_t len = rng() % 6 == 0 ? rng() % sizeof img : kProcessFileBytes + rng() % 64;
        test::write_bytes(path, img, len);

        const int staged = load_process_staged(*s, 1);
        if (staged) {
            check_sections(s->staged.section_coefs, s->staged.band_gain_level);
        }
        ASSERT_FALSE(HasFatalFailure()) << "round " << round;

        test::write_text(host.path("winamp.ini"), "[Quorvane2]\nProcessNumber=1\n");
        const int n = startup_load(*s);
        ASSERT_EQ(n, 1);
        check_sections(s->section_coefs, s->band_gain_level);
        recompute_all(*s);
        check_recomputed(*s);
        ASSERT_FALSE(HasFatalFailure()) << "round " << round;
        // The staged copy, taken on air as Load does, is as safe.
        if (staged) {
            std::memcpy(&s->live, &s->staged.params, sizeof s->live);
            std::memcpy(s->section_coefs, s->staged.section_coefs, sizeof s->section_coefs);
            recompute_all(*s);
            check_recomputed(*s);
            ASSERT_FALSE(HasFatalFailure()) << "round " << round;
        }
    }
}

}  // namespace
}  // namespace qv
