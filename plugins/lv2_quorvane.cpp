// The LV2 plug-in: the shared core, plus state. It requires no host feature;
// with urid:map it saves and restores the whole process on air (the 18,418
// bytes of a process file, as one atom:Chunk) with the process port's value,
// and with log:log its messages go to the host's log.
#include <lv2/atom/atom.h>
#include <lv2/core/lv2.h>
#include <lv2/log/log.h>
#include <lv2/state/state.h>
#include <lv2/urid/urid.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/fp_mode.h"
#include "plugins/plugin_core.h"
#include "settings/startup.h"

namespace qv::plugin {
namespace {

struct Lv2Instance {
    std::unique_ptr<PluginCore> core;
    LV2_URID_Map* map = nullptr;
    LV2_Log_Log* log = nullptr;
    LV2_URID log_error = 0;
    LV2_URID atom_chunk = 0;
    LV2_URID atom_int = 0;
    LV2_URID atom_long = 0;
    LV2_URID key_process = 0;
    LV2_URID key_number = 0;
};

void log_to_host(void* context, const char* text) {
    auto* self = static_cast<Lv2Instance*>(context);
    self->log->printf(self->log->handle, self->log_error, "%s", text);
}

// Each call runs in the module's floating-point mode and gives the host's back;
// the chain's flush-to-zero is added inside run() around the chain alone.
LV2_Handle instantiate(const LV2_Descriptor*, double rate, const char*, const LV2_Feature* const* features) {
    const platform::DefaultFpMode mode;
    try {
        auto self = std::make_unique<Lv2Instance>();
        for (int i = 0; features != nullptr && features[i] != nullptr; ++i) {
            if (std::strcmp(features[i]->URI, LV2_URID__map) == 0)
                self->map = static_cast<LV2_URID_Map*>(features[i]->data);
            else if (std::strcmp(features[i]->URI, LV2_LOG__log) == 0)
                self->log = static_cast<LV2_Log_Log*>(features[i]->data);
        }
        LogSink sink;
        if (self->map != nullptr) {
            LV2_URID_Map& m = *self->map;
            self->atom_chunk = m.map(m.handle, LV2_ATOM__Chunk);
            self->atom_int = m.map(m.handle, LV2_ATOM__Int);
            self->atom_long = m.map(m.handle, LV2_ATOM__Long);
            self->key_process = m.map(m.handle, (std::string(kLv2Uri) + "#process").c_str());
            self->key_number = m.map(m.handle, (std::string(kLv2Uri) + "#process_number").c_str());
            if (self->log != nullptr) {
                self->log_error = m.map(m.handle, LV2_LOG__Error);
                sink = LogSink{log_to_host, self.get()};
            }
        }
        self->core = core_create(rate, sink);
        if (!self->core) return nullptr;
        plugin_control_start(*self->core, "LV2", sink);
        return self.release();
    } catch (...) {
        return nullptr;
    }
}

PluginCore& core_of(LV2_Handle h) { return *static_cast<Lv2Instance*>(h)->core; }

void connect_port(LV2_Handle h, uint32_t port, void* data) {
    if (port < kPortCount) core_of(h).port[port] = static_cast<float*>(data);
}

void activate(LV2_Handle h) {
    const platform::DefaultFpMode mode;
    try {
        core_activate(core_of(h));
    } catch (...) {
    }
}

void run(LV2_Handle h, uint32_t frames) {
    const platform::DefaultFpMode mode;
    core_run(core_of(h), frames);
}

void deactivate(LV2_Handle) {}

void cleanup(LV2_Handle h) {
    const platform::DefaultFpMode mode;
    auto* self = static_cast<Lv2Instance*>(h);
    // The core leaves the library, whose last words may go to this log.
    self->core.reset();
    delete self;
}

LV2_State_Status save(LV2_Handle h, LV2_State_Store_Function store, LV2_State_Handle handle, uint32_t,
                      const LV2_Feature* const*) {
    const platform::DefaultFpMode mode;
    auto* self = static_cast<Lv2Instance*>(h);
    if (self->map == nullptr) return LV2_STATE_ERR_NO_FEATURE;
    unsigned char image[kProcessFileBytes];
    encode_process(self->core->on_air, image);
    const std::int32_t number = core_state_number(*self->core);
    const uint32_t flags = LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE;
    LV2_State_Status st = store(handle, self->key_process, image, sizeof image, self->atom_chunk, flags);
    if (st != LV2_STATE_SUCCESS) return st;
    return store(handle, self->key_number, &number, sizeof number, self->atom_int, flags);
}

LV2_State_Status restore(LV2_Handle h, LV2_State_Retrieve_Function retrieve, LV2_State_Handle handle, uint32_t,
                         const LV2_Feature* const*) {
    const platform::DefaultFpMode mode;
    auto* self = static_cast<Lv2Instance*>(h);
    if (self->map == nullptr) return LV2_STATE_ERR_NO_FEATURE;
    size_t size = 0;
    uint32_t type = 0, flags = 0;
    const void* image = retrieve(handle, self->key_process, &size, &type, &flags);
    if (image == nullptr) return LV2_STATE_ERR_NO_PROPERTY;
    if (type != self->atom_chunk) return LV2_STATE_ERR_BAD_TYPE;
    // Decoded over the defaults: a short image keeps the defaults' words.
    ProcessParams process;
    fill_defaults(process);
    if (!decode_process(static_cast<const unsigned char*>(image), size, process)) return LV2_STATE_ERR_UNKNOWN;
    // Saved as an Int; a preset written by hand may hold a Long.
    std::int64_t number = 0;
    const void* n = retrieve(handle, self->key_number, &size, &type, &flags);
    if (n != nullptr && type == self->atom_int && size == 4) {
        std::int32_t v;
        std::memcpy(&v, n, 4);
        number = v;
    } else if (n != nullptr && type == self->atom_long && size == 8) {
        std::memcpy(&number, n, 8);
    }
    core_restore(*self->core, process, static_cast<int>(std::clamp<std::int64_t>(number, 0, kMaxProcessNumber)));
    return LV2_STATE_SUCCESS;
}

const void* extension_data(const char* uri) {
    static const LV2_State_Interface state = {save, restore};
    if (std::strcmp(uri, LV2_STATE__interface) == 0) return &state;
    return nullptr;
}

const LV2_Descriptor kDescriptor = {kLv2Uri, instantiate, connect_port, activate,
                                    run,     deactivate,  cleanup,      extension_data};

}  // namespace
}  // namespace qv::plugin

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index) {
    return index == 0 ? &qv::plugin::kDescriptor : nullptr;
}
