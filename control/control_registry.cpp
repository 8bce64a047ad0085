#include "control/control_registry.h"

#include <cerrno>
#include <mutex>
#include <new>

#include "control/web_control.h"

namespace qv::control {

struct Registration {
    std::string id;
    int port = 0;
};

namespace {

// The process's server and its count of instances, guarded by mutex. A
// registration's start or end holds the mutex throughout, so a server is
// never started while the last one is being stopped.
struct Registry {
    std::mutex mutex;
    WebControlPtr server;
    int instances = 0;
    unsigned long next_id = 1;
    bool in_use_said = false;
};

Registry& registry() {
    // Never destroyed: a plug-in's last cleanup may come after static
    // destructors would have run; by then the server is already stopped.
    // Built in the library's own static storage, so that unloading the
    // library (a host's dlclose) takes it along instead of leaking it.
    alignas(Registry) static unsigned char storage[sizeof(Registry)];
    static Registry* r = new (storage) Registry;
    return *r;
}

}  // namespace

RegistrationPtr control_register(ControlTarget target, const ControlAddress& address, const ControlTokens& tokens,
                                 std::string& error) {
    Registry& r = registry();
    const std::lock_guard<std::mutex> lock(r.mutex);
    if (!r.server) {
        int cause = 0;
        r.server = start_web_control(address, tokens, error, cause);
        if (!r.server) {
            if (cause == EADDRINUSE) {
                if (r.in_use_said) error.clear();
                r.in_use_said = true;
            }
            return nullptr;
        }
    }
    RegistrationPtr reg(new Registration);
    reg->id = std::to_string(r.next_id++);
    reg->port = web_control_port(*r.server);
    web_control_add(*r.server, std::move(target), reg->id);
    ++r.instances;
    return reg;
}

void RegistrationEnd::operator()(Registration* reg) const {
    if (reg == nullptr) return;
    Registry& r = registry();
    {
        const std::lock_guard<std::mutex> lock(r.mutex);
        web_control_remove(*r.server, reg->id);
        if (--r.instances == 0) r.server.reset();
    }
    delete reg;
}

const std::string& registration_id(const Registration& r) { return r.id; }

int registration_port(const Registration& r) { return r.port; }

bool control_server_running() {
    Registry& r = registry();
    const std::lock_guard<std::mutex> lock(r.mutex);
    return r.server != nullptr;
}

int control_instances() {
    Registry& r = registry();
    const std::lock_guard<std::mutex> lock(r.mutex);
    return r.instances;
}

}  // namespace qv::control
