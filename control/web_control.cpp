#include "control/web_control.h"

#include <httplib.h>
#include <netdb.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <thread>
#include <vector>

#include "control/http_front.h"
#include "control/meter_stream.h"
#include "control/param_json.h"
#include "control/web_page.h"
#include "settings/param_table.h"
#include "settings/process_file.h"
#include "settings/startup.h"

namespace qv::control {

using httplib::Request;
using httplib::Response;
using nlohmann::json;

namespace {

// Worker threads of the server. A worker gets a connection only once its
// whole request came (control/http_front.h) and holds it while it answers,
// a meter stream for as long as it is watched: the meter streams are capped
// well below the workers to leave some for the API.
constexpr int kWorkers = 12;
constexpr int kMaxMeterStreams = 6;
// Every reply closes its connection; a request has kRequestDeadline from
// its accept to come whole, and a reply kWriteTimeoutMs for each stall.
constexpr std::chrono::milliseconds kRequestDeadline{5000};
constexpr std::size_t kMaxWaitingConnections = 64;
constexpr int kWriteTimeoutMs = 5000;
constexpr std::size_t kMaxBodyBytes = 4096;

// A stream with nothing to send says so this often, so a dead peer is noticed.
constexpr auto kIdleComment = std::chrono::seconds(1);
// GET /api/health answers 503 once no block came for this long.
constexpr double kHealthSilenceSeconds = 2.0;

// Process names are 8-bit text from the Windows panel: bytes above 0x7F are
// taken as Latin-1 and given to JSON as UTF-8.
std::string utf8_name(const std::string& latin1) {
    std::string utf8;
    for (const char c : latin1) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x80) {
            utf8 += static_cast<char>(b);
        } else {
            utf8 += static_cast<char>(0xC0 | (b >> 6));
            utf8 += static_cast<char>(0x80 | (b & 0x3F));
        }
    }
    return utf8;
}

std::string name_of(const ProcessParams& p) {
    char name[20];
    copy_process_name(name, p.global.process_name);
    return utf8_name(name);
}

// Names from the browser: printable ASCII only, so that they read the same
// in the Windows panel.
bool ascii_name(const std::string& name) {
    for (unsigned char c : name)
        if (c < 0x20 || c > 0x7E) return false;
    return true;
}

// The replies are a few kilobytes at most: compressing them costs more than
// it saves, and the library compresses plain "application/json" (at the
// slow default quality for brotli) whenever the client accepts it.
void send_json(Response& res, int status, const json& body) {
    res.status = status;
    res.set_content(body.dump(-1, ' ', false, json::error_handler_t::replace), "application/json; charset=utf-8");
}

void send_error(Response& res, int status, const std::string& message, const char* name = nullptr) {
    json body = {{"error", message}};
    if (name != nullptr) body["name"] = name;
    send_json(res, status, body);
}

json dead_air_json(const MonitorReading& m) {
    return {{"active", m.dead_air},
            {"quiet_s", std::round(m.quiet_s * 10.0) / 10.0},
            {"below_dbfs", m.rule.below_dbfs},
            {"after_s", m.rule.after_s}};
}

// Everything the page shows of an instance but its meters: the process on
// air with every value, the format, the alarms, and what the caller may do.
json state_json(const ControlState& s, const std::string& id, const ControlTarget& target, const char* access) {
    json controls = values_json(s.process);
    controls["test_tone"] = s.test_tone ? 1 : 0;
    const ControlFormat& format = target.format;
    json alarms = nullptr;
    if (target.monitor != nullptr) alarms = {{"dead_air", dead_air_json(monitor_reading(*target.monitor))}};
    return {
        {"instance", id},
        {"access", access},
        {"host_ports",
         target.host_owned ? json{{"process", s.host_process}, {"bypass", s.host_bypass}} : json(nullptr)},
        {"process",
         {{"number", s.on_air_number >= 0 ? json(s.on_air_number) : json(nullptr)},
          {"name", name_of(s.process)},
          {"modified", s.modified}}},
        {"controls", controls},
        {"latency", {{"frames", s.latency_frames}, {"ms", s.latency_frames * 1000.0 / 44100.0}}},
        {"ceiling",
         {{"on", s.ceiling_on},
          {"dbtp", s.ceiling_on ? json(std::round(s.ceiling_dbtp * 100.0) / 100.0) : json(nullptr)}}},
        {"alarms", alarms},
        {"format",
         {{"channels", format.channels},
          {"input_rate", format.input_rate},
          {"rate", 44100},
          {"bits", 16},
          {"container", format.raw ? "raw" : "wav"}}},
    };
}

int http_status(Outcome outcome) {
    switch (outcome) {
        case Outcome::ok:
            return 200;
        case Outcome::refused:
            return 422;
        case Outcome::missing:
            return 404;
        case Outcome::exists:
            return 409;
        case Outcome::failed:
            break;
    }
    return 500;
}

// The request's body as a JSON object; sends 400 otherwise.
bool body_object(const Request& req, Response& res, json& out) {
    out = json::parse(req.body, nullptr, false);
    if (out.is_discarded() || !out.is_object()) {
        send_error(res, 400, "the body must be a JSON object");
        return false;
    }
    return true;
}

// A JSON integer (or true/false as 1/0) as decimal text; false for anything else.
bool integer_text(const json& v, std::string& out) {
    if (v.is_boolean()) {
        out = v.get<bool>() ? "1" : "0";
        return true;
    }
    if (v.is_number_integer()) {
        out = v.dump();
        return true;
    }
    return false;
}

// The "number" field of a body; sends 422 when it is not an integer and
// not_found_status when it is outside 0..100.
bool process_number(const json& body, Response& res, int not_found_status, int& n) {
    const auto it = body.find("number");
    if (it == body.end() || !it->is_number_integer()) {
        send_error(res, 422, "\"number\" must be an integer 0..100", "number");
        return false;
    }
    const auto v = it->get<long long>();
    if (v < 0 || v > kMaxProcessNumber) {
        send_error(res, not_found_status, "no process " + it->dump() + ": processes are numbered 0..100", "number");
        return false;
    }
    n = static_cast<int>(v);
    return true;
}

// One control of a body as the text of its assignment; sends 422 when the
// JSON value cannot be one.
bool control_text(const std::string& name, const json& value, Response& res, std::string& text) {
    if (name == "process_name" && value.is_string()) {
        text = value.get<std::string>();
        if (ascii_name(text)) return true;
        send_error(res, 422, "process_name: printable ASCII only", name.c_str());
        return false;
    }
    if (integer_text(value, text)) return true;
    send_error(res, 422, name + ": the value must be an integer", name.c_str());
    return false;
}

// The controls of a body, each checked in the body's order against its JSON
// type and the parameter table's range (which does not depend on the values
// on air); sends 422 naming the first offender, so that nothing is applied.
bool control_edit(const json& body, Response& res, ControlEdit& edit) {
    ProcessParams scratch;
    fill_defaults(scratch);
    for (const auto& [name, value] : body.items()) {
        std::string text, error;
        if (name == "test_tone") {
            if (!integer_text(value, text) || (text != "0" && text != "1")) {
                send_error(res, 422, "test_tone is 0 or 1", name.c_str());
                return false;
            }
            edit.test_tone = text == "1";
            continue;
        }
        if (!control_text(name, value, res, text)) return false;
        if (!apply_param_assignment(scratch, name + "=" + text, error)) {
            send_error(res, 422, error, name.c_str());
            return false;
        }
        edit.assignments.emplace_back(name, text);
    }
    return true;
}

// A Save body: the number, "overwrite" and "name"; sends 422 for a field
// that is not what it must be.
bool save_request(const json& body, Response& res, SaveRequest& save) {
    if (!process_number(body, res, 422, save.number)) return false;
    const auto overwrite = body.find("overwrite");
    if (overwrite != body.end() && !overwrite->is_boolean()) {
        send_error(res, 422, "\"overwrite\" must be true or false");
        return false;
    }
    const auto name = body.find("name");
    if (name != body.end() && (!name->is_string() || !ascii_name(name->get<std::string>()))) {
        send_error(res, 422, "\"name\" must be a string of printable ASCII", "name");
        return false;
    }
    save.overwrite = overwrite != body.end() && overwrite->get<bool>();
    if (name != body.end()) save.name = name->get<std::string>();
    return true;
}

// A Dead-air body: "below_dbfs" and "after_s", each optional, over the rule
// in force; sends 422 for a field that is not a number in its range.
bool dead_air_request(const json& body, Response& res, DeadAirRule& rule) {
    for (const auto& [name, field] : {std::pair{"below_dbfs", &rule.below_dbfs}, {"after_s", &rule.after_s}}) {
        const auto it = body.find(name);
        if (it == body.end()) continue;
        if (!it->is_number()) {
            send_error(res, 422, std::string("\"") + name + "\" must be a number", name);
            return false;
        }
        *field = it->get<double>();
    }
    std::string error;
    if (dead_air_rule_valid(rule, error)) return true;
    send_error(res, 422, error);
    return false;
}

json loudness_json(const MonitorReading& m) {
    const LoudnessReading& l = m.loudness;
    const auto number = [](double v) { return std::isfinite(v) ? json(std::round(v * 100.0) / 100.0) : json(nullptr); };
    return {{"momentary_lufs", number(l.momentary_lufs)},
            {"short_term_lufs", number(l.short_term_lufs)},
            {"integrated_lufs", number(l.integrated_lufs)},
            {"true_peak_dbtp", number(l.true_peak_dbtp)},
            {"frames", l.frames},
            {"from_frame", l.from_frame},
            {"dropped_blocks", m.dropped_blocks}};
}

void serve_page(Response& res) {
    res.set_header("Content-Security-Policy",
                   "default-src 'self'; style-src 'self' 'unsafe-inline'; frame-ancestors 'none'");
    res.set_content(kWebPageHtml, "text/html; charset=utf-8");
}

void serve_script(Response& res) { res.set_content(kWebPageJs, "text/javascript; charset=utf-8"); }

}  // namespace

// A request the front gathered whole, then the connection to answer on.
// Reads never reach the socket: past the request there is nothing more.
class GatheredStream : public httplib::Stream {
public:
    GatheredStream(int fd, std::string request) : fd_(fd), bytes_(std::move(request)) {}
    bool is_readable() const override { return at_ < bytes_.size(); }
    // write() waits for room itself and fails on a gone or stalled peer:
    // asking first would cost a system call per meter frame.
    bool is_writable() const override { return true; }
    ssize_t read(char* ptr, size_t size) override {
        const std::size_t n = std::min(size, bytes_.size() - at_);
        std::memcpy(ptr, bytes_.data() + at_, n);
        at_ += n;
        return static_cast<ssize_t>(n);
    }
    ssize_t write(const char* ptr, size_t size) override {
        return send_all(fd_, ptr, size, kWriteTimeoutMs) ? static_cast<ssize_t>(size) : -1;
    }
    void get_remote_ip_and_port(std::string& ip, int& port) const override { address_of(getpeername, ip, port); }
    void get_local_ip_and_port(std::string& ip, int& port) const override { address_of(getsockname, ip, port); }
    socket_t socket() const override { return fd_; }

private:
    void address_of(int (*get)(int, sockaddr*, socklen_t*), std::string& ip, int& port) const {
        sockaddr_storage a{};
        socklen_t n = sizeof a;
        char text[INET6_ADDRSTRLEN] = "";
        port = 0;
        if (get(fd_, reinterpret_cast<sockaddr*>(&a), &n) == 0 &&
            getnameinfo(reinterpret_cast<sockaddr*>(&a), n, text, sizeof text, nullptr, 0, NI_NUMERICHOST) == 0) {
            port = a.ss_family == AF_INET6 ? ntohs(reinterpret_cast<sockaddr_in6*>(&a)->sin6_port)
                                           : ntohs(reinterpret_cast<sockaddr_in*>(&a)->sin_port);
        }
        ip = text;
    }

    int fd_;
    std::string bytes_;
    std::size_t at_ = 0;
};

// The library's routing and replies over a request the front gathered. The
// library streams a chunked reply only while its accept loop runs, so one
// runs, idle, over one end of a socket pair that nothing can connect to.
class Router : public httplib::Server {
public:
    void answer(int fd, std::string request) {
        GatheredStream stream(fd, std::move(request));
        bool closed = false;
        process_request(stream, true, closed, [](Request&) {});
    }
    bool start_idle_loop() {
        int pair[2];
        if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) return false;
        svr_sock_ = pair[0];
        peer_ = pair[1];
        new_task_queue = [] { return new httplib::ThreadPool(0); };
        set_idle_interval(1);
        loop_ = std::thread([this] { listen_after_bind(); });
        while (!is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return true;
    }
    void stop_idle_loop() {
        if (!loop_.joinable()) return;
        stop();  // shuts the socket down, which wakes the loop
        loop_.join();
        close(peer_);
    }

private:
    std::thread loop_;
    int peer_ = -1;
};

// One front end's processor as the server serves it.
struct Instance {
    std::string id;
    ControlTarget target;
    // Guarded by WebControl::instances_mutex: the server's threads calling
    // its callbacks now.
    int users = 0;
    // Guarded by WebControl::meter_mutex: removed; its meter streams end.
    bool gone = false;
    // Guarded by WebControl::meter_mutex: the newest meter frame as JSON and
    // the loudness history, both written by the meter thread.
    std::string meter_json;
    LoudnessHistory history;
    // Actions that changed something, counted on every meter frame so that
    // pages fetch the state when it changed rather than poll it.
    std::atomic<std::uint64_t> changes{0};
};

struct WebControl;

// An instance in use by one of the server's threads: its callbacks may be
// called until the use ends.
struct InstanceUse {
    WebControl* control = nullptr;
    std::shared_ptr<Instance> in;
    InstanceUse(WebControl* c, std::shared_ptr<Instance> i);
    InstanceUse(InstanceUse&& other) noexcept : control(other.control), in(std::move(other.in)) {}
    InstanceUse(const InstanceUse&) = delete;
    InstanceUse& operator=(const InstanceUse&) = delete;
    InstanceUse& operator=(InstanceUse&&) = delete;
    ~InstanceUse();
};

struct WebControl {
    // Guarded by instances_mutex, as each one's users; released is told
    // when a use ends.
    std::mutex instances_mutex;
    std::condition_variable released;
    std::vector<std::shared_ptr<Instance>> instances;
    ControlAddress address;
    ControlTokens tokens;
    int port = 0;
    Router server;
    HttpFrontPtr front;
    std::thread meter_thread;

    // The frames' number (one tick of every instance), guarded by meter_mutex.
    std::mutex meter_mutex;
    std::condition_variable meter_ready;
    std::uint64_t meter_seq = 0;
    bool stopping = false;
    std::atomic<int> meter_streams{0};

    using Handler = void (WebControl::*)(Instance&, const Request&, Response&);

    void meter_loop();
    void tick(Instance& in);
    httplib::Server::HandlerResponse screen(const Request& req, Response& res) const;
    const char* access(const Request& req) const;
    std::optional<InstanceUse> instance(const Request& req, Response& res);
    std::vector<InstanceUse> every_instance();
    void get_instances(const Request& req, Response& res);
    void on(const char* method, const char* path, Handler handler);
    void routes();
    void note(const Instance& in, const std::string& line) const;
    void send_state(Instance& in, const Request& req, Response& res, const ControlState& s) const;
    void send_result(Instance& in, const Request& req, Response& res, const Result& r, const ControlState& after) const;
    void get_params(const Request& req, Response& res);
    void get_state(Instance& in, const Request& req, Response& res);
    void get_processes(Instance& in, const Request& req, Response& res);
    void post_process(Instance& in, const Request& req, Response& res);
    void post_controls(Instance& in, const Request& req, Response& res);
    void post_save(Instance& in, const Request& req, Response& res);
    void get_loudness(Instance& in, const Request& req, Response& res);
    void post_loudness_reset(Instance& in, const Request& req, Response& res);
    void post_alarms(Instance& in, const Request& req, Response& res);
    void get_health(Instance& in, const Request& req, Response& res);
    void get_meters(Instance& in, const Request& req, Response& res);
    bool send_meter_event(const Instance& in, std::uint64_t& sent, httplib::DataSink& sink);
};

void WebControl::meter_loop() {
    auto next = std::chrono::steady_clock::now();
    for (;;) {
        next += std::chrono::milliseconds(kMeterScales.tick_ms);
        {
            std::unique_lock<std::mutex> lock(meter_mutex);
            if (meter_ready.wait_until(lock, next, [this] { return stopping; })) return;
        }
        for (const InstanceUse& use : every_instance()) tick(*use.in);
        {
            const std::lock_guard<std::mutex> lock(meter_mutex);
            ++meter_seq;
        }
        meter_ready.notify_all();
        // After a stall (a suspended process) resume from now, not in a burst.
        if (std::chrono::steady_clock::now() > next + std::chrono::seconds(1)) next = std::chrono::steady_clock::now();
    }
}

// One tick of an instance's meters, its frame and its history.
void WebControl::tick(Instance& in) {
    const MeterTick t = in.target.meter_tick();
    MonitorReading m{};
    if (in.target.monitor != nullptr) m = monitor_reading(*in.target.monitor);
    const MonitorReading* monitor = in.target.monitor != nullptr ? &m : nullptr;
    const std::lock_guard<std::mutex> lock(meter_mutex);
    const bool point = history_tick(in.history, t, m.loudness.short_term_lufs);
    in.meter_json = meter_frame_json(t, monitor, in.history, point, in.changes.load(std::memory_order_relaxed));
}

// Checks every request before routing: Host and Origin against DNS rebinding
// and other sites, a token on the API (the read token for reading only),
// JSON bodies on POST.
httplib::Server::HandlerResponse WebControl::screen(const Request& req, Response& res) const {
    using R = httplib::Server::HandlerResponse;
    const std::string host = req.get_header_value("Host");
    if (!host_allowed(address, host)) {
        send_error(res, 403, "the Host header does not name this server");
        return R::Handled;
    }
    if (req.has_header("Origin") && !origin_allowed(req.get_header_value("Origin"), host)) {
        send_error(res, 403, "requests from other sites are refused");
        return R::Handled;
    }
    const bool api = req.path.rfind("/api/", 0) == 0;
    if (api && !tokens.full.empty() && !bearer_matches(req.get_header_value("Authorization"), tokens.full)) {
        if (tokens.read.empty() || !bearer_matches(req.get_header_value("Authorization"), tokens.read)) {
            res.set_header("WWW-Authenticate", "Bearer");
            send_error(res, 401, "a valid token is required");
            return R::Handled;
        }
        if (req.method != "GET") {
            send_error(res, 403, "this token only reads");
            return R::Handled;
        }
    }
    if (req.method == "POST" && !json_content_type(req.get_header_value("Content-Type"))) {
        send_error(res, 415, "the body must be application/json");
        return R::Handled;
    }
    return R::Unhandled;
}

// "full" or "read": what the request's token allows (screen let it through).
const char* WebControl::access(const Request& req) const {
    if (tokens.full.empty() || bearer_matches(req.get_header_value("Authorization"), tokens.full)) return "full";
    return "read";
}

InstanceUse::InstanceUse(WebControl* c, std::shared_ptr<Instance> i) : control(c), in(std::move(i)) { ++in->users; }

InstanceUse::~InstanceUse() {
    if (!in) return;
    {
        const std::lock_guard<std::mutex> lock(control->instances_mutex);
        --in->users;
    }
    control->released.notify_all();
}

// The instance a request names with ?instance=ID, which may be left out
// while there is only one; sends 400 when it is left out among several and
// 404 for an unknown one.
std::optional<InstanceUse> WebControl::instance(const Request& req, Response& res) {
    const std::lock_guard<std::mutex> lock(instances_mutex);
    if (!req.has_param("instance")) {
        if (instances.size() == 1) return InstanceUse(this, instances.front());
        if (instances.empty()) {
            send_error(res, 404, "no instance is registered");
        } else {
            send_error(res, 400, "several instances are registered: name one with ?instance=ID (see /api/instances)",
                       "instance");
        }
        return std::nullopt;
    }
    const std::string id = req.get_param_value("instance");
    for (const auto& in : instances)
        if (in->id == id) return InstanceUse(this, in);
    send_error(res, 404, "no instance " + id, "instance");
    return std::nullopt;
}

std::vector<InstanceUse> WebControl::every_instance() {
    std::vector<InstanceUse> uses;
    const std::lock_guard<std::mutex> lock(instances_mutex);
    uses.reserve(instances.size());
    for (const auto& in : instances) uses.emplace_back(this, in);
    return uses;
}

void WebControl::on(const char* method, const char* path, Handler handler) {
    const auto route = [this, handler](const Request& req, Response& res) {
        if (const std::optional<InstanceUse> use = instance(req, res)) (this->*handler)(*use->in, req, res);
    };
    if (std::strcmp(method, "GET") == 0) {
        server.Get(path, route);
    } else {
        server.Post(path, route);
    }
}

void WebControl::routes() {
    server.Get("/", [](const Request&, Response& res) { serve_page(res); });
    server.Get("/panel.js", [](const Request&, Response& res) { serve_script(res); });
    server.Get("/api/params", [this](const Request& req, Response& res) { get_params(req, res); });
    server.Get("/api/instances", [this](const Request& req, Response& res) { get_instances(req, res); });
    on("GET", "/api/state", &WebControl::get_state);
    on("GET", "/api/processes", &WebControl::get_processes);
    on("POST", "/api/process", &WebControl::post_process);
    on("POST", "/api/controls", &WebControl::post_controls);
    on("POST", "/api/save", &WebControl::post_save);
    on("GET", "/api/loudness", &WebControl::get_loudness);
    on("POST", "/api/loudness/reset", &WebControl::post_loudness_reset);
    on("POST", "/api/alarms", &WebControl::post_alarms);
    on("GET", "/api/health", &WebControl::get_health);
    on("GET", "/api/meters", &WebControl::get_meters);
}

// One line of the instance's log: "control: KIND ID: LINE" (KIND stream, LADSPA, LV2).
void WebControl::note(const Instance& in, const std::string& line) const {
    if (in.target.log) in.target.log("control: " + in.target.kind + " " + in.id + ": " + line);
}

void WebControl::send_state(Instance& in, const Request& req, Response& res, const ControlState& s) const {
    send_json(res, 200, state_json(s, in.id, in.target, access(req)));
}

// The state after an action, or why the action was refused.
void WebControl::send_result(Instance& in, const Request& req, Response& res, const Result& r,
                             const ControlState& after) const {
    if (r.outcome == Outcome::ok) {
        in.changes.fetch_add(1, std::memory_order_relaxed);
        return send_state(in, req, res, after);
    }
    std::string error = r.error;
    if (r.outcome == Outcome::exists) error += "; send \"overwrite\": true to replace it";
    send_error(res, http_status(r.outcome), error, r.name.empty() ? nullptr : r.name.c_str());
}

void WebControl::get_params(const Request&, Response& res) {
    static const std::string params = params_json().dump();
    res.set_content(params, "application/json; charset=utf-8");
}

namespace {

// "LV2 3, 48000 Hz, process 91 SPEECH": what lends it, its id, the host's
// rate and the process on air.
std::string instance_label(const std::string& id, const ControlTarget& t, const ControlState& s) {
    std::string label = t.kind + " " + id + ", " + std::to_string(t.format.input_rate) + " Hz, ";
    if (s.on_air_number >= 0) label += "process " + std::to_string(s.on_air_number) + " ";
    return label + name_of(s.process) + (s.modified ? " (modified)" : "");
}

}  // namespace

// Every instance: id, label, process on air and rate, in the order registered.
void WebControl::get_instances(const Request&, Response& res) {
    json list = json::array();
    for (const InstanceUse& use : every_instance()) {
        const Instance& in = *use.in;
        const ControlState s = in.target.state();
        list.push_back({{"id", in.id},
                        {"kind", in.target.kind},
                        {"label", instance_label(in.id, in.target, s)},
                        {"process",
                         {{"number", s.on_air_number >= 0 ? json(s.on_air_number) : json(nullptr)},
                          {"name", name_of(s.process)},
                          {"modified", s.modified}}},
                        {"rate", in.target.format.input_rate}});
    }
    send_json(res, 200, {{"instances", list}});
}

void WebControl::get_state(Instance& in, const Request& req, Response& res) {
    send_state(in, req, res, in.target.state());
}

void WebControl::get_processes(Instance& in, const Request&, Response& res) {
    json list = json::array();
    for (const StoredProcess& p : in.target.processes())
        list.push_back({{"number", p.number}, {"name", utf8_name(p.name)}});
    send_json(res, 200, {{"processes", list}});
}

namespace {

std::string process_text(const ControlState& s) {
    const std::string name = "\"" + name_of(s.process) + "\"";
    return s.on_air_number >= 0 ? "process " + std::to_string(s.on_air_number) + " " + name : name;
}

}  // namespace

void WebControl::post_process(Instance& in, const Request& req, Response& res) {
    json body;
    int n = 0;
    if (!body_object(req, res, body) || !process_number(body, res, 404, n)) return;
    const ControlState before = in.target.state();
    ControlState after;
    const Result r = in.target.load_process(n, after);
    if (r.outcome == Outcome::ok)
        note(in, process_text(after) + " on air, replacing " + process_text(before) +
                     (before.modified ? " (modified, not saved)" : ""));
    send_result(in, req, res, r, after);
}

void WebControl::post_controls(Instance& in, const Request& req, Response& res) {
    json body;
    ControlEdit edit;
    if (!body_object(req, res, body) || !control_edit(body, res, edit)) return;
    ControlState before, after;
    const Result r = in.target.apply_controls(edit, before, after);
    if (r.outcome == Outcome::ok) {
        for (const std::string& change : process_changes(before.process, after.process)) note(in, change);
        if (before.test_tone != after.test_tone)
            note(in, std::string("test_tone ") + (before.test_tone ? "on -> off" : "off -> on"));
    }
    send_result(in, req, res, r, after);
}

void WebControl::post_save(Instance& in, const Request& req, Response& res) {
    json body;
    SaveRequest save;
    if (!body_object(req, res, body) || !save_request(body, res, save)) return;
    ControlState after;
    const Result r = in.target.save_process(save, after);
    if (r.outcome == Outcome::ok)
        note(in, "saved as " + process_text(after) + (save.overwrite ? " (replacing the stored one)" : ""));
    send_result(in, req, res, r, after);
}

void WebControl::get_loudness(Instance& in, const Request&, Response& res) {
    if (in.target.monitor == nullptr) return send_error(res, 404, "this instance measures no loudness");
    json body = loudness_json(monitor_reading(*in.target.monitor));
    std::string history;
    {
        const std::lock_guard<std::mutex> lock(meter_mutex);
        history = history_json(in.history);
    }
    body["history"] = json::parse(history);
    send_json(res, 200, body);
}

void WebControl::post_loudness_reset(Instance& in, const Request& req, Response& res) {
    json body;
    if (!body_object(req, res, body)) return;
    if (in.target.monitor == nullptr) return send_error(res, 404, "this instance measures no loudness");
    monitor_reset_loudness(*in.target.monitor);
    note(in, "loudness reset (integrated, true peak)");
    in.changes.fetch_add(1, std::memory_order_relaxed);
    send_json(res, 200, {{"reset", true}});
}

void WebControl::post_alarms(Instance& in, const Request& req, Response& res) {
    json body;
    if (!body_object(req, res, body)) return;
    if (in.target.monitor == nullptr) return send_error(res, 404, "this instance has no alarms");
    const DeadAirRule before = monitor_reading(*in.target.monitor).rule;
    DeadAirRule rule = before;
    if (!dead_air_request(body, res, rule)) return;
    monitor_set_dead_air(*in.target.monitor, rule);
    char line[128];
    std::snprintf(line, sizeof line, "dead air below %.1f -> %.1f dBFS, after %.0f -> %.0f s", before.below_dbfs,
                  rule.below_dbfs, before.after_s, rule.after_s);
    note(in, line);
    in.changes.fetch_add(1, std::memory_order_relaxed);
    send_state(in, req, res, in.target.state());
}

void WebControl::get_health(Instance& in, const Request&, Response& res) {
    if (in.target.monitor == nullptr) return send_error(res, 404, "this instance is not monitored");
    const MonitorReading m = monitor_reading(*in.target.monitor);
    const bool playing = m.block_age_s < kHealthSilenceSeconds;
    send_json(res, playing ? 200 : 503,
              {{"instance", in.id},
               {"status", playing ? "ok" : "no audio"},
               {"uptime_s", std::round(m.uptime_s * 10.0) / 10.0},
               {"blocks", m.blocks},
               {"last_block_age_s", std::round(m.block_age_s * 10.0) / 10.0},
               {"dropped_blocks", m.dropped_blocks},
               {"dead_air", dead_air_json(m)}});
}

void WebControl::get_meters(Instance& in, const Request&, Response& res) {
    if (meter_streams.fetch_add(1) >= kMaxMeterStreams) {
        meter_streams.fetch_sub(1);
        send_error(res, 503, "too many meter streams are open");
        return;
    }
    res.set_header("Cache-Control", "no-store");
    // Number of the last frame sent; 0 before the scales went out.
    auto sent = std::make_shared<std::uint64_t>(0);
    // The stream reads only the frames the meter thread made, never the
    // instance's callbacks: it keeps the record, not a use.
    std::shared_ptr<Instance> at;
    {
        const std::lock_guard<std::mutex> lock(instances_mutex);
        for (const auto& i : instances)
            if (i.get() == &in) at = i;
    }
    if (!at) return send_error(res, 404, "no instance " + in.id);
    res.set_chunked_content_provider(
        "text/event-stream",
        [this, at, sent](std::size_t, httplib::DataSink& sink) { return send_meter_event(*at, *sent, sink); },
        [this](bool) { meter_streams.fetch_sub(1); });
}

// The next event of a meter stream: the scales first, then each new frame,
// or a comment when none came within kIdleComment. False ends the stream.
bool WebControl::send_meter_event(const Instance& in, std::uint64_t& sent, httplib::DataSink& sink) {
    std::string event;
    if (sent == 0) {
        event = meter_scales_event();
        const std::lock_guard<std::mutex> lock(meter_mutex);
        // Frames are numbered from 1; wait for the next one.
        sent = std::max<std::uint64_t>(meter_seq, 1);
        return sink.write(event.data(), event.size());
    }
    {
        std::unique_lock<std::mutex> lock(meter_mutex);
        meter_ready.wait_for(lock, kIdleComment, [&] { return stopping || in.gone || meter_seq > sent; });
        if (stopping || in.gone) return false;
        if (meter_seq > sent) {
            event = "data: " + in.meter_json + "\n\n";
            sent = meter_seq;
        }
    }
    if (event.empty()) event = ":\n\n";
    return sink.write(event.data(), event.size());
}

void WebControlStop::operator()(WebControl* c) const {
    if (c == nullptr) return;
    {
        const std::lock_guard<std::mutex> lock(c->meter_mutex);
        c->stopping = true;
    }
    c->meter_ready.notify_all();
    // The meter streams end at their next wait; the front joins the workers.
    c->front.reset();
    c->server.stop_idle_loop();
    if (c->meter_thread.joinable()) c->meter_thread.join();
    delete c;
}

namespace {

void configure(WebControl* self) {
    httplib::Server& s = self->server;
    s.set_payload_max_length(kMaxBodyBytes);
    s.set_default_headers({{"X-Content-Type-Options", "nosniff"}, {"Cache-Control", "no-store"}});
    s.set_pre_routing_handler([self](const Request& req, Response& res) { return self->screen(req, res); });
    s.set_error_handler([](const Request&, Response& res) {
        if (res.body.empty()) send_error(res, res.status, res.status == 404 ? "not found" : "request refused");
    });
    self->routes();
}

}  // namespace

WebControlPtr start_web_control(const ControlAddress& address, const ControlTokens& tokens, std::string& error,
                                int& errno_out) {
    WebControlPtr c(new WebControl);
    c->address = address;
    c->tokens = tokens;
    configure(c.get());
    HttpFrontLimits limits;
    limits.deadline = kRequestDeadline;
    limits.max_waiting = kMaxWaitingConnections;
    limits.max_body_bytes = kMaxBodyBytes;
    limits.workers = kWorkers;
    // The server's threads leave the host's signals to its own threads (the
    // stream's audio thread, whose blocking read they interrupt).
    sigset_t all, old;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &old);
    WebControl* self = c.get();
    const std::string bind_host = address.host == "localhost" ? "127.0.0.1" : address.host;
    std::string cause = "cannot start the server's loop";
    if (self->server.start_idle_loop())
        c->front = start_http_front(
            bind_host, address.port, limits,
            [self](int fd, std::string request) { self->server.answer(fd, std::move(request)); }, cause, errno_out);
    if (c->front) c->meter_thread = std::thread([self] { self->meter_loop(); });
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    if (!c->front) {
        error = "cannot listen on " + address.host + ":" + std::to_string(address.port) + ": " + cause;
        return nullptr;
    }
    c->port = http_front_port(*c->front);
    return c;
}

void web_control_add(WebControl& c, ControlTarget target, const std::string& id) {
    auto in = std::make_shared<Instance>();
    in->id = id;
    in->target = std::move(target);
    const std::lock_guard<std::mutex> lock(c.instances_mutex);
    c.instances.push_back(std::move(in));
}

void web_control_remove(WebControl& c, const std::string& id) {
    std::unique_lock<std::mutex> lock(c.instances_mutex);
    const auto it = std::find_if(c.instances.begin(), c.instances.end(), [&](const auto& in) { return in->id == id; });
    if (it == c.instances.end()) return;
    const std::shared_ptr<Instance> in = *it;
    c.instances.erase(it);
    {
        const std::lock_guard<std::mutex> meter_lock(c.meter_mutex);
        in->gone = true;
    }
    c.meter_ready.notify_all();
    c.released.wait(lock, [&] { return in->users == 0; });
}

int web_control_port(const WebControl& control) { return control.port; }

}  // namespace qv::control
