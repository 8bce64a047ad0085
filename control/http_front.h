#pragma once
// The browser control's front door: it listens, accepts and gathers each
// connection's whole request (head and body) on one thread before a worker
// sees it, so that connections which send slowly or not at all never hold a
// worker. A request must be complete within a deadline counted from the
// accept, not per read; at most a fixed number of connections wait for
// their request, and at that cap the one that has waited longest is closed,
// never the newcomer. There is no limit per address: behind an SSH tunnel
// or a proxy every client is the loopback address.
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

namespace qv::control {

struct HttpFrontLimits {
    std::chrono::milliseconds deadline{5000};  // for the whole request
    std::size_t max_waiting = 64;              // connections still sending their request
    std::size_t max_head_bytes = 8192;
    std::size_t max_body_bytes = 4096;  // a longer Content-Length is handed on at once (for a 413)
    int workers = 12;
};

// A worker's share: the connection (non-blocking, closed by the front when
// serve returns) and the bytes of its request.
using HttpServe = std::function<void(int fd, std::string request)>;

struct HttpFront;
struct HttpFrontStop {
    void operator()(HttpFront* front) const;  // stops accepting, closes the waiting, joins the workers
};
using HttpFrontPtr = std::unique_ptr<HttpFront, HttpFrontStop>;

// Listens on host (numeric) and port (0 for a free one); null with the cause
// (and its errno) when that fails.
HttpFrontPtr start_http_front(const std::string& host, int port, const HttpFrontLimits& limits, HttpServe serve,
                              std::string& error, int& errno_out);
int http_front_port(const HttpFront& front);

// Writes all of data to a non-blocking socket, waiting at most timeout_ms
// for room each time; false when the peer is gone or too slow.
bool send_all(int fd, const char* data, std::size_t size, int timeout_ms);

}  // namespace qv::control
