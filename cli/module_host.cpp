#include "cli/module_host.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "cli/fs_util.h"

namespace qv::cli {

namespace {
constexpr char kModuleFile[] = "libdsp_quorvane.so";
}

bool find_module(std::string& path, std::string& error) {
    if (const char* env = std::getenv("QUORVANE_MODULE"); env != nullptr && *env != '\0') {
        path = env;
        if (access(env, R_OK) == 0) return true;
        error = std::string("QUORVANE_MODULE=") + env + ": not readable";
        return false;
    }
    std::string exe_dir;
    if (!executable_dir(exe_dir)) {
        error = "cannot find the directory of the quorvane executable";
        return false;
    }
    // Build tree (module beside the tool), then the installed layouts.
    const std::string candidates[] = {
        exe_dir + "/" + kModuleFile,
        exe_dir + "/../lib/quorvane/" + kModuleFile,
        exe_dir + "/../lib/" + kModuleFile,
    };
    error = "cannot find the processing module " + std::string(kModuleFile) + "; looked for";
    for (const std::string& c : candidates) {
        if (access(c.c_str(), R_OK) == 0) {
            path = c;
            return true;
        }
        error += "\n  " + c;
    }
    error += "\n(set QUORVANE_MODULE to its path)";
    return false;
}

bool open_module(ModuleHost& host, const std::string& path, std::string& error) {
    host.library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (host.library == nullptr) {
        const char* why = dlerror();
        error = path + ": cannot load module: " + (why ? why : "unknown error");
        return false;
    }
    auto get_header = reinterpret_cast<DspGetHeaderFn>(dlsym(host.library, QUORVANE_EXPORT_NAME));
    if (get_header == nullptr) {
        error = path + ": no export " QUORVANE_EXPORT_NAME;
        return false;
    }
    DspHeader* header = get_header();
    if (header == nullptr || header->version != QUORVANE_DSP_HEADER_VERSION || header->get_module == nullptr) {
        error = path + ": unexpected module header";
        return false;
    }
    host.module = header->get_module(0);
    if (host.module == nullptr || host.module->Init == nullptr || host.module->ModifySamples == nullptr ||
        host.module->Quit == nullptr) {
        error = path + ": module 0 is missing";
        return false;
    }
    host.agc_gains = reinterpret_cast<AgcGainsFn>(dlsym(host.library, kAgcGainsExport));
    return true;
}

bool init_module(ModuleHost& host, std::string& error) {
    // A media player fills in its window and instance handles; there are none here.
    host.module->parent_window = nullptr;
    host.module->instance = nullptr;
    if (host.module->Init(host.module) != 0) {
        error = "the module's Init failed";
        return false;
    }
    host.running = true;
    return true;
}

void process_block(ModuleHost& host, std::int16_t* samples, int frames, int channels) {
    host.module->ModifySamples(host.module, samples, frames, kChainBits, channels, kChainRate);
}

void quit_module(ModuleHost& host) {
    if (!host.running) return;
    host.module->Quit(host.module);
    host.running = false;
}

}  // namespace qv::cli
