#include "control/http_front.h"

#include <fcntl.h>
#include <httplib.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <deque>
#include <thread>
#include <vector>

namespace qv::control {

namespace {

using Clock = std::chrono::steady_clock;

// A connection still sending its request, in the order of its accept.
struct Waiting {
    int fd;
    Clock::time_point deadline;
    std::string bytes;
};

enum class Gathered { more, complete, drop };

int listen_on(const std::string& host, int port, std::string& error, int& errno_out) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV | AI_PASSIVE;
    addrinfo* found = nullptr;
    const int gai = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
    if (gai != 0) {
        error = gai_strerror(gai);
        return -1;
    }
    const int fd = socket(found->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const int yes = 1;
    const bool ok = fd >= 0 && setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes) == 0 &&
                    bind(fd, found->ai_addr, found->ai_addrlen) == 0 && listen(fd, 512) == 0;
    freeaddrinfo(found);
    if (ok) return fd;
    errno_out = errno;
    error = std::strerror(errno_out);
    if (fd >= 0) close(fd);
    return -1;
}

int bound_port(int fd) {
    sockaddr_storage a{};
    socklen_t n = sizeof a;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n) != 0) return -1;
    if (a.ss_family == AF_INET6) return ntohs(reinterpret_cast<sockaddr_in6*>(&a)->sin6_port);
    return ntohs(reinterpret_cast<sockaddr_in*>(&a)->sin_port);
}

// The Content-Length of a head (its lines after the request line), -1 for
// none, -2 when the body comes in chunks or the length is not a number.
long long body_length(const std::string& head) {
    std::string lower(head);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    if (lower.find("\r\ntransfer-encoding:") != std::string::npos) return -2;
    const std::size_t at = lower.find("\r\ncontent-length:");
    if (at == std::string::npos) return -1;
    const char* p = lower.c_str() + at + 17;
    while (*p == ' ' || *p == '\t') ++p;
    if (!std::isdigit(static_cast<unsigned char>(*p))) return -2;
    long long n = 0;
    for (; std::isdigit(static_cast<unsigned char>(*p)) && n < (1LL << 40); ++p) n = n * 10 + (*p - '0');
    return n;
}

}  // namespace

struct HttpFront {
    HttpFrontLimits limits;
    HttpServe serve;
    int listen_fd = -1;
    int wake[2] = {-1, -1};
    int port = 0;
    std::deque<Waiting> waiting;  // the thread's own
    std::unique_ptr<httplib::ThreadPool> workers;
    std::thread thread;

    void loop();
    void accept_all();
    Gathered gather(Waiting& w) const;
    // Whether the request in bytes is complete (or can be answered as it is).
    Gathered judge(const std::string& bytes) const;
    void hand_on(Waiting& w);
};

Gathered HttpFront::judge(const std::string& bytes) const {
    const std::size_t end = bytes.find("\r\n\r\n");
    if (end == std::string::npos) return bytes.size() > limits.max_head_bytes ? Gathered::drop : Gathered::more;
    const long long length = body_length(bytes.substr(0, end + 2));
    // Chunked or oversized bodies are not waited for: the server refuses them
    // from what has come.
    if (length < 0 || length > static_cast<long long>(limits.max_body_bytes)) return Gathered::complete;
    return bytes.size() >= end + 4 + static_cast<std::size_t>(length) ? Gathered::complete : Gathered::more;
}

Gathered HttpFront::gather(Waiting& w) const {
    char buffer[4096];
    for (;;) {
        const ssize_t n = recv(w.fd, buffer, sizeof buffer, 0);
        if (n > 0) {
            w.bytes.append(buffer, static_cast<std::size_t>(n));
            if (w.bytes.size() > limits.max_head_bytes + limits.max_body_bytes + 4) return judge(w.bytes);
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return judge(w.bytes);
        if (n < 0 && errno == EINTR) continue;
        return Gathered::drop;  // closed before its request was complete
    }
}

void HttpFront::hand_on(Waiting& w) {
    const int fd = w.fd;
    workers->enqueue([this, fd, bytes = std::move(w.bytes)]() mutable {
        serve(fd, std::move(bytes));
        close(fd);
    });
}

// Takes every connection the listener holds and reads what each has sent; at
// the cap the one that has waited longest makes room.
void HttpFront::accept_all() {
    for (;;) {
        const int fd = accept4(listen_fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            // Out of descriptors: the oldest waiting connection gives its own.
            if ((errno == EMFILE || errno == ENFILE) && !waiting.empty()) {
                close(waiting.front().fd);
                waiting.pop_front();
                continue;
            }
            return;
        }
        // A request that came whole with its connection is handed on before
        // the rest of the backlog is taken: a flood of newcomers behind it
        // cannot make it the oldest waiting one.
        Waiting w{fd, Clock::now() + limits.deadline, {}};
        const Gathered g = gather(w);
        if (g == Gathered::complete) {
            hand_on(w);
            continue;
        }
        if (g == Gathered::drop) {
            close(fd);
            continue;
        }
        if (waiting.size() >= limits.max_waiting) {
            close(waiting.front().fd);
            waiting.pop_front();
        }
        waiting.push_back(std::move(w));
    }
}

void HttpFront::loop() {
    std::vector<pollfd> fds;
    for (;;) {
        fds.assign({{wake[0], POLLIN, 0}, {listen_fd, POLLIN, 0}});
        for (const Waiting& w : waiting) fds.push_back({w.fd, POLLIN, 0});
        int timeout = -1;
        if (!waiting.empty()) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(waiting.front().deadline - Clock::now());
            timeout = static_cast<int>(std::max<std::chrono::milliseconds::rep>(0, left.count()));
        }
        if (poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) return;
        if (fds[0].revents != 0) return;
        // Reads first, by the indices the poll was given; then the deadlines;
        // then the newcomers.
        std::deque<Waiting> kept;
        const Clock::time_point now = Clock::now();
        for (std::size_t i = 0; i < waiting.size(); ++i) {
            Waiting& w = waiting[i];
            const Gathered g = fds[i + 2].revents != 0 ? gather(w) : Gathered::more;
            if (g == Gathered::complete) {
                hand_on(w);
            } else if (g == Gathered::drop || w.deadline <= now) {
                close(w.fd);
            } else {
                kept.push_back(std::move(w));
            }
        }
        waiting.swap(kept);
        if (fds[1].revents != 0) accept_all();
    }
}

void HttpFrontStop::operator()(HttpFront* front) const {
    if (front == nullptr) return;
    if (front->thread.joinable()) {
        const char byte = 0;
        if (write(front->wake[1], &byte, 1) < 0) std::perror("quorvane: control");
        front->thread.join();
    }
    for (const Waiting& w : front->waiting) close(w.fd);
    if (front->workers) front->workers->shutdown();
    for (const int fd : {front->listen_fd, front->wake[0], front->wake[1]})
        if (fd >= 0) close(fd);
    delete front;
}

HttpFrontPtr start_http_front(const std::string& host, int port, const HttpFrontLimits& limits, HttpServe serve,
                              std::string& error, int& errno_out) {
    HttpFrontPtr front(new HttpFront);
    front->limits = limits;
    front->serve = std::move(serve);
    front->listen_fd = listen_on(host, port, error, errno_out);
    if (front->listen_fd < 0) return nullptr;
    front->port = bound_port(front->listen_fd);
    if (pipe2(front->wake, O_CLOEXEC) != 0) {
        errno_out = errno;
        error = std::strerror(errno_out);
        return nullptr;
    }
    front->workers = std::make_unique<httplib::ThreadPool>(static_cast<std::size_t>(limits.workers));
    HttpFront* self = front.get();
    front->thread = std::thread([self] { self->loop(); });
    return front;
}

int http_front_port(const HttpFront& front) { return front.port; }

bool send_all(int fd, const char* data, std::size_t size, int timeout_ms) {
    while (size > 0) {
        const ssize_t n = send(fd, data, size, MSG_NOSIGNAL);
        if (n > 0) {
            data += n;
            size -= static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd p = {fd, POLLOUT, 0};
            if (poll(&p, 1, timeout_ms) > 0 && (p.revents & POLLOUT) != 0) continue;
        }
        return false;
    }
    return true;
}

}  // namespace qv::control
