// A small host that loads the module exactly as a media player does: through
// its one export, header and module record, in the host's calling order.
// Natively it loads libdsp_quorvane.so; on Windows dsp_quorvane.dll.
//
//   quorvane_test_host [MODULE]                 checks the records and the calls
//   quorvane_test_host MODULE --render OUT.raw  plays a fixed stimulus through
//       the module and writes every returned block to OUT.raw (int16, host
//       byte order), so that two builds of the module can be compared.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "host/dsp_records.h"

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
int render(DspModule* module, const char* out_path) {
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
        std::fprintf(stderr, "cannot write %s\n", out_path);
        return 1;
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
            const int got = module->ModifySamples(module, block.data(), n, seg.bps, seg.nch, seg.srate);
            lengths_ok = lengths_ok && got == n;
            std::fwrite(block.data(), sizeof(short), static_cast<size_t>(n * seg.nch), out);
            total += n * seg.nch;
            f0 += n;
        }
    }
    const bool written = std::fclose(out) == 0;
    check(lengths_ok, "every rendered block keeps its length");
    check(written, "rendered output written");
    std::printf("rendered %ld samples in %d blocks\n", total, block_index);
    return g_failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
#if defined(_WIN32)
    const char* path = argc > 1 ? argv[1] : "dsp_quorvane.dll";
#else
    const char* path = argc > 1 ? argv[1] : "./libdsp_quorvane.so";
#endif
    DspGetHeaderFn get_header = load_module(path);
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
    check(module->Init(module) == 0, "Init returns 0");

    if (argc > 3 && std::strcmp(argv[2], "--render") == 0) {
        const int rc = render(module, argv[3]);
        module->Quit(module);
        return rc;
    }

    std::vector<short> block(2 * 4096);
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<short>((i * 7919) % 20000 - 10000);
    check(module->ModifySamples(module, block.data(), 4096, 16, 2, 44100) == 4096,
          "16-bit 44.1 kHz block keeps its length");
    bool in_range = true;
    for (short v : block) in_range = in_range && v >= -32760 && v <= 32760;
    check(in_range, "output within +-32760");
    std::vector<short> copy = block;
    check(module->ModifySamples(module, block.data(), 4096, 8, 2, 44100) == 4096 && block == copy,
          "8-bit block passes untouched");
    check(module->ModifySamples(module, block.data(), 4096, 16, 2, 22050) == 4096 && block == copy,
          "22.05 kHz block passes untouched");

    module->Config(module);
    module->Quit(module);
    std::printf("%d failure(s)\n", g_failures);
    return g_failures == 0 ? 0 : 1;
}
