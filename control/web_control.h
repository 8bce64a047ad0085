#pragma once
// The browser control panel of `quorvane stream --control [ADDR:]PORT`: an
// HTTP server on threads of its own serving the embedded page and a JSON API
// (meters, process list, Load, Save, the main controls). It works on the
// processor's control side only, under the stream's control lock, and reads
// the meters through a take-and-reset feed; the audio thread never waits for
// it.
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "engine/processor.h"

namespace qv::control {

struct ControlAddress {
    std::string host = "127.0.0.1";  // numeric IPv4 or IPv6 (without brackets), or "localhost"
    int port = 0;                    // 0: any free port, reported at start
    bool loopback = true;            // 127.0.0.0/8, ::1 or localhost
    bool wildcard = false;           // 0.0.0.0 or ::
};

// "PORT", "ADDR:PORT" or "[V6ADDR]:PORT"; ADDR numeric or "localhost".
bool parse_control_address(const std::string& text, ControlAddress& out, std::string& error);

// The bearer token in path: at least 32 characters without blanks (128 bits
// as hexadecimal). A file that does not exist is created with mode 0600
// holding 256 random bits as 64 hexadecimal digits; created tells which. A
// file readable or writable by group or others, not a regular file, or too
// short is refused (error_is_usage).
bool load_control_token(const std::string& path, std::string& token, bool& created, std::string& error,
                        bool& error_is_usage);

enum class LoadStatus { ok, missing, invalid, failed };

// What the server needs from the stream command.
struct ControlTarget {
    Processor* processor = nullptr;
    // Held by the server around every use of the processor's control side
    // (settings, processor_update/publish/load, the selection fields) and
    // around load_process; never by the audio thread.
    std::mutex* control_lock = nullptr;
    std::string settings_dir;  // where qv$N.dat live; created by the first Save
    // Puts stored process number (0..100) on air at the next block, as the
    // SIGHUP reload does, and sets selection.on_air_process and
    // process_modified. Called with control_lock held; changes nothing unless
    // it returns ok.
    std::function<LoadStatus(int number, std::string& error)> load_process;
    // The stream's format, for /api/state.
    int channels = 2;
    int input_rate = 44100;
    bool raw = false;
};

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
WebControlPtr start_web_control(const ControlTarget& target, const ControlAddress& address, const std::string& token,
                                std::string& error);
// The bound port.
int web_control_port(const WebControl& control);

}  // namespace qv::control
