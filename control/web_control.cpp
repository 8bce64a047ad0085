#include "control/web_control.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <httplib.h>
#include <signal.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <nlohmann/json.hpp>
#include <thread>

#include "control/web_page.h"
#include "engine/meter_feed.h"
#include "platform/posix/fs_util.h"
#include "settings/param_table.h"
#include "settings/process_file.h"

namespace qv::control {

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
constexpr std::size_t kMinTokenChars = 32;

// A stream with nothing to send says so this often, so a dead peer is noticed.
constexpr auto kIdleComment = std::chrono::seconds(1);

bool is_blank(unsigned char c) { return c <= 0x20 || c == 0x7F; }

std::string lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

bool is_ip_literal(const std::string& host) {
    unsigned char buf[16];
    return inet_pton(AF_INET, host.c_str(), buf) == 1 || inet_pton(AF_INET6, host.c_str(), buf) == 1;
}

// The host part of a Host header: "[::1]:8000" -> "::1", "Box:80" -> "box".
std::string host_part(const std::string& header) {
    if (!header.empty() && header[0] == '[') {
        const std::size_t end = header.find(']');
        return end == std::string::npos ? std::string() : lower(header.substr(1, end - 1));
    }
    return lower(header.substr(0, header.find(':')));
}

bool tokens_equal(const std::string& given, const std::string& expected) {
    // Every byte of the expected text is visited whatever the given one holds.
    unsigned diff = given.size() == expected.size() ? 0u : 1u;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const unsigned char g = i < given.size() ? static_cast<unsigned char>(given[i]) : 0;
        diff |= g ^ static_cast<unsigned char>(expected[i]);
    }
    return diff == 0;
}

std::string process_path(const std::string& dir, int n) {
    char name[16];
    if (!process_file_name(n, name)) return {};
    return dir + "/" + name;
}

// Process names are 8-bit text from the Windows panel: bytes above 0x7F are
// taken as Latin-1 and given to JSON as UTF-8.
std::string name_of(const ProcessParams& p) {
    char name[20];
    copy_process_name(name, p.global.process_name);
    std::string utf8;
    for (const char* c = name; *c != '\0'; ++c) {
        const auto b = static_cast<unsigned char>(*c);
        if (b < 0x80) {
            utf8 += static_cast<char>(b);
        } else {
            utf8 += static_cast<char>(0xC0 | (b >> 6));
            utf8 += static_cast<char>(0x80 | (b & 0x3F));
        }
    }
    return utf8;
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
void send_json(httplib::Response& res, int status, const json& body) {
    res.status = status;
    res.set_content(body.dump(-1, ' ', false, json::error_handler_t::replace), "application/json; charset=utf-8");
}

void send_error(httplib::Response& res, int status, const std::string& message, const char* name = nullptr) {
    json body = {{"error", message}};
    if (name != nullptr) body["name"] = name;
    send_json(res, status, body);
}

// The request's body as a JSON object; sends 400 otherwise.
bool body_object(const httplib::Request& req, httplib::Response& res, json& out) {
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
bool process_number(const json& body, httplib::Response& res, int not_found_status, int& n) {
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

}  // namespace

bool parse_control_address(const std::string& text, ControlAddress& out, std::string& error) {
    std::string host = "127.0.0.1", port_text = text;
    if (!text.empty() && text[0] == '[') {
        const std::size_t end = text.find("]:");
        if (end == std::string::npos) {
            error = "--control: '" + text + "' is not [ADDRESS]:PORT";
            return false;
        }
        host = text.substr(1, end - 1);
        port_text = text.substr(end + 2);
    } else if (const std::size_t colon = text.rfind(':'); colon != std::string::npos) {
        host = text.substr(0, colon);
        port_text = text.substr(colon + 1);
        if (host.find(':') != std::string::npos) {
            error = "--control: write an IPv6 address in brackets, [ADDRESS]:PORT";
            return false;
        }
    }
    host = lower(host);
    if (host != "localhost" && !is_ip_literal(host)) {
        error = "--control: '" + host + "' is not a numeric address or localhost";
        return false;
    }
    if (port_text.empty() || port_text.size() > 5 || port_text.find_first_not_of("0123456789") != std::string::npos ||
        std::stoi(port_text) > 65535) {
        error = "--control: '" + port_text + "' is not a port 0..65535";
        return false;
    }
    out.host = host;
    out.port = std::stoi(port_text);
    in_addr v4{};
    in6_addr v6{};
    out.wildcard = host == "0.0.0.0" || host == "::";
    if (host == "localhost")
        out.loopback = true;
    else if (inet_pton(AF_INET, host.c_str(), &v4) == 1)
        out.loopback = (ntohl(v4.s_addr) >> 24) == 127;
    else
        out.loopback = inet_pton(AF_INET6, host.c_str(), &v6) == 1 && IN6_IS_ADDR_LOOPBACK(&v6);
    return true;
}

bool load_control_token(const std::string& path, std::string& token, bool& created, std::string& error,
                        bool& error_is_usage) {
    error_is_usage = true;
    created = false;
    int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) {
        unsigned char random[32];
        if (getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) {
            error = "--control-token: no random numbers: " + std::string(std::strerror(errno));
            error_is_usage = false;
            return false;
        }
        static const char kHex[] = "0123456789abcdef";
        std::string fresh;
        for (unsigned char b : random) {
            fresh += kHex[b >> 4];
            fresh += kHex[b & 15];
        }
        const int out = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        const std::string line = fresh + "\n";
        const bool written = out >= 0 && platform::write_full(out, line.data(), line.size());
        if (out >= 0 && (close(out) != 0 || !written)) unlink(path.c_str());
        if (out < 0 || !written) {
            error = "--control-token: " + platform::errno_message(path);
            error_is_usage = false;
            return false;
        }
        token = fresh;
        created = true;
        return true;
    }
    if (fd < 0) {
        error = "--control-token: " + platform::errno_message(path);
        return false;
    }
    struct stat st;
    std::string bytes;
    bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (!ok)
        error = "--control-token: " + path + " is not a regular file";
    else if ((st.st_mode & 077) != 0) {
        ok = false;
        error = "--control-token: " + path + " may be read or changed by others; chmod 600 it";
    } else {
        char buf[512];
        const long n = platform::read_full(fd, buf, sizeof buf);
        if (n < 0) {
            ok = false;
            error = "--control-token: " + platform::errno_message(path);
        } else if (n == static_cast<long>(sizeof buf)) {
            ok = false;
            error = "--control-token: " + path + " is longer than a token";
        } else {
            bytes.assign(buf, static_cast<std::size_t>(n));
        }
    }
    close(fd);
    if (!ok) return false;
    while (!bytes.empty() && is_blank(static_cast<unsigned char>(bytes.back()))) bytes.pop_back();
    std::size_t start = 0;
    while (start < bytes.size() && is_blank(static_cast<unsigned char>(bytes[start]))) ++start;
    bytes.erase(0, start);
    for (unsigned char c : bytes)
        if (is_blank(c)) {
            error = "--control-token: the token in " + path + " holds a blank or control character";
            return false;
        }
    if (bytes.size() < kMinTokenChars) {
        error = "--control-token: the token in " + path + " is shorter than 32 characters (128 bits as hex)";
        return false;
    }
    token = bytes;
    return true;
}

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

    json state_locked() const;
    std::uint64_t meter_seq_now() {
        const std::lock_guard<std::mutex> lock(meter_mutex);
        return meter_seq;
    }
    void meter_loop();
    bool allowed_host(const std::string& header) const;
    httplib::Server::HandlerResponse screen(const httplib::Request& req, httplib::Response& res) const;
    void routes();
};

json WebControl::state_locked() const {
    const Settings& s = target.processor->settings;
    json controls = json::object(), ranges = json::object();
    for (int i = 0; i < kGlobalParamCount; ++i) {
        const ParamInfo& info = kGlobalParamTable[i];
        controls[info.name] = global_word(s.live.global, info.word);
        ranges[info.name] = {{"min", info.min},
                             {"max", info.max},
                             {"unit", info.unit},
                             {"stage", stage_name(info.stage)},
                             {"label", info.label},
                             {"panel_unit", info.shown_unit},
                             {"no_effect", info.no_effect}};
    }
    controls["test_tone"] = s.test_tone_on != 0 ? 1 : 0;
    ranges["test_tone"] = {{"min", 0}, {"max", 1}, {"unit", "0/1"}};
    const int latency = processor_latency_frames(*target.processor);
    const int on_air = s.selection.on_air_process;
    return {
        {"process",
         {{"number", on_air >= 0 ? json(on_air) : json(nullptr)},
          {"name", name_of(s.live)},
          {"modified", s.selection.process_modified != 0}}},
        {"controls", controls},
        {"ranges", ranges},
        {"latency", {{"frames", latency}, {"ms", latency * 1000.0 / 44100.0}}},
        {"format",
         {{"channels", target.channels},
          {"input_rate", target.input_rate},
          {"rate", 44100},
          {"bits", 16},
          {"container", target.raw ? "raw" : "wav"}}},
    };
}

void WebControl::meter_loop() {
    MeterHolds holds;
    auto next = std::chrono::steady_clock::now();
    for (;;) {
        next += std::chrono::milliseconds(kMeterScales.tick_ms);
        {
            std::unique_lock<std::mutex> lock(meter_mutex);
            if (meter_ready.wait_until(lock, next, [this] { return stopping; })) return;
        }
        bool bypass, no_clipper;
        {
            const std::lock_guard<std::mutex> lock(*target.control_lock);
            bypass = target.processor->settings.live.global.bypass_all != 0;
            no_clipper = target.processor->settings.live.global.no_clipper != 0;
        }
        const MeterFrame f = meter_feed_tick(*target.processor, holds, bypass, no_clipper);
        char text[384];
        std::snprintf(text, sizeof text,
                      "{\"in\":%d,\"out\":%d,\"agc_master_db\":%d,\"agc_bass_db\":%d,\"gated\":%s,"
                      "\"bands\":[%d,%d,%d,%d,%d],\"clip_depth\":%d,\"bass_clip\":%d,\"image\":%d,"
                      "\"activity\":%d,\"bypass\":%s}",
                      f.input, f.output, f.agc_master_db, f.agc_bass_db, f.agc_gated ? "true" : "false", f.band[0],
                      f.band[1], f.band[2], f.band[3], f.band[4], f.clip_depth, f.bass_clip, f.image, f.activity,
                      bypass ? "true" : "false");
        {
            const std::lock_guard<std::mutex> lock(meter_mutex);
            meter_json = text;
            ++meter_seq;
        }
        meter_ready.notify_all();
        // After a stall (a suspended process) resume from now, not in a burst.
        if (std::chrono::steady_clock::now() > next + std::chrono::seconds(1)) next = std::chrono::steady_clock::now();
    }
}

bool WebControl::allowed_host(const std::string& header) const {
    const std::string host = host_part(header);
    if (host.empty()) return false;
    if (host == "localhost" || host == address.host) return true;
    if (address.loopback && (host == "127.0.0.1" || host == "::1")) return true;
    // Bound to every interface: any address of the machine, but no name, so a
    // foreign name resolved to it (DNS rebinding) is refused.
    return address.wildcard && is_ip_literal(host);
}

// Checks every request before routing: Host and Origin against DNS rebinding
// and other sites, the token on the API, JSON bodies on POST.
httplib::Server::HandlerResponse WebControl::screen(const httplib::Request& req, httplib::Response& res) const {
    using R = httplib::Server::HandlerResponse;
    const std::string host = req.get_header_value("Host");
    if (!allowed_host(host)) {
        send_error(res, 403, "the Host header does not name this server");
        return R::Handled;
    }
    if (req.has_header("Origin") && lower(req.get_header_value("Origin")) != "http://" + lower(host)) {
        send_error(res, 403, "requests from other sites are refused");
        return R::Handled;
    }
    const bool api = req.path.rfind("/api/", 0) == 0;
    if (api && !token.empty() && !tokens_equal(req.get_header_value("Authorization"), "Bearer " + token)) {
        res.set_header("WWW-Authenticate", "Bearer");
        send_error(res, 401, "a valid token is required");
        return R::Handled;
    }
    if (req.method == "POST") {
        const std::string type = lower(req.get_header_value("Content-Type"));
        if (type != "application/json" && type.rfind("application/json;", 0) != 0) {
            send_error(res, 415, "the body must be application/json");
            return R::Handled;
        }
    }
    return R::Unhandled;
}

void WebControl::routes() {
    server.Get("/", [](const httplib::Request&, httplib::Response& res) {
        res.set_header("Content-Security-Policy",
                       "default-src 'self'; style-src 'self' 'unsafe-inline'; frame-ancestors 'none'");
        res.set_content(kWebPageHtml, "text/html; charset=utf-8");
    });
    server.Get("/panel.js", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(kWebPageJs, "text/javascript; charset=utf-8");
    });

    server.Get("/api/state", [this](const httplib::Request&, httplib::Response& res) {
        const std::lock_guard<std::mutex> lock(*target.control_lock);
        send_json(res, 200, state_locked());
    });

    server.Get("/api/processes", [this](const httplib::Request&, httplib::Response& res) {
        json list = json::array();
        for (int n = 0; n <= kMaxProcessNumber; ++n) {
            ProcessParams p;
            const std::string path = process_path(target.settings_dir, n);
            if (platform::file_exists(path) && read_process_file(path.c_str(), p))
                list.push_back({{"number", n}, {"name", name_of(p)}});
        }
        send_json(res, 200, {{"processes", list}});
    });

    server.Post("/api/process", [this](const httplib::Request& req, httplib::Response& res) {
        json body;
        if (!body_object(req, res, body)) return;
        int n = 0;
        if (!process_number(body, res, 404, n)) return;
        const std::lock_guard<std::mutex> lock(*target.control_lock);
        std::string error;
        switch (target.load_process(n, error)) {
            case LoadStatus::ok:
                send_json(res, 200, state_locked());
                return;
            case LoadStatus::missing:
                send_error(res, 404, error);
                return;
            case LoadStatus::invalid:
                send_error(res, 422, error);
                return;
            case LoadStatus::failed:
                send_error(res, 500, error);
                return;
        }
    });

    server.Post("/api/controls", [this](const httplib::Request& req, httplib::Response& res) {
        json body;
        if (!body_object(req, res, body)) return;
        const std::lock_guard<std::mutex> lock(*target.control_lock);
        Processor& p = *target.processor;
        ProcessParams edited = p.settings.live;
        int tone = -1;
        for (const auto& [name, value] : body.items()) {
            std::string text, error;
            if (name == "test_tone") {
                if (!integer_text(value, text) || (text != "0" && text != "1")) {
                    send_error(res, 422, "test_tone is 0 or 1", name.c_str());
                    return;
                }
                tone = text == "1";
                continue;
            }
            if (name == "process_name" && value.is_string()) {
                text = value.get<std::string>();
                if (!ascii_name(text)) {
                    send_error(res, 422, "process_name: printable ASCII only", name.c_str());
                    return;
                }
            } else if (!integer_text(value, text)) {
                send_error(res, 422, name + ": the value must be an integer", name.c_str());
                return;
            }
            if (!apply_param_assignment(edited, name + "=" + text, error)) {
                send_error(res, 422, error, name.c_str());
                return;
            }
        }
        // Bypass All and the test tone leave the process unmodified, as on the panel.
        ProcessParams before = p.settings.live;
        before.global.bypass_all = edited.global.bypass_all;
        if (std::memcmp(&before, &edited, sizeof before) != 0) p.settings.selection.process_modified = 1;
        if (std::memcmp(&p.settings.live, &edited, sizeof edited) != 0) processor_update(p, edited);
        if (tone >= 0 && tone != p.settings.test_tone_on) processor_set_test_tone(p, tone != 0);
        send_json(res, 200, state_locked());
    });

    server.Post("/api/save", [this](const httplib::Request& req, httplib::Response& res) {
        json body;
        if (!body_object(req, res, body)) return;
        int n = 0;
        if (!process_number(body, res, 422, n)) return;
        const auto overwrite = body.find("overwrite");
        if (overwrite != body.end() && !overwrite->is_boolean()) {
            send_error(res, 422, "\"overwrite\" must be true or false");
            return;
        }
        const auto name = body.find("name");
        if (name != body.end() && (!name->is_string() || !ascii_name(name->get<std::string>()))) {
            send_error(res, 422, "\"name\" must be a string of printable ASCII", "name");
            return;
        }
        const std::lock_guard<std::mutex> lock(*target.control_lock);
        Processor& p = *target.processor;
        ProcessParams saved = p.settings.live;
        std::string error;
        if (name != body.end() && !apply_param_assignment(saved, "process_name=" + name->get<std::string>(), error)) {
            send_error(res, 422, error, "name");
            return;
        }
        const std::string path = process_path(target.settings_dir, n);
        if (platform::file_exists(path) && !(overwrite != body.end() && overwrite->get<bool>())) {
            send_error(res, 409, "process " + std::to_string(n) + " exists; send \"overwrite\": true to replace it");
            return;
        }
        if (!platform::make_directories(target.settings_dir, error)) {
            send_error(res, 500, error);
            return;
        }
        errno = 0;
        if (!write_process_file(path.c_str(), saved)) {
            const int cause = errno;
            send_error(res, 500,
                       "process " + std::to_string(n) + " was not saved" +
                           (cause != 0 ? std::string(": ") + std::strerror(cause) : std::string()));
            return;
        }
        // The name is not read by the chain: no publication needed.
        std::memcpy(p.settings.live.global.process_name, saved.global.process_name, sizeof saved.global.process_name);
        p.settings.selection.on_air_process = n;
        p.settings.selection.process_modified = 0;
        send_json(res, 200, state_locked());
    });

    server.Get("/api/meters", [this](const httplib::Request&, httplib::Response& res) {
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
            [this, sent](std::size_t, httplib::DataSink& sink) {
                if (*sent == 0) {
                    char scales[256];
                    std::snprintf(scales, sizeof scales,
                                  "retry: 1000\nevent: scales\ndata: {\"level\":%d,\"agc_db\":%d,\"band\":%d,"
                                  "\"image\":%d,\"activity\":%d,\"clip\":%d,\"tick_ms\":%d}\n\n",
                                  kMeterScales.level, kMeterScales.agc_db, kMeterScales.band, kMeterScales.image,
                                  kMeterScales.activity, kMeterScales.clip, kMeterScales.tick_ms);
                    // Frames are numbered from 1; wait for the next one.
                    *sent = std::max<std::uint64_t>(meter_seq_now(), 1);
                    return sink.write(scales, std::strlen(scales));
                }
                std::string event;
                {
                    std::unique_lock<std::mutex> lock(meter_mutex);
                    meter_ready.wait_for(lock, kIdleComment, [&] { return stopping || meter_seq > *sent; });
                    if (stopping) return false;
                    if (meter_seq > *sent) {
                        event = "data: " + meter_json + "\n\n";
                        *sent = meter_seq;
                    }
                }
                if (event.empty()) event = ":\n\n";
                return sink.write(event.data(), event.size());
            },
            [this](bool) { meter_streams.fetch_sub(1); });
    });
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

WebControlPtr start_web_control(const ControlTarget& target, const ControlAddress& address, const std::string& token,
                                std::string& error) {
    WebControlPtr c(new WebControl);
    c->target = target;
    c->address = address;
    c->token = token;
    httplib::Server& s = c->server;
    s.new_task_queue = [] { return new httplib::ThreadPool(kPoolThreads); };
    s.set_payload_max_length(kMaxBodyBytes);
    s.set_keep_alive_max_count(kRequestsPerConnection);
    s.set_read_timeout(kIoTimeoutSeconds);
    s.set_write_timeout(kIoTimeoutSeconds);
    s.set_default_headers({{"X-Content-Type-Options", "nosniff"}, {"Cache-Control", "no-store"}});
    WebControl* self = c.get();
    s.set_pre_routing_handler(
        [self](const httplib::Request& req, httplib::Response& res) { return self->screen(req, res); });
    s.set_error_handler([](const httplib::Request&, httplib::Response& res) {
        if (res.body.empty()) send_error(res, res.status, res.status == 404 ? "not found" : "request refused");
    });
    c->routes();

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
    c->meter_thread = std::thread([self] { self->meter_loop(); });
    c->listener = std::thread([self] { self->server.listen_after_bind(); });
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    return c;
}

int web_control_port(const WebControl& control) { return control.port; }

}  // namespace qv::control
