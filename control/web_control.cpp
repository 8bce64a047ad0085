#include "control/web_control.h"

#include <httplib.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <nlohmann/json.hpp>
#include <thread>

#include "control/web_page.h"
#include "settings/param_table.h"
#include "settings/process_file.h"
#include "settings/startup.h"

namespace qv::control {

using httplib::Request;
using httplib::Response;
using nlohmann::json;

namespace {

// Worker threads of the server. Each open connection holds one while it
// lives (a meter stream for as long as it is watched), so the meter streams
// are capped well below it to leave threads for the API.
constexpr int kPoolThreads = 12;
constexpr int kMaxMeterStreams = 6;
// Every reply closes its connection: the library waits on an idle
// keep-alive connection by polling it every 10 ms, which with a few pages
// open cost more CPU than the processing itself. A connection that sends
// nothing is dropped after kIoTimeoutSeconds.
constexpr int kRequestsPerConnection = 1;
constexpr int kIoTimeoutSeconds = 5;
constexpr std::size_t kMaxBodyBytes = 4096;

// A stream with nothing to send says so this often, so a dead peer is noticed.
constexpr auto kIdleComment = std::chrono::seconds(1);

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

json state_json(const ControlState& s, const ControlFormat& format) {
    json controls = json::object(), ranges = json::object();
    for (const ParamInfo& info : kGlobalParamTable) {
        controls[info.name] = global_word(s.process.global, info.word);
        ranges[info.name] = {{"min", info.min},
                             {"max", info.max},
                             {"unit", info.unit},
                             {"stage", stage_name(info.stage)},
                             {"label", info.label},
                             {"panel_unit", info.shown_unit},
                             {"no_effect", info.no_effect}};
    }
    controls["test_tone"] = s.test_tone ? 1 : 0;
    ranges["test_tone"] = {{"min", 0}, {"max", 1}, {"unit", "0/1"}};
    return {
        {"process",
         {{"number", s.on_air_number >= 0 ? json(s.on_air_number) : json(nullptr)},
          {"name", name_of(s.process)},
          {"modified", s.modified}}},
        {"controls", controls},
        {"ranges", ranges},
        {"latency", {{"frames", s.latency_frames}, {"ms", s.latency_frames * 1000.0 / 44100.0}}},
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

// The state after an action, or why the action was refused.
void send_result(Response& res, const Result& r, const ControlState& after, const ControlFormat& format) {
    if (r.outcome == Outcome::ok) return send_json(res, 200, state_json(after, format));
    std::string error = r.error;
    if (r.outcome == Outcome::exists) error += "; send \"overwrite\": true to replace it";
    send_error(res, http_status(r.outcome), error, r.name.empty() ? nullptr : r.name.c_str());
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

std::string meter_frame_json(const MeterTick& t) {
    const MeterFrame& f = t.frame;
    char text[384];
    std::snprintf(text, sizeof text,
                  "{\"in\":%d,\"out\":%d,\"agc_master_db\":%d,\"agc_bass_db\":%d,\"gated\":%s,"
                  "\"bands\":[%d,%d,%d,%d,%d],\"clip_depth\":%d,\"bass_clip\":%d,\"image\":%d,"
                  "\"activity\":%d,\"bypass\":%s}",
                  f.input, f.output, f.agc_master_db, f.agc_bass_db, f.agc_gated ? "true" : "false", f.band[0],
                  f.band[1], f.band[2], f.band[3], f.band[4], f.clip_depth, f.bass_clip, f.image, f.activity,
                  t.bypass ? "true" : "false");
    return text;
}

// The first event of a meter stream: the bars' full-scale positions.
std::string meter_scales_event() {
    char scales[256];
    std::snprintf(scales, sizeof scales,
                  "retry: 1000\nevent: scales\ndata: {\"level\":%d,\"agc_db\":%d,\"band\":%d,"
                  "\"image\":%d,\"activity\":%d,\"clip\":%d,\"tick_ms\":%d}\n\n",
                  kMeterScales.level, kMeterScales.agc_db, kMeterScales.band, kMeterScales.image, kMeterScales.activity,
                  kMeterScales.clip, kMeterScales.tick_ms);
    return scales;
}

void serve_page(Response& res) {
    res.set_header("Content-Security-Policy",
                   "default-src 'self'; style-src 'self' 'unsafe-inline'; frame-ancestors 'none'");
    res.set_content(kWebPageHtml, "text/html; charset=utf-8");
}

void serve_script(Response& res) { res.set_content(kWebPageJs, "text/javascript; charset=utf-8"); }

}  // namespace

struct WebControl {
    ControlTarget target;
    ControlAddress address;
    std::string token;
    int port = 0;
    httplib::Server server;
    std::thread listener;
    std::thread meter_thread;

    // The newest meter frame as JSON, numbered; guarded by meter_mutex.
    std::mutex meter_mutex;
    std::condition_variable meter_ready;
    std::uint64_t meter_seq = 0;
    std::string meter_json;
    bool stopping = false;
    std::atomic<int> meter_streams{0};

    void meter_loop();
    httplib::Server::HandlerResponse screen(const Request& req, Response& res) const;
    void routes();
    void get_state(Response& res) const;
    void get_processes(Response& res) const;
    void post_process(const Request& req, Response& res);
    void post_controls(const Request& req, Response& res);
    void post_save(const Request& req, Response& res);
    void get_meters(Response& res);
    bool send_meter_event(std::uint64_t& sent, httplib::DataSink& sink);
};

void WebControl::meter_loop() {
    auto next = std::chrono::steady_clock::now();
    for (;;) {
        next += std::chrono::milliseconds(kMeterScales.tick_ms);
        {
            std::unique_lock<std::mutex> lock(meter_mutex);
            if (meter_ready.wait_until(lock, next, [this] { return stopping; })) return;
        }
        std::string text = meter_frame_json(target.meter_tick());
        {
            const std::lock_guard<std::mutex> lock(meter_mutex);
            meter_json = std::move(text);
            ++meter_seq;
        }
        meter_ready.notify_all();
        // After a stall (a suspended process) resume from now, not in a burst.
        if (std::chrono::steady_clock::now() > next + std::chrono::seconds(1)) next = std::chrono::steady_clock::now();
    }
}

// Checks every request before routing: Host and Origin against DNS rebinding
// and other sites, the token on the API, JSON bodies on POST.
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
    if (api && !token.empty() && !bearer_matches(req.get_header_value("Authorization"), token)) {
        res.set_header("WWW-Authenticate", "Bearer");
        send_error(res, 401, "a valid token is required");
        return R::Handled;
    }
    if (req.method == "POST" && !json_content_type(req.get_header_value("Content-Type"))) {
        send_error(res, 415, "the body must be application/json");
        return R::Handled;
    }
    return R::Unhandled;
}

void WebControl::routes() {
    server.Get("/", [](const Request&, Response& res) { serve_page(res); });
    server.Get("/panel.js", [](const Request&, Response& res) { serve_script(res); });
    server.Get("/api/state", [this](const Request&, Response& res) { get_state(res); });
    server.Get("/api/processes", [this](const Request&, Response& res) { get_processes(res); });
    server.Post("/api/process", [this](const Request& req, Response& res) { post_process(req, res); });
    server.Post("/api/controls", [this](const Request& req, Response& res) { post_controls(req, res); });
    server.Post("/api/save", [this](const Request& req, Response& res) { post_save(req, res); });
    server.Get("/api/meters", [this](const Request&, Response& res) { get_meters(res); });
}

void WebControl::get_state(Response& res) const { send_json(res, 200, state_json(target.state(), target.format)); }

void WebControl::get_processes(Response& res) const {
    json list = json::array();
    for (const StoredProcess& p : target.processes())
        list.push_back({{"number", p.number}, {"name", utf8_name(p.name)}});
    send_json(res, 200, {{"processes", list}});
}

void WebControl::post_process(const Request& req, Response& res) {
    json body;
    int n = 0;
    if (!body_object(req, res, body) || !process_number(body, res, 404, n)) return;
    ControlState after;
    const Result r = target.load_process(n, after);
    send_result(res, r, after, target.format);
}

void WebControl::post_controls(const Request& req, Response& res) {
    json body;
    ControlEdit edit;
    if (!body_object(req, res, body) || !control_edit(body, res, edit)) return;
    ControlState after;
    const Result r = target.apply_controls(edit, after);
    send_result(res, r, after, target.format);
}

void WebControl::post_save(const Request& req, Response& res) {
    json body;
    SaveRequest save;
    if (!body_object(req, res, body) || !save_request(body, res, save)) return;
    ControlState after;
    const Result r = target.save_process(save, after);
    send_result(res, r, after, target.format);
}

void WebControl::get_meters(Response& res) {
    if (meter_streams.fetch_add(1) >= kMaxMeterStreams) {
        meter_streams.fetch_sub(1);
        send_error(res, 503, "too many meter streams are open");
        return;
    }
    res.set_header("Cache-Control", "no-store");
    // Number of the last frame sent; 0 before the scales went out.
    auto sent = std::make_shared<std::uint64_t>(0);
    res.set_chunked_content_provider(
        "text/event-stream",
        [this, sent](std::size_t, httplib::DataSink& sink) { return send_meter_event(*sent, sink); },
        [this](bool) { meter_streams.fetch_sub(1); });
}

// The next event of a meter stream: the scales first, then each new frame,
// or a comment when none came within kIdleComment. False ends the stream.
bool WebControl::send_meter_event(std::uint64_t& sent, httplib::DataSink& sink) {
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
        meter_ready.wait_for(lock, kIdleComment, [&] { return stopping || meter_seq > sent; });
        if (stopping) return false;
        if (meter_seq > sent) {
            event = "data: " + meter_json + "\n\n";
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
    c->server.stop();
    if (c->listener.joinable()) c->listener.join();
    if (c->meter_thread.joinable()) c->meter_thread.join();
    delete c;
}

namespace {

void configure(WebControl* self) {
    httplib::Server& s = self->server;
    s.new_task_queue = [] { return new httplib::ThreadPool(kPoolThreads); };
    s.set_payload_max_length(kMaxBodyBytes);
    s.set_keep_alive_max_count(kRequestsPerConnection);
    s.set_read_timeout(kIoTimeoutSeconds);
    s.set_write_timeout(kIoTimeoutSeconds);
    s.set_default_headers({{"X-Content-Type-Options", "nosniff"}, {"Cache-Control", "no-store"}});
    s.set_pre_routing_handler([self](const Request& req, Response& res) { return self->screen(req, res); });
    s.set_error_handler([](const Request&, Response& res) {
        if (res.body.empty()) send_error(res, res.status, res.status == 404 ? "not found" : "request refused");
    });
    self->routes();
}

}  // namespace

WebControlPtr start_web_control(ControlTarget target, const ControlAddress& address, const std::string& token,
                                std::string& error) {
    WebControlPtr c(new WebControl);
    c->target = std::move(target);
    c->address = address;
    c->token = token;
    configure(c.get());
    httplib::Server& s = c->server;
    const std::string bind_host = address.host == "localhost" ? "127.0.0.1" : address.host;
    c->port = address.port == 0 ? s.bind_to_any_port(bind_host)
                                : (s.bind_to_port(bind_host, address.port) ? address.port : -1);
    if (c->port <= 0) {
        error = "--control: cannot listen on " + address.host + ":" + std::to_string(address.port) + ": " +
                std::strerror(errno);
        return nullptr;
    }
    // The server's threads leave the stream's signals to the audio thread,
    // whose blocking read they interrupt.
    sigset_t all, old;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &old);
    WebControl* self = c.get();
    c->meter_thread = std::thread([self] { self->meter_loop(); });
    c->listener = std::thread([self] { self->server.listen_after_bind(); });
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    return c;
}

int web_control_port(const WebControl& control) { return control.port; }

}  // namespace qv::control
