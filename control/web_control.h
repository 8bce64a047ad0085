#pragma once
// The browser control panel: an HTTP server on threads of its own serving
// the embedded page and a JSON API (the parameter table, every control,
// meters, loudness, alarms, health, process list, Load, Save) over what
// front ends lend it (control/control_target.h), each an instance named by
// its id (?instance=ID; it may be left out while there is only one).
// `quorvane stream --control [ADDR:]PORT` and the plug-in instances lend
// theirs through the registry (control/control_registry.h).
#include <memory>
#include <string>

#include "control/access.h"
#include "control/control_target.h"

namespace qv::control {

struct WebControl;
// Destroying a running server stops it and joins its threads; open meter
// streams end within a tick.
struct WebControlStop {
    void operator()(WebControl* control) const;
};
using WebControlPtr = std::unique_ptr<WebControl, WebControlStop>;

// Binds and starts serving, with no instance yet; null with the cause when
// the address cannot be bound (errno_out: the system's errno). An empty full
// token means none is required (loopback only: the caller refuses anything
// else). control/control_registry.h keeps one per host process.
WebControlPtr start_web_control(const ControlAddress& address, const ControlTokens& tokens, std::string& error,
                                int& errno_out);
// Serves target from now on as instance id (ids are the caller's, never
// reused).
void web_control_add(WebControl& control, ControlTarget target, const std::string& id);
// Stops serving instance id: its meter streams end, and once this returns
// no thread of the server calls its callbacks or reads its monitor again.
void web_control_remove(WebControl& control, const std::string& id);
// The bound port.
int web_control_port(const WebControl& control);

}  // namespace qv::control
