#include "chain/sample_loop.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace qv {
namespace {

struct Fresh {
    std::unique_ptr<ParamChannel> ch = std::make_unique<ParamChannel>();
    std::unique_ptr<ChainState> c = std::make_unique<ChainState>();
};

TEST(SampleLoop, RefusedFormatsPassUntouchedAndWarn) {
    Fresh f;
    f.c->readings.format_status = 0x12;
    f.c->readings.master_agc_gain = 3;
    std::vector<std::int16_t> block = {100, -200, 300, -400};
    const auto copy = block;
    for (auto [bps, srate] : {std::pair{8, 44100}, {24, 44100}, {16, 22050}, {16, 32000}}) {
        EXPECT_EQ(modify_samples(*f.ch, *f.c, block.data(), 2, bps, 2, srate), 2);
        EXPECT_EQ(block, copy);
        EXPECT_EQ(f.c->readings.format_status, 0xFF12);
        EXPECT_EQ(f.c->readings.master_agc_gain, 0.0);
    }
    EXPECT_EQ(modify_samples(*f.ch, *f.c, block.data(), 2, 16, 2, 48000), 2);
    EXPECT_EQ(f.c->readings.format_status, 0x12);
}

TEST(SampleLoop, UnsafeBlocksAreRefused) {
    Fresh f;
    std::vector<std::int16_t> block = {1, 2};
    EXPECT_EQ(modify_samples(*f.ch, *f.c, block.data(), 1, 16, 0, 44100), 1);
    EXPECT_EQ(modify_samples(*f.ch, *f.c, block.data(), 1, 16, -2, 44100), 1);
    EXPECT_EQ(modify_samples(*f.ch, *f.c, nullptr, 5, 16, 2, 44100), 5);
    EXPECT_EQ(f.c->readings.format_status & 0xFF00, 0xFF00);
    EXPECT_EQ(modify_samples(*f.ch, *f.c, nullptr, 0, 16, 2, 44100), 0);
    EXPECT_EQ(f.c->readings.format_status, 0);
}

TEST(SampleLoop, TestToneTableValues) {
    Fresh f;
    build_test_tone_table(f.c->tone);
    EXPECT_EQ(f.c->tone.table[0], 0);
    EXPECT_EQ(f.c->tone.table[157], 32759);
    EXPECT_EQ(f.c->tone.table[314], 52);
    EXPECT_EQ(f.c->tone.table[471], -32759);
    EXPECT_EQ(f.c->tone.table[626], -759);
}

}  // namespace
}  // namespace qv
