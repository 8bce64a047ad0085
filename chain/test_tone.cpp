#include "chain/test_tone.h"

#include <cmath>

namespace qv {

void build_test_tone_table(TestTone& t) {
    for (int i = 0; i < kTestToneTableSize; ++i) t.table[i] = static_cast<std::int32_t>(std::sin(0.01 * i) * 32760);
}

void mix_test_tone(TestTone& t, std::int32_t test_tone_on, double& left, double& right) {
    if (test_tone_on != 0) {
        if (++t.mix > 1000) t.mix = 1000;
    } else {
        if (--t.mix < 0) t.mix = 0;
    }
    // Reads the even entries 0, 2, ... 626; entry 627 is never used.
    int k = t.phase;
    if (k >= 627 || k < 0) k = 0;
    const std::int32_t tone = t.table[k];
    t.phase = k + 2;
    const std::int32_t w = 1000 - t.mix;
    right = (w * right + tone * t.mix) * 0.001;
    left = (w * left + tone * t.mix) * 0.001;
}

}  // namespace qv
