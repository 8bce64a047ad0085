#pragma once
// Floating-point modes around the work that depends on them, each saving the
// caller's mode and restoring it on the way out, so a host never finds its
// own mode changed after a call.
#include <cstdint>

#if defined(__i386__) || defined(__x86_64__)
#include <xmmintrin.h>
#define QV_X86 1
#else
#define QV_X86 0
#endif

namespace qv::platform {

#if QV_X86
// The x87 control word (precision control in bits 8-9, rounding in 10-11).
inline std::uint16_t x87_control_word() {
    std::uint16_t cw;
    __asm__ __volatile__("fnstcw %0" : "=m"(cw));
    return cw;
}
inline void set_x87_control_word(std::uint16_t cw) { __asm__ __volatile__("fldcw %0" : : "m"(cw)); }
#endif

// x87 control word: precision control 64 bits (bits 8-9 set), round to
// nearest (bits 10-11 clear). long double arithmetic on the control side runs
// under it whatever a host left there (a player may run its threads at 53 bits).
class ExtendedPrecision {
public:
    ExtendedPrecision() {
#if QV_X86
        saved_ = x87_control_word();
        set_x87_control_word(static_cast<std::uint16_t>((saved_ & ~0x0F00u) | 0x0300u));
#endif
    }
    ~ExtendedPrecision() {
#if QV_X86
        set_x87_control_word(saved_);
#endif
    }
    ExtendedPrecision(const ExtendedPrecision&) = delete;
    ExtendedPrecision& operator=(const ExtendedPrecision&) = delete;

private:
    std::uint16_t saved_ = 0;
};

// The chain's SSE mode: flush-to-zero (bit 15) and denormals-are-zero (bit 6).
// Recursive filters decay into subnormal numbers in digital silence, which
// cost up to a hundred times an ordinary operation; in this mode they are
// zero. The chain is designed so that no result it keeps depends on a value
// below 2^-1022.
class ChainFpMode {
public:
    ChainFpMode() {
#if QV_X86
        saved_ = _mm_getcsr();
        _mm_setcsr(saved_ | kFlushToZero | kDenormalsAreZero);
#endif
    }
    ~ChainFpMode() {
#if QV_X86
        _mm_setcsr(saved_);
#endif
    }
    ChainFpMode(const ChainFpMode&) = delete;
    ChainFpMode& operator=(const ChainFpMode&) = delete;

    static constexpr unsigned kFlushToZero = 0x8000;
    static constexpr unsigned kDenormalsAreZero = 0x0040;

private:
    unsigned saved_ = 0;
};

}  // namespace qv::platform
