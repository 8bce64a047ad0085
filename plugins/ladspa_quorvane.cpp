// The LADSPA plug-in: one stereo plug-in over the shared core.
#include <ladspa.h>

#include <cmath>

#include "platform/fp_mode.h"
#include "plugins/plugin_core.h"

namespace qv::plugin {
namespace {

// Each call runs in the module's floating-point mode and gives the host's back;
// the chain's flush-to-zero is added inside run() around the chain alone.
LADSPA_Handle instantiate(const LADSPA_Descriptor*, unsigned long rate) {
    const platform::DefaultFpMode mode;
    try {
        auto core = core_create(static_cast<double>(rate), LogSink{});
        if (core) plugin_control_start(*core, "LADSPA", LogSink{});
        return core.release();
    } catch (...) {
        return nullptr;
    }
}

void connect_port(LADSPA_Handle h, unsigned long port, LADSPA_Data* data) {
    if (port < kPortCount) static_cast<PluginCore*>(h)->port[port] = data;
}

void activate(LADSPA_Handle h) {
    const platform::DefaultFpMode mode;
    try {
        core_activate(*static_cast<PluginCore*>(h));
    } catch (...) {
    }
}

void run(LADSPA_Handle h, unsigned long frames) {
    const platform::DefaultFpMode mode;
    core_run(*static_cast<PluginCore*>(h), static_cast<std::uint32_t>(frames));
}

// Nothing to do; some hosts call it without checking for null.
void deactivate(LADSPA_Handle) {}

void cleanup(LADSPA_Handle h) {
    const platform::DefaultFpMode mode;
    delete static_cast<PluginCore*>(h);
}

struct Tables {
    LADSPA_PortDescriptor descriptors[kPortCount];
    const char* names[kPortCount];
    LADSPA_PortRangeHint hints[kPortCount];
    LADSPA_Descriptor descriptor;
};

// The LADSPA default nearest to p.def among those a hint can name (the
// bounds, the points a quarter, half and three quarters between them, 0, 1,
// 100, 440). -1 in -6..0 cannot be named: ceiling_dbtp defaults to -1.5 for
// LADSPA hosts.
LADSPA_PortRangeHintDescriptor default_hint(const PortInfo& p) {
    const struct {
        LADSPA_PortRangeHintDescriptor hint;
        float value;
    } named[] = {{LADSPA_HINT_DEFAULT_0, 0},
                 {LADSPA_HINT_DEFAULT_1, 1},
                 {LADSPA_HINT_DEFAULT_MINIMUM, p.min},
                 {LADSPA_HINT_DEFAULT_MAXIMUM, p.max},
                 {LADSPA_HINT_DEFAULT_MIDDLE, 0.5f * p.min + 0.5f * p.max},
                 {LADSPA_HINT_DEFAULT_LOW, 0.75f * p.min + 0.25f * p.max},
                 {LADSPA_HINT_DEFAULT_HIGH, 0.25f * p.min + 0.75f * p.max},
                 {LADSPA_HINT_DEFAULT_100, 100},
                 {LADSPA_HINT_DEFAULT_440, 440}};
    LADSPA_PortRangeHintDescriptor best = LADSPA_HINT_DEFAULT_0;
    float distance = INFINITY;
    for (const auto& n : named) {
        if (n.value < p.min || n.value > p.max || std::fabs(n.value - p.def) >= distance) continue;
        distance = std::fabs(n.value - p.def);
        best = n.hint;
    }
    return best;
}

LADSPA_PortRangeHintDescriptor hint_for(const PortInfo& p) {
    if (p.kind == PortKind::kAudioIn || p.kind == PortKind::kAudioOut) return 0;
    // sox asks a value or a default of every control port, outputs included.
    if (p.kind == PortKind::kControlOut) return LADSPA_HINT_DEFAULT_0;
    if (p.toggled) return LADSPA_HINT_TOGGLED | LADSPA_HINT_DEFAULT_0;
    LADSPA_PortRangeHintDescriptor h = LADSPA_HINT_BOUNDED_BELOW | LADSPA_HINT_BOUNDED_ABOVE;
    if (p.integer) h |= LADSPA_HINT_INTEGER;
    return h | default_hint(p);
}

Tables make_tables() {
    Tables t{};
    for (int i = 0; i < kPortCount; ++i) {
        const PortInfo& p = kPorts[i];
        switch (p.kind) {
            case PortKind::kAudioIn:
                t.descriptors[i] = LADSPA_PORT_AUDIO | LADSPA_PORT_INPUT;
                break;
            case PortKind::kAudioOut:
                t.descriptors[i] = LADSPA_PORT_AUDIO | LADSPA_PORT_OUTPUT;
                break;
            case PortKind::kControlIn:
                t.descriptors[i] = LADSPA_PORT_CONTROL | LADSPA_PORT_INPUT;
                break;
            case PortKind::kControlOut:
                t.descriptors[i] = LADSPA_PORT_CONTROL | LADSPA_PORT_OUTPUT;
                break;
        }
        // Control ports go by their symbol: hosts such as Liquidsoap make
        // argument names of them, and Ardour-style hosts read the output
        // port named "latency".
        const bool control = p.kind == PortKind::kControlIn || p.kind == PortKind::kControlOut;
        t.names[i] = control ? p.symbol : p.name;
        t.hints[i].HintDescriptor = hint_for(p);
        t.hints[i].LowerBound = p.min;
        t.hints[i].UpperBound = p.max;
    }
    LADSPA_Descriptor& d = t.descriptor;
    d.UniqueID = kLadspaUniqueId;
    d.Label = kLadspaLabel;
    d.Properties = LADSPA_PROPERTY_HARD_RT_CAPABLE;
    d.Name = "Quorvane broadcast processor";
    d.Maker = "Quorvane";
    d.Copyright = "None";
    d.PortCount = kPortCount;
    d.instantiate = instantiate;
    d.connect_port = connect_port;
    d.activate = activate;
    d.run = run;
    d.run_adding = nullptr;
    d.set_run_adding_gain = nullptr;
    d.deactivate = deactivate;
    d.cleanup = cleanup;
    return t;
}

}  // namespace
}  // namespace qv::plugin

extern "C" __attribute__((visibility("default"))) const LADSPA_Descriptor* ladspa_descriptor(unsigned long index) {
    using namespace qv::plugin;
    if (index != 0) return nullptr;
    static Tables t = make_tables();
    t.descriptor.PortDescriptors = t.descriptors;
    t.descriptor.PortNames = t.names;
    t.descriptor.PortRangeHints = t.hints;
    return &t.descriptor;
}
