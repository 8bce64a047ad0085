#pragma once
// The floating-point environment every call into the module runs in, whatever
// the calling thread left: a guard at each entry point sets a complete mode,
// saving the caller's, and restores it exactly on the way out (MXCSR with its
// sticky exception flags, the x87 control word and status flags), so a host
// never finds its own mode changed after a call and the module never computes
// in the host's rounding, precision or exception masks.
//
// The mode: SSE round to nearest, every exception masked; x87 64-bit
// precision (the long double derivations), round to nearest, every exception
// masked. ChainFpMode adds flush-to-zero and denormals-are-zero for the audio
// path. Nested guards are harmless: each gives back what it found.
//
// The asm statements clobber memory, so no load or store moves across either
// end of a guard; each guard stands at the top of an entry point whose work
// reads its inputs from memory or runs in the calls made under it.
#include <cstdint>

#if defined(__i386__) || defined(__x86_64__)
#define QV_X86 1
#else
#define QV_X86 0
#endif

namespace qv::platform {

// MXCSR: six sticky exception flags (bits 0-5), denormals-are-zero (6), the
// six exception masks (7-12), rounding (13-14, 0 = to nearest), flush-to-zero (15).
constexpr unsigned kMxcsrDenormalsAreZero = 0x0040;
constexpr unsigned kMxcsrExceptionMasks = 0x1F80;
constexpr unsigned kMxcsrFlushToZero = 0x8000;
// The x87 control word: exception masks (bits 0-5), bit 6 (reads as 1),
// precision (8-9, 3 = 64 bits), rounding (10-11, 0 = to nearest).
constexpr std::uint16_t kX87ExtendedNearestMasked = 0x037F;

#if QV_X86
inline unsigned mxcsr() {
    unsigned csr;
    __asm__ __volatile__("stmxcsr %0" : "=m"(csr));
    return csr;
}
inline void set_mxcsr(unsigned csr) { __asm__ __volatile__("ldmxcsr %0" : : "m"(csr) : "memory"); }
inline std::uint16_t x87_control_word() {
    std::uint16_t cw;
    __asm__ __volatile__("fnstcw %0" : "=m"(cw));
    return cw;
}
inline void set_x87_control_word(std::uint16_t cw) { __asm__ __volatile__("fldcw %0" : : "m"(cw) : "memory"); }
inline std::uint16_t x87_status_word() {
    std::uint16_t sw;
    __asm__ __volatile__("fnstsw %0" : "=m"(sw));
    return sw;
}
#endif

// Sets MXCSR to Mxcsr and the x87 control word to kX87ExtendedNearestMasked
// for its lifetime.
template <unsigned Mxcsr>
class FpModeGuard {
public:
    FpModeGuard() {
#if QV_X86
        saved_mxcsr_ = mxcsr();
        saved_x87_control_ = x87_control_word();
        saved_x87_status_ = x87_status_word();
        set_mxcsr(Mxcsr);
        set_x87_control_word(kX87ExtendedNearestMasked);
#endif
    }
    ~FpModeGuard() {
#if QV_X86
        // The status word keeps the x87 exception flags. Those raised inside
        // (a long double design raises "inexact") are taken back: under a
        // caller's control word that unmasks them they would trap at its next
        // x87 instruction. Only the stack top is left as it is now.
        constexpr std::uint16_t kStackTop = 0x3800;
        if ((x87_status_word() ^ saved_x87_status_) & ~kStackTop) {
            X87Environment env;
            __asm__ __volatile__("fnstenv %0" : "=m"(env));
            env.control = saved_x87_control_;
            env.status = static_cast<std::uint16_t>((saved_x87_status_ & ~kStackTop) | (env.status & kStackTop));
            __asm__ __volatile__("fldenv %0" : : "m"(env) : "memory");
        } else {
            set_x87_control_word(saved_x87_control_);
        }
        set_mxcsr(saved_mxcsr_);
#endif
    }
    FpModeGuard(const FpModeGuard&) = delete;
    FpModeGuard& operator=(const FpModeGuard&) = delete;

private:
#if QV_X86
    // What fnstenv stores and fldenv loads (the 28-byte protected-mode layout,
    // in 64-bit mode too).
    struct X87Environment {
        std::uint16_t control, control_high;
        std::uint16_t status, status_high;
        std::uint16_t tags, tags_high;
        std::uint32_t instruction_offset, instruction_selector, operand_offset, operand_selector;
    };
    unsigned saved_mxcsr_ = 0;
    std::uint16_t saved_x87_control_ = 0;
    std::uint16_t saved_x87_status_ = 0;
#endif
};

// Every entry point of the control side (Init, Config, Quit, the panel's
// notifications, the processor's loads and updates, the plug-ins' calls
// outside the chain): round to nearest, every exception masked.
using DefaultFpMode = FpModeGuard<kMxcsrExceptionMasks>;

// The audio path (ModifySamples, processor_run): the default mode plus
// flush-to-zero and denormals-are-zero. Recursive filters decay into
// subnormal numbers in digital silence, which cost up to a hundred times an
// ordinary operation; in this mode they are zero. The chain is designed so
// that no result it keeps depends on a value below 2^-1022.
using ChainFpMode = FpModeGuard<kMxcsrExceptionMasks | kMxcsrFlushToZero | kMxcsrDenormalsAreZero>;

}  // namespace qv::platform
