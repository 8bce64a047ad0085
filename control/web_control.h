#pragma once
// The browser control panel: an HTTP server on threads of its own serving
// the embedded page and a JSON API (the parameter table, every control,
// meters, loudness, alarms, health, process list, Load, Save) over what
// front ends lend it (control/control_target.h), each an instance named by
// its id (?instance=ID; the first when none is named). Today `quorvane
// stream --control [ADDR:]PORT` lends its processor as the one instance; a
// plug-in instance can lend its own the same way.
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

// Binds and starts serving target (the first instance, and today the only
// one); null with the cause when the address cannot be bound. An empty full
// token means none is required (loopback only: the caller refuses anything
// else).
WebControlPtr start_web_control(ControlTarget target, const ControlAddress& address, const ControlTokens& tokens,
                                std::string& error);
// The bound port.
int web_control_port(const WebControl& control);

}  // namespace qv::control
