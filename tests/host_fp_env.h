#pragma once
// Floating-point environments a host thread may call the module in, and a
// caller that makes each call in one of them: it sets the environment just
// before the call and puts the test's own back right after, so the test's
// code never runs with exceptions unmasked. An exception raised inside a
// call traps (the test dies); a call that leaves MXCSR (sticky exception
// flags included), the x87 control word or the x87 status word other than it
// found them is counted. x86 only.
#include <cstdint>
#include <cstdio>
#include <string>
#include <type_traits>
#include <vector>

#include "platform/fp_mode.h"

namespace qv::test {

struct HostFpEnv {
    std::string name;
    unsigned mxcsr;
    std::uint16_t x87_control;
};

// The default environment first; then each SSE rounding mode with each x87
// precision (24, 53, 64 bits), the x87 rounding the same as the SSE one and
// every exception of both units unmasked. Of each rounding mode, one has
// flush-to-zero and denormals-are-zero set and one has sticky flags raised.
inline std::vector<HostFpEnv> host_fp_envs() {
    using namespace platform;
    std::vector<HostFpEnv> envs{{"default", kMxcsrExceptionMasks, kX87ExtendedNearestMasked}};
    static const char* const kRounding[] = {"nearest", "down", "up", "toward zero"};
    // Per x87 precision: its control bits, its name, and what else the host's MXCSR holds.
    static const struct {
        unsigned control;
        const char* name;
        unsigned mxcsr;
        const char* mxcsr_name;
    } kPrecision[] = {
        {0, "24", kMxcsrFlushToZero | kMxcsrDenormalsAreZero, ", FTZ|DAZ"},
        {2, "53", 0x0029, ", invalid, overflow and inexact flags raised"},
        {3, "64", 0, ""},
    };
    for (unsigned r = 0; r < 4; ++r) {
        for (const auto& k : kPrecision) {
            const auto cw = static_cast<std::uint16_t>(0x0040 | k.control << 8 | r << 10);
            envs.push_back(
                {std::string("round ") + kRounding[r] + ", x87 " + k.name + " bits, exceptions unmasked" + k.mxcsr_name,
                 r << 13 | k.mxcsr, cw});
        }
    }
    return envs;
}

#if QV_X86
class HostFpCaller {
public:
    explicit HostFpCaller(const HostFpEnv& env) : env_(env) {}

    template <typename Fn>
    auto operator()(Fn&& fn) {
        enter();
        if constexpr (std::is_void_v<decltype(fn())>) {
            fn();
            leave();
        } else {
            auto result = fn();
            leave();
            return result;
        }
    }

    long calls() const { return calls_; }
    long changed() const { return changed_; }
    // The first call that changed the environment: what it left.
    const std::string& first_change() const { return first_change_; }

private:
    void enter() {
        __asm__ __volatile__("fnclex" ::: "memory");
        status_ = platform::x87_status_word();
        platform::set_x87_control_word(env_.x87_control);
        platform::set_mxcsr(env_.mxcsr);
    }
    void leave() {
        const unsigned csr = platform::mxcsr();
        const std::uint16_t cw = platform::x87_control_word();
        const std::uint16_t sw = platform::x87_status_word();
        // Cleared before the test's word is loaded: a flag left under a
        // control word that unmasks it would trap here, not in the call.
        __asm__ __volatile__("fnclex" ::: "memory");
        platform::set_x87_control_word(platform::kX87ExtendedNearestMasked);
        platform::set_mxcsr(platform::kMxcsrExceptionMasks);
        ++calls_;
        if (csr != env_.mxcsr || cw != env_.x87_control || sw != status_) {
            if (changed_++ == 0) {
                char text[96];
                std::snprintf(text, sizeof text, "MXCSR 0x%04X, x87 control 0x%04X, status 0x%04X (call %ld)", csr, cw,
                              sw, calls_);
                first_change_ = text;
            }
        }
    }

    HostFpEnv env_;
    std::uint16_t status_ = 0;
    long calls_ = 0;
    long changed_ = 0;
    std::string first_change_;
};
#endif

}  // namespace qv::test
