// The whole chain through modify_samples: routes under the switches, block
// size independence, and range and finiteness under option combinations.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "chain/bass_eq.h"
#include "settings/param_table.h"
#include "tests/chain/chain_rig.h"

namespace qv {
namespace {

using test::Lcg;
using test::Rig;

std::int16_t clamp_out(double x) { return static_cast<std::int16_t>(std::clamp(x, -32760.0, 32760.0)); }

TEST(Chain, BypassAllPassesTheInputThroughTheAlwaysOnParts) {
    Rig rig;
    rig.g().bypass_all = 1;
    auto in = test::programme(8000, 1);
    auto out = in;
    rig.run(out);
    for (std::size_t i = 0; i < in.size(); ++i) ASSERT_EQ(out[i], clamp_out(in[i])) << i;
    EXPECT_EQ(rig.c->readings.master_agc_gain, 0.0);
    EXPECT_EQ(rig.c->readings.agc_gated, 0);
    EXPECT_GT(rig.c->bands.band_level[0], 0.0);  // the band analysis still runs
}

TEST(Chain, BypassAllKeepsTheInputLowpassAndTheEarlyBassEq) {
    Rig rig, reference;
    for (Rig* r : {&rig, &reference}) {
        r->g().bypass_all = 1;
        r->g().option_flags = option::input_lpf_15k | option::am_filter | option::bass_eq_high_q;
        r->g().bass_eq_gain_db = 12;
        r->derive();
    }
    const std::int32_t options = reference.g().option_flags;
    auto in = test::programme(6000, 2);
    auto out = in;
    rig.run(out);
    for (std::size_t i = 0; i < in.size(); i += 2) {
        double l = in[i], r = in[i + 1];
        input_lowpass(reference.c->input, l, r);
        bass_eq(reference.c->bass_eq, *reference.s, options, l, r);
        mix_test_tone(reference.c->tone, 0, l, r);
        final_soft_clip(*reference.s, l, r);
        ASSERT_EQ(out[i], clamp_out(l)) << i;
        ASSERT_EQ(out[i + 1], clamp_out(r)) << i;
    }
}

TEST(Chain, TestToneSoundsUnderBypassAll) {
    Rig rig;
    rig.g().bypass_all = 1;
    rig.s->test_tone_on = 1;
    std::vector<std::int16_t> out(2 * 2000, 0);
    rig.run(out);
    EXPECT_EQ(rig.c->tone.mix, 1000);
    for (int n = 1000; n + 314 < 2000; ++n) ASSERT_EQ(out[2 * n], out[2 * (n + 314)]);
    EXPECT_GT(rig.c->readings.output_peak, 32700.0);
}

TEST(Chain, MultibandBypassFreezesMetersAndRing) {
    Rig rig;
    auto warm = test::programme(3000, 3);
    rig.run(warm);
    rig.g().option_flags |= option::multiband_bypass;
    const double gain = rig.c->bands.band_composite_gain[2];
    const std::int32_t index = rig.c->delay.ring_index;
    rig.c->readings.clip_peak_in = 0;
    auto more = test::programme(3000, 4);
    rig.run(more);
    EXPECT_EQ(rig.c->bands.band_composite_gain[2], gain);
    EXPECT_EQ(rig.c->delay.ring_index, index);
    EXPECT_GT(rig.c->readings.clip_peak_in, 0.0);  // the dual band still runs
}

TEST(Chain, MonoTakesTheFloorOfHalfTheSum) {
    Rig rig;
    rig.g().bypass_all = 1;
    rig.g().option_flags = option::mono;
    std::vector<std::int16_t> block = {-1, 0, 3, 4, -32768, -32767};
    rig.run(block);
    EXPECT_EQ(block, (std::vector<std::int16_t>{-1, -1, 3, 3, -32760, -32760}));
}

TEST(Chain, SingleChannelWritesOnlyItsSample) {
    Rig rig;
    constexpr int kFrames = 2000;  // beyond the two look-ahead delays
    std::vector<std::int16_t> block(3 * kFrames, 0);
    for (int n = 0; n < kFrames; ++n) {
        block[3 * n] = static_cast<std::int16_t>(20000 * std::sin(n * 0.1));
        block[3 * n + 1] = 7;
        block[3 * n + 2] = -7;
    }
    rig.run(block, 3);
    for (int n = 0; n < kFrames; ++n) {
        ASSERT_EQ(block[3 * n + 1], 7);
        ASSERT_EQ(block[3 * n + 2], -7);
    }
    EXPECT_GT(rig.c->readings.output_peak, 0.0);
}

TEST(Chain, ImageMeterFollowsTheDifferenceWithTheExpanderOff) {
    Rig rig;
    rig.g().no_stereo_exp = 1;
    rig.g().option_flags = 0;
    std::vector<std::int16_t> block = {100, -300};
    rig.run(block);
    EXPECT_EQ(rig.c->readings.stereo_image_peak, 400.0);
    EXPECT_EQ(rig.c->expander.stereo_delay_line[0], -400);
}

// Every switch of the chain that changes the signal path.
void switch_everything_on(Rig& rig, bool with_bypasses) {
    GlobalParams& g = rig.g();
    g.option_flags = 0xFFF & ~(with_bypasses ? 0 : option::mono | option::multiband_bypass);
    g.expander_on = g.limiter_on = 1;
    g.independent_gate = 1;
    g.preemphasis_on = 1;
    g.preemphasis_50us = 0;
    g.stereo_level_pct = 100;
    g.stereo_depth_ms = 20;
    g.no_clipper = with_bypasses ? 1 : 0;
    rig.derive();
    rig.s->test_tone_on = 1;
}

TEST(Chain, BlockSizeDoesNotChangeTheOutput) {
    for (bool bypasses : {false, true}) {
        const auto in = test::programme(12000, 5);
        std::vector<std::int16_t> first;
        for (int block : {4096, 7, 1}) {
            Rig rig;
            switch_everything_on(rig, bypasses);
            auto out = in;
            rig.run_in_blocks(out, block);
            if (first.empty())
                first = out;
            else
                EXPECT_EQ(out, first) << "block " << block;
        }
    }
}

// Every double memory of the chain and the gain computer.
bool all_finite(const Rig& rig) {
    bool ok = true;
    auto check = [&](const double* p, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) ok = ok && std::isfinite(p[i]);
    };
    auto check_record = [&](const auto& rec) { check(reinterpret_cast<const double*>(&rec), sizeof rec / 8); };
    const ChainState& c = *rig.c;
    check_record(c.input.lowpass);
    check_record(c.input.rotator);
    check(c.expander.stereo_diffuser_ring, kStereoRingSlots);
    check(&c.expander.stereo_envelope, 1);
    check_record(c.agc);
    check_record(c.emphasis);
    check_record(c.multiband.split);
    check_record(c.multiband.rms_state);
    check_record(c.delay.band_smooth_gain);
    check(&c.delay.delay_ring[0][0][0], sizeof c.delay.delay_ring / 8);
    check_record(c.dual_band);
    check_record(c.clippers);
    check_record(c.output.deemphasis_state);
    check_record(c.output_level);
    check_record(c.bands.band_level);
    check_record(c.bands.slow_envelope);
    check_record(c.bands.band_composite_gain);
    check_record(c.bass_eq);
    for (const auto& band : c.bands.section)
        for (const SectionMemory& st : band) check(&st.envelope, 1), check(&st.gain, 1);
    const Readings& r = c.readings;
    for (double v : {r.input_peak, r.output_peak, r.stereo_image_peak, r.stereo_activity, r.master_agc_gain,
                     r.bass_agc_gain, r.clip_peak_in, r.clip_peak_out, r.bass_clip_peak})
        ok = ok && std::isfinite(v);
    return ok;
}

// Full-scale noise, low and high full-scale squares, and silence between.
std::vector<std::int16_t> torture_stream() {
    std::vector<std::int16_t> v = test::full_scale_noise(2500, 11);
    for (auto part : {test::square_wave(2500, 882, 32767), std::vector<std::int16_t>(2 * 1500, 0),
                      test::square_wave(2500, 14, -32768), std::vector<std::int16_t>(2 * 1500, 0)})
        v.insert(v.end(), part.begin(), part.end());
    return v;
}

void expect_sane(Rig& rig, const char* what, std::int32_t options) {
    auto out = torture_stream();
    rig.run(out);
    const auto [lo, hi] = std::minmax_element(out.begin(), out.end());
    EXPECT_GE(*lo, -32760) << what << " options " << options;
    EXPECT_LE(*hi, 32760) << what << " options " << options;
    EXPECT_TRUE(all_finite(rig)) << what << " options " << options;
}

TEST(Chain, EachOptionBitStaysFiniteAndInRange) {
    for (int bit = -1; bit < 12; ++bit) {
        Rig rig;
        rig.g().option_flags = bit < 0 ? 0 : 1 << bit;
        rig.derive();
        expect_sane(rig, "single bit", rig.g().option_flags);
    }
}

TEST(Chain, SampledCombinationsAtTheEndsOfThePanelRanges) {
    Lcg rng{2024};
    auto coin = [&] { return static_cast<std::int32_t>(rng.next() >> 31); };
    for (int round = 0; round < 24; ++round) {
        Rig rig;
        GlobalParams& g = rig.g();
        g.option_flags = round == 0 ? 0xFFF : static_cast<std::int32_t>(rng.next() >> 20);
        g.bypass_all = (rng.next() >> 30) == 0;
        g.no_clipper = coin();
        g.no_stereo_exp = coin();
        g.preemphasis_on = coin();
        g.preemphasis_50us = coin();
        g.compressor_on = coin();
        g.expander_on = coin();
        g.limiter_on = coin();
        g.independent_gate = coin();
        g.agc_on = coin();
        const bool hot = coin();
        g.overdrive_db = hot ? 30 : 0;
        g.density_overdrive_db = hot ? 20 : -20;
        g.bass_eq_gain_db = hot ? 20 : 1;
        g.bass_eq_freq_hz = hot ? 40 : 150;
        g.bass_clip_threshold = hot ? 30 : -100;
        g.agc_max_gain_db = hot ? 25 : 0;
        g.gate_threshold_db = hot ? 90 : 0;
        g.stereo_level_pct = 100;
        g.stereo_depth_ms = static_cast<std::int32_t>(rng.next() % 21);
        g.lookahead_ms = static_cast<std::int32_t>(rng.next() % 101);
        g.hold_ms = hot ? 500 : 0;
        g.multiband_pct = static_cast<std::int32_t>(rng.next() % 101);
        g.clip_drive = hot ? 100 : 40;
        g.master_bass_mix_pct = hot ? 80 : 30;
        g.agc_band_link_pct = 100 * coin();
        for (auto& band : rig.s->live.section) {
            band[kCompressor].band_gain_db10 = hot ? 120 : -120;
            for (SectionParams& sec : band) {
                sec.threshold_db10 = hot ? -200 : 300;
                sec.ratio_x10 = hot ? 100 : 10;
                sec.attack1_ms = hot ? 1 : 500;
                sec.release1_ms = hot ? 10 : 4000;
            }
        }
        rig.derive();
        rig.s->test_tone_on = coin();
        expect_sane(rig, hot ? "hot" : "cold", g.option_flags);
    }
}

// What the parameter table says the sound does not depend on changes no
// output sample: the words and bits marked so, and every section word where
// section_word_affects_sound says so, all moved at once with every section,
// the stereo expander and the AM filter on. Moving one word that does act
// (the limiter threshold of band 0) shows that the setting can tell.
TEST(Chain, WordsWithoutEffectChangeNoSample) {
    Rig plain, moved, control;
    for (Rig* r : {&plain, &moved, &control}) {
        r->g().expander_on = 1;
        r->g().limiter_on = 1;
        r->g().option_flags |= option::am_filter;
        r->g().stereo_level_pct = 100;
        r->g().stereo_depth_ms = 10;
    }
    GlobalParams& g = moved.g();
    int count = 0;
    for (const ParamInfo& p : kGlobalParamTable)
        if (p.no_effect) {
            set_global_word(g, p.word, global_word(g, p.word) == p.min ? p.max : p.min);
            ++count;
        }
    for (const OptionInfo& o : kOptionTable)
        if (o.no_effect) {
            g.option_flags ^= o.bit;
            ++count;
        }
    for (int b = 0; b < kBands; ++b)
        for (int k = 0; k < kSections; ++k)
            for (const ParamInfo& info : kSectionParamTable)
                if (!section_word_affects_sound(b, k, info.word)) {
                    std::int32_t& w = section_word(moved.s->live.section[b][k], info.word);
                    w = w == info.max ? section_param_min(info, b) : info.max;
                    ++count;
                }
    EXPECT_EQ(count, 4 + 5 * 7 + 2 * 14);
    control.s->live.section[0][kLimiter].threshold_db10 = 200;
    auto reference = test::programme(22050, 9);
    auto out = reference, out_control = reference;
    for (Rig* r : {&plain, &moved, &control}) r->derive();
    plain.run(reference);
    moved.run(out);
    control.run(out_control);
    EXPECT_TRUE(out == reference);
    EXPECT_FALSE(out_control == reference);
}

}  // namespace
}  // namespace qv
