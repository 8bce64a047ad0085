// The control side's derivations on a thread whose x87 control word holds
// 53-bit precision (0x27F, as some players run their threads) give the same
// parameter set, bit for bit, as at 64-bit precision (0x37F, what the native
// build and the comparison with it run at), and leave the thread at 0x27F.
// The bass EQ design's long double products and quotients round differently
// at 53 bits for about one gain and frequency setting in ten; a
// coefficient one unit in the last place off does not show in 16-bit output,
// so the sample comparison with the native module cannot see it.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/fp_mode.h"
#include "settings/derive.h"
#include "settings/settings.h"
#include "settings/startup.h"

namespace {

using qv::platform::set_x87_control_word;
using qv::platform::x87_control_word;

// The published part of the working set after a recomputation at the given
// control word; the request counts are left out (a shape change counts once).
std::vector<unsigned char> derived_at(qv::Settings& s, std::uint16_t cw, bool& cw_kept) {
    set_x87_control_word(cw);
    qv::recompute_all(s);
    cw_kept = x87_control_word() == cw;
    set_x87_control_word(0x37F);
    qv::ChainParams p;
    std::memcpy(&p, static_cast<const qv::ChainParams*>(&s), sizeof p);
    p.memory_reset_count = p.bass_eq_clear_count = 0;
    std::vector<unsigned char> bytes(sizeof p);
    std::memcpy(bytes.data(), &p, sizeof p);
    return bytes;
}

}  // namespace

int main() {
    auto s = std::make_unique<qv::Settings>();
    std::memset(static_cast<void*>(s.get()), 0, sizeof *s);
    qv::fill_defaults(s->live);
    qv::GlobalParams& g = s->live.global;
    int designs = 0, differ = 0, cw_changed = 0;
    for (int shape = 0; shape < 4; ++shape) {
        g.option_flags = (shape & 1 ? qv::option::bass_eq_shelving : 0) | (shape & 2 ? qv::option::bass_eq_high_q : 0);
        for (int gain = 0; gain <= 20; ++gain) {
            for (int freq = 40; freq <= 150; ++freq) {
                g.bass_eq_gain_db = gain;
                g.bass_eq_freq_hz = freq;
                bool kept_64 = false, kept_53 = false;
                const auto at_64 = derived_at(*s, 0x37F, kept_64);
                const auto at_53 = derived_at(*s, 0x27F, kept_53);
                ++designs;
                cw_changed += !kept_64 || !kept_53;
                if (at_64 != at_53 && differ++ < 5)
                    std::printf("differs: shelving %d, High Q %d, %d dB, %d Hz\n", shape & 1, shape >> 1, gain, freq);
            }
        }
    }
    std::printf("%s: %d recomputations at 0x27F equal those at 0x37F (%d differ)\n", differ ? "FAIL" : "ok", designs,
                differ);
    std::printf("%s: the control word is the caller's after each (%d changed)\n", cw_changed ? "FAIL" : "ok",
                cw_changed);
    return differ || cw_changed ? 1 : 0;
}
