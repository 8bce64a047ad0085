#pragma once
// What a host sees of a run made in one floating-point environment, and the
// check that it is the default environment's run (x86 only): the processor's
// tests and the module's share them.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "settings/settings.h"
#include "tests/host_fp_env.h"

namespace qv::test {

#if QV_X86
// Bit patterns of the derived values the chain reads, the coefficients of
// every section included: a coefficient one unit in the last place off may
// not show in 16-bit output.
inline std::vector<std::uint64_t> derived_bits(const Settings& s) {
    const DerivedValues& d = s.derived;
    const BiquadCoefs& eq = d.bass_eq_coefs;
    std::vector<std::uint64_t> bits;
    for (double x : {d.overdrive_gain, d.density_gain, d.agc_level_floor, d.bass_attack_coef, d.bass_release_coef,
                     d.master_attack_coef, d.master_release_coef, d.bass_mix_weight, d.master_mix_weight,
                     d.multiband_depth, eq.b0, eq.b1, eq.b2, eq.a1, eq.a2})
        bits.push_back(std::bit_cast<std::uint64_t>(x));
    std::uint64_t words[sizeof s.section_coefs / 8];
    std::memcpy(words, s.section_coefs, sizeof words);
    bits.insert(bits.end(), std::begin(words), std::end(words));
    return bits;
}

inline long samples_differing(const std::vector<std::int16_t>& a, const std::vector<std::int16_t>& b) {
    long n = std::abs(static_cast<long>(a.size()) - static_cast<long>(b.size()));
    for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i) n += a[i] != b[i];
    return n;
}

// What a host sees of a run: the samples, and the derived values after each
// call that derives (a coefficient one unit in the last place off may not
// show in the samples).
struct FpRun {
    std::vector<std::int16_t> out;
    std::vector<std::vector<std::uint64_t>> derived;
    int latency_frames = 0;
};

inline void expect_same_run(const FpRun& run, const FpRun& reference, const HostFpCaller& call,
                            const std::string& env) {
    EXPECT_EQ(samples_differing(run.out, reference.out), 0) << env;
    EXPECT_EQ(run.latency_frames, reference.latency_frames) << env;
    ASSERT_EQ(run.derived.size(), reference.derived.size()) << env;
    for (std::size_t k = 0; k < run.derived.size(); ++k)
        EXPECT_TRUE(run.derived[k] == reference.derived[k]) << env << ": derived values after step " << k;
    EXPECT_EQ(call.changed(), 0) << env << ": first left " << call.first_change();
}

// Renders in every environment of host_fp_envs() and expects each run to be
// the one rendered in the default environment.
template <class Render>
void expect_same_in_every_env(Render render) {
    const auto envs = host_fp_envs();
    HostFpCaller default_env(envs[0]);
    const FpRun reference = render(default_env);
    for (const HostFpEnv& env : envs) {
        HostFpCaller call(env);
        expect_same_run(render(call), reference, call, env.name);
    }
}
#endif

}  // namespace qv::test
