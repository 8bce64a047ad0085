#pragma once
// One browser control per host process: every processor of the process
// (the tool's stream, each LADSPA or LV2 plug-in instance) registers with
// it and is listed by GET /api/instances. The first registration starts the
// server on its address and tokens (later ones join it whatever theirs);
// the last one to end stops the server and joins its threads. Ids are
// 1, 2, 3... in the order registered, never reused within the process.
#include <memory>
#include <string>

#include "control/access.h"
#include "control/control_target.h"

namespace qv::control {

struct Registration;
// Ending a registration takes the instance off the server (no thread of the
// server calls its callbacks afterwards) before its front end frees what
// they work; the last one stops the server.
struct RegistrationEnd {
    void operator()(Registration* r) const;
};
using RegistrationPtr = std::unique_ptr<Registration, RegistrationEnd>;

// Registers target; null with the cause when the server was not running and
// cannot be started. A port already in use is said once per process: later
// refusals for it leave error empty, and the caller says nothing.
RegistrationPtr control_register(ControlTarget target, const ControlAddress& address, const ControlTokens& tokens,
                                 std::string& error);
const std::string& registration_id(const Registration& r);
// The server's bound port.
int registration_port(const Registration& r);

// Whether the server runs (its threads alive), and how many instances it
// serves.
bool control_server_running();
int control_instances();

}  // namespace qv::control
