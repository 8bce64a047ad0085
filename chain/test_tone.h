#pragma once
#include <cstdint>

namespace qv {

constexpr int kTestToneTableSize = 628;

// 140.4 Hz test tone (period 314 frames) cross-faded over 1000 frames.
struct TestTone {
    std::int32_t table[kTestToneTableSize];  // trunc(sin(0.01 i) * 32760), built by Init
    std::int32_t mix;                        // 0 (programme) .. 1000 (tone)
    std::int32_t phase;                      // next table index
};

void build_test_tone_table(TestTone& t);
void mix_test_tone(TestTone& t, std::int32_t test_tone_on, double& left, double& right);

}  // namespace qv
