#pragma once
// Who may reach the browser control: the address it listens on, the bearer
// token, and the checks every request passes before it is routed (Host and
// Origin against DNS rebinding and other sites, the token, JSON bodies).
#include <string>

namespace qv::control {

struct ControlAddress {
    std::string host = "127.0.0.1";  // numeric IPv4 or IPv6 (without brackets), or "localhost"
    int port = 0;                    // 0: any free port, reported at start
    bool loopback = true;            // 127.0.0.0/8, ::1 or localhost
    bool wildcard = false;           // 0.0.0.0 or ::
};

// The bearer tokens: empty for none. The full token may do everything; the
// read token only reads (state, meters, loudness, health) and needs a full
// token beside it.
struct ControlTokens {
    std::string full;
    std::string read;
};

// "PORT", "ADDR:PORT" or "[V6ADDR]:PORT"; ADDR numeric or "localhost".
bool parse_control_address(const std::string& text, ControlAddress& out, std::string& error);

// The bearer token in path: at least 32 characters without blanks (128 bits
// as hexadecimal). A file that does not exist is created with mode 0600
// holding 256 random bits as 64 hexadecimal digits; created tells which. A
// file readable or writable by group or others, not a regular file, or too
// short is refused (error_is_usage). option names the file's option in the
// messages ("--control-token").
bool load_control_token(const std::string& option, const std::string& path, std::string& token, bool& created,
                        std::string& error, bool& error_is_usage);

// A Host header that names the server bound at address: the bound address,
// localhost, on loopback 127.0.0.1 and ::1, and when bound to every
// interface any address of the machine, but never another name (so a foreign
// name resolved to it is refused).
bool host_allowed(const ControlAddress& address, const std::string& host_header);
// An Origin header must be this very server: "http://" and its Host.
bool origin_allowed(const std::string& origin, const std::string& host_header);
// "Bearer TOKEN" with the token, compared without an early exit.
bool bearer_matches(const std::string& authorization, const std::string& token);
// application/json, with or without parameters.
bool json_content_type(const std::string& content_type);

}  // namespace qv::control
