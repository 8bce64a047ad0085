// A small host that loads the module exactly as a media player does: through
// its one export, header and module record, in the host's calling order.
// Natively it loads libdsp_quorvane.so; on Windows dsp_quorvane.dll.
//
//   quorvane_test_host [MODULE]                 checks the records and the calls
//   quorvane_test_host MODULE --render OUT.raw  plays a fixed stimulus through
//       the module and writes every returned block to OUT.raw (int16, host
//       byte order), so that two builds of the module can be compared.
//   --x87 CW (after MODULE, e.g. 0x27F)  runs every call to the module with
//       this x87 control word, as a player that sets its own precision does.
//   --mxcsr CSR  runs every call to the module with this MXCSR (e.g. 0x4029:
//       round up, every exception unmasked, three sticky flags raised).
//   --minutes M  plays M minutes of programme and prints a hash of the output
//   --stack misaligned  (32-bit Windows) calls ModifySamples on a stack 4
//       bytes off a 16-byte boundary, as a Windows host may.
//
// After every call into the module the host's MXCSR (its sticky exception
// flags included), x87 control word and x87 status word must be what they
// were before it. The modes are set just before each call and the host's own
// put back right after, so that the host's code never runs with exceptions
// unmasked; an exception raised inside a call traps.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "host/dsp_records.h"
#include "platform/fp_mode.h"
#include "tests/host_fp_env.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace {

int g_failures = 0;

void check(bool ok, const char* what) {
    std::printf("%s: %s\n", ok ? "ok" : "FAIL", what);
    if (!ok) ++g_failures;
}

// The floating-point modes the host runs the module's calls with. Every call
// goes through `call`.
qv::test::HostFpEnv g_env{"host", qv::platform::kMxcsrExceptionMasks, qv::platform::kX87ExtendedNearestMasked};
#if QV_X86
std::unique_ptr<qv::test::HostFpCaller> g_fp;

template <typename Fn>
auto call(Fn&& fn) {
    return (*g_fp)(fn);
}
void report_modes() {
    const bool ok = g_fp->changed() == 0;
    std::printf("%s: MXCSR 0x%04X and x87 control word 0x%03X unchanged after every call (%ld calls, %ld changed",
                ok ? "ok" : "FAIL", g_env.mxcsr, g_env.x87_control, g_fp->calls(), g_fp->changed());
    if (!ok) std::printf("; first left %s", g_fp->first_change().c_str());
    std::printf(")\n");
    if (!ok) ++g_failures;
}
#else
template <typename Fn>
auto call(Fn&& fn) {
    return fn();
}
void report_modes() {}
#endif

// The module's four calls, each made through `call`.
int init(DspModule* m) {
    return call([&] { return m->Init(m); });
}
void config(DspModule* m) {
    call([&] {
        m->Config(m);
        return 0;
    });
}
void quit(DspModule* m) {
    call([&] {
        m->Quit(m);
        return 0;
    });
}
#if defined(_WIN32) && defined(__i386__)
// Calls fn(a1..a6) with the stack pointer 4 bytes off a 16-byte boundary, as
// a 32-bit Windows host may call in (it keeps 4-byte alignment only).
extern "C" int misaligned_call6(void* fn, void* a1, void* a2, int a3, int a4, int a5, int a6);
__asm__(
    ".globl _misaligned_call6\n"
    "_misaligned_call6:\n"
    "  push %ebp\n"
    "  mov %esp, %ebp\n"
    "  and $-16, %esp\n"
    "  sub $4, %esp\n"  // six 4-byte arguments follow: esp = 4 (mod 16) at the call
    "  pushl 32(%ebp)\n"
    "  pushl 28(%ebp)\n"
    "  pushl 24(%ebp)\n"
    "  pushl 20(%ebp)\n"
    "  pushl 16(%ebp)\n"
    "  pushl 12(%ebp)\n"
    "  call *8(%ebp)\n"
    "  mov %ebp, %esp\n"
    "  pop %ebp\n"
    "  ret\n");
#endif
bool g_misaligned = false;  // --stack misaligned

int modify(DspModule* m, short* samples, int frames, int bps, int nch, int srate) {
#if defined(_WIN32) && defined(__i386__)
    if (g_misaligned)
        return call([&] {
            return misaligned_call6(reinterpret_cast<void*>(m->ModifySamples), m, samples, frames, bps, nch, srate);
        });
#endif
    return call([&] { return m->ModifySamples(m, samples, frames, bps, nch, srate); });
}

DspGetHeaderFn load_module(const char* path) {
#if defined(_WIN32)
    HMODULE lib = LoadLibraryA(path);
    if (!lib) return nullptr;
    return reinterpret_cast<DspGetHeaderFn>(reinterpret_cast<void*>(GetProcAddress(lib, QUORVANE_EXPORT_NAME)));
#else
    void* lib = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (!lib) {
        std::fprintf(stderr, "dlopen: %s\n", dlerror());
        return nullptr;
    }
    return reinterpret_cast<DspGetHeaderFn>(dlsym(lib, QUORVANE_EXPORT_NAME));
#endif
}

// Deterministic programme material made with integer arithmetic only, so that
// every platform feeds the very same samples.
struct Stimulus {
    std::uint32_t noise = 12345;
    std::uint32_t phase[4] = {0, 0, 0, 0};

    std::int32_t next_noise(std::int32_t amplitude) {
        noise = noise * 1664525u + 1013904223u;
        return static_cast<std::int32_t>((noise >> 16) & 0xFFFF) * 2 * amplitude / 65536 - amplitude;
    }
    // Triangle of the given frequency and peak amplitude from phase accumulator k.
    std::int32_t tri(int k, std::uint32_t freq_hz, std::int32_t amplitude) {
        phase[k] += static_cast<std::uint32_t>((static_cast<std::uint64_t>(freq_hz) << 32) / 44100);
        const std::int32_t p = static_cast<std::int32_t>(phase[k] >> 16);  // 0..65535
        const std::int32_t v = p < 32768 ? 2 * p - 32768 : 2 * (65535 - p) - 32767;
        return v * amplitude / 32768;
    }
};

short clamp16(std::int32_t v) { return static_cast<short>(v > 32767 ? 32767 : v < -32768 ? -32768 : v); }

// One segment of the programme: the kind of material, its length in frames
// and the stream format it is delivered in.
struct Segment {
    int kind, frames, nch, bps, srate;
};

// Fills frame f (of nch channels) of segment k.
void stimulus_frame(Stimulus& st, int k, int f, int nch, short* out) {
    std::int32_t l = 0, r = 0;
    switch (k) {
        case 0:  // near silence: the AGC gate closes
            l = st.next_noise(40);
            r = st.next_noise(40);
            break;
        case 1: {  // programme: chords with a slow swell, wide stereo
            const std::int32_t env = 2000 + (f % 22050) * 20000 / 22050;
            const std::int32_t a = st.tri(0, 220, env), b = st.tri(1, 277, env / 2), c = st.tri(2, 3300, env / 4);
            l = a + b + st.next_noise(env / 8);
            r = a - b + c + st.next_noise(env / 8);
            break;
        }
        case 2:  // hard, square-ish drive into the clippers
            l = (st.tri(0, 150, 32767) > 0 ? 32767 : -32768) / 2 + st.tri(3, 5000, 16000);
            r = st.tri(1, 151, 32767);
            break;
        case 3: {  // heavy bass with bursts of noise
            const bool burst = (f / 2205) % 4 == 0;
            l = st.tri(0, 60, 24000) + (burst ? st.next_noise(12000) : 0);
            r = st.tri(1, 62, 24000) + (burst ? st.next_noise(12000) : 0);
            break;
        }
        default:  // quiet two-tone, for mono and the other formats
            l = st.tri(0, 1000, 6000) + st.tri(2, 90, 6000);
            r = st.tri(1, 1500, 6000);
            break;
    }
    out[0] = clamp16(l);
    if (nch == 2) out[1] = clamp16(r);
}

// Plays the stimulus in blocks of varying length and writes what comes back.
void render(DspModule* module, const char* out_path) {
    static const Segment kSegments[] = {
        {0, 22050, 2, 16, 44100},  // near silence
        {1, 66150, 2, 16, 44100},  // programme
        {2, 22050, 2, 16, 44100},  // drive
        {3, 44100, 2, 16, 44100},  // bass
        {4, 13230, 1, 16, 44100},  // mono blocks
        {4, 4410, 2, 8, 44100},    // refused format: passes untouched
        {4, 8820, 2, 16, 48000},   // a higher rate is processed
        {1, 22050, 2, 16, 44100},  // programme again after the format changes
    };
    static const int kBlockFrames[] = {1, 7, 576, 1152, 4096, 333, 64};
    std::FILE* out = std::fopen(out_path, "wb");
    if (!out) {
        check(false, "output file opens");
        return;
    }
    Stimulus st;
    std::vector<short> block(2 * 4096);
    int block_index = 0;
    long total = 0;
    bool lengths_ok = true;
    for (int k = 0; k < static_cast<int>(sizeof kSegments / sizeof kSegments[0]); ++k) {
        const Segment& seg = kSegments[k];
        for (int f0 = 0; f0 < seg.frames;) {
            int n = kBlockFrames[block_index++ % 7];
            if (n > seg.frames - f0) n = seg.frames - f0;
            for (int i = 0; i < n; ++i) stimulus_frame(st, seg.kind, f0 + i, seg.nch, &block[i * seg.nch]);
            const int got = modify(module, block.data(), n, seg.bps, seg.nch, seg.srate);
            lengths_ok = lengths_ok && got == n;
            std::fwrite(block.data(), sizeof(short), static_cast<size_t>(n * seg.nch), out);
            total += n * seg.nch;
            f0 += n;
        }
        // The panel opens while the programme plays: its recomputation
        // redesigns every coefficient, which must come out as Init's did.
        if (k == 1) config(module);
    }
    const bool written = std::fclose(out) == 0;
    check(lengths_ok, "every rendered block keeps its length");
    check(written, "rendered output written");
    std::printf("rendered %ld samples in %d blocks\n", total, block_index);
}

// Minutes of stereo programme (the four kinds of material in turn, a few
// seconds each, in blocks of 1152 frames) through the module; prints the
// count and an FNV-1a hash of every returned sample, so that two builds can be
// compared over a long run without writing it out.
void render_long(DspModule* module, long minutes) {
    Stimulus st;
    std::vector<short> block(2 * 1152);
    std::uint64_t hash = 1469598103934665603ull;
    long total = 0;
    const long frames = minutes * 60 * 44100;
    for (long f = 0; f < frames;) {
        const int n = static_cast<int>(frames - f < 1152 ? frames - f : 1152);
        const int kind = static_cast<int>((f / (3 * 44100 + 1777)) % 4);
        for (int i = 0; i < n; ++i) stimulus_frame(st, kind, static_cast<int>((f + i) % 44100), 2, &block[2 * i]);
        modify(module, block.data(), n, 16, 2, 44100);
        for (int i = 0; i < 2 * n; ++i) {
            const auto u = static_cast<std::uint16_t>(block[i]);
            hash = (hash ^ (u & 0xFF)) * 1099511628211ull;
            hash = (hash ^ (u >> 8)) * 1099511628211ull;
        }
        total += 2 * n;
        f += n;
    }
    std::printf("long run: %ld samples, hash %016llx\n", total, static_cast<unsigned long long>(hash));
}

}  // namespace

int main(int argc, char** argv) {
#if defined(_WIN32)
    const char* path = argc > 1 ? argv[1] : "dsp_quorvane.dll";
#else
    const char* path = argc > 1 ? argv[1] : "./libdsp_quorvane.so";
#endif
    const char* render_path = nullptr;
    long minutes = 0;
    for (int i = 2; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--render") == 0) {
            render_path = argv[i + 1];
        } else if (std::strcmp(argv[i], "--x87") == 0) {
            g_env.x87_control = static_cast<std::uint16_t>(std::strtoul(argv[i + 1], nullptr, 0));
        } else if (std::strcmp(argv[i], "--mxcsr") == 0) {
            g_env.mxcsr = static_cast<unsigned>(std::strtoul(argv[i + 1], nullptr, 0));
        } else if (std::strcmp(argv[i], "--minutes") == 0) {
            minutes = std::strtol(argv[i + 1], nullptr, 10);
        } else if (std::strcmp(argv[i], "--stack") == 0 && std::strcmp(argv[i + 1], "misaligned") == 0) {
            g_misaligned = true;
        } else {
            std::fprintf(stderr,
                         "usage: quorvane_test_host [MODULE [--render OUT.raw] [--x87 CW] [--mxcsr CSR] [--stack "
                         "misaligned]]\n");
            return 2;
        }
    }
#if defined(_WIN32)
    // A player has the common controls loaded long before it loads a DSP
    // module; their first load, and the modes it leaves, are the platform's.
    LoadLibraryA("comctl32.dll");
#endif
#if QV_X86
    g_fp = std::make_unique<qv::test::HostFpCaller>(g_env);
#endif

    // Loading runs the module's start-up code, which must leave the modes too.
    DspGetHeaderFn get_header = call([&] { return load_module(path); });
    check(get_header != nullptr, "module loads and exports winampDSPGetHeader2");
    if (!get_header) return 1;

    DspHeader* header = get_header();
    check(header->version == QUORVANE_DSP_HEADER_VERSION, "header version 0x20");
    DspModule* module = header->get_module(0);
    check(module != nullptr, "get_module(0) is the module");
    check(header->get_module(1) == nullptr, "get_module(1) is null");
    check(header->get_module(-1) == nullptr, "get_module(-1) is null");
    if (!module) return 1;
    check(module->description == header->description, "both descriptions point at one text");
    check(std::strlen(header->description) == 35, "description is 36 bytes with its terminator");

#if defined(_WIN32)
    module->instance = GetModuleHandleA(path);
    module->parent_window = nullptr;
#endif
    check(init(module) == 0, "Init returns 0");

    if (minutes > 0) {
        render_long(module, minutes);
        quit(module);
        report_modes();
        return g_failures == 0 ? 0 : 1;
    }
    if (render_path) {
        render(module, render_path);
        quit(module);
        report_modes();
        return g_failures == 0 ? 0 : 1;
    }

    std::vector<short> block(2 * 4096);
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<short>((i * 7919) % 20000 - 10000);
    check(modify(module, block.data(), 4096, 16, 2, 44100) == 4096, "16-bit 44.1 kHz block keeps its length");
    bool in_range = true;
    for (short v : block) in_range = in_range && v >= -32760 && v <= 32760;
    check(in_range, "output within +-32760");
    std::vector<short> copy = block;
    check(modify(module, block.data(), 4096, 8, 2, 44100) == 4096 && block == copy, "8-bit block passes untouched");
    check(modify(module, block.data(), 4096, 16, 2, 22050) == 4096 && block == copy,
          "22.05 kHz block passes untouched");

    config(module);
    quit(module);
    report_modes();
    std::printf("%d failure(s)\n", g_failures);
    return g_failures == 0 ? 0 : 1;
}
