#pragma once
// The browser control panel: an HTTP server on threads of its own serving
// the embedded page and a JSON API (meters, process list, Load, Save, the
// main controls) over what a front end lends it (control/control_target.h).
// Today `quorvane stream --control [ADDR:]PORT` lends its processor; a
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

// Binds and starts serving; null with the cause when the address cannot be
// bound. An empty token means none is required (loopback only: the caller
// refuses anything else).
WebControlPtr start_web_control(ControlTarget target, const ControlAddress& address, const std::string& token,
                                std::string& error);
// The bound port.
int web_control_port(const WebControl& control);

}  // namespace qv::control
