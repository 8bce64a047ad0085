// A small host that loads the module exactly as a media player does: through
// its one export, header and module record, in the host's calling order.
// Natively it loads libdsp_quorvane.so; on Windows dsp_quorvane.dll.
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

    std::vector<short> block(2 * 4096);
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<short>((i * 7919) % 20000 - 10000);
    check(module->ModifySamples(module, block.data(), 4096, 16, 2, 44100) == 4096, "16-bit 44.1 kHz block keeps its length");
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
