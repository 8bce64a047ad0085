#include "control/station_monitor.h"

#include <ebur128.h>
#include <signal.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <limits>
#include <mutex>
#include <thread>
#include <vector>

namespace qv::control {

namespace {

using Clock = std::chrono::steady_clock;

constexpr unsigned long kRate = 44100;
constexpr auto kPass = std::chrono::milliseconds(100);
constexpr double kNone = -std::numeric_limits<double>::infinity();

double seconds_between(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

double db(double linear) { return linear > 0.0 ? 20.0 * std::log10(linear) : kNone; }

// libebur128 answers -HUGE_VAL for silence and nothing for a window not yet full.
double lufs(int (*reading)(ebur128_state*, double*), ebur128_state* st) {
    double v = kNone;
    return reading(st, &v) == EBUR128_SUCCESS ? v : kNone;
}

struct Ebur128Deleter {
    void operator()(ebur128_state* st) const { ebur128_destroy(&st); }
};
using Ebur128Ptr = std::unique_ptr<ebur128_state, Ebur128Deleter>;

std::string rule_text(const DeadAirRule& rule) {
    char text[64];
    std::snprintf(text, sizeof text, "below %.1f dBFS for %.0f s", rule.below_dbfs, rule.after_s);
    return text;
}

}  // namespace

bool dead_air_rule_valid(const DeadAirRule& rule, std::string& error) {
    if (!(rule.below_dbfs >= kDeadAirMinDbfs && rule.below_dbfs <= kDeadAirMaxDbfs)) {
        error = "the dead-air level is -90..-10 dBFS";
        return false;
    }
    if (!(rule.after_s >= kDeadAirMinSeconds && rule.after_s <= kDeadAirMaxSeconds)) {
        error = "the dead-air time is 1..3600 s";
        return false;
    }
    return true;
}

void dead_air_advance(DeadAirState& s, const DeadAirRule& rule, double peak_dbfs, double elapsed_s) {
    if (peak_dbfs >= rule.below_dbfs) {
        s = DeadAirState{};
        return;
    }
    s.quiet_s += elapsed_s;
    if (s.quiet_s >= rule.after_s) s.dead_air = true;
}

struct StationMonitor {
    SignalTap* tap = nullptr;
    DeadAirWatch* watch = nullptr;
    std::function<void(const std::string&)> log;
    std::thread thread;

    // Guarded by mutex: the published reading, the requests, stopping.
    std::mutex mutex;
    std::condition_variable wake;
    MonitorReading reading{};
    bool reset_requested = false;
    bool stopping = false;

    // The thread's own.
    Ebur128Ptr now_meter;    // momentary, short-term, true peak
    Ebur128Ptr since_meter;  // integrated since the reset
    std::vector<std::int16_t> block = std::vector<std::int16_t>(kTapSamples);
    std::uint64_t taken_frames = 0;
    std::uint64_t last_blocks = 0;
    Clock::time_point started, last_block, last_pass;

    void loop();
    void pass(MonitorReading& r, bool reset);
    void measure(MonitorReading& r, bool reset);
    void watch_input(MonitorReading& r, double elapsed_s);
};

namespace {

Ebur128Ptr new_meter(int channels, int mode) {
    return Ebur128Ptr(ebur128_init(static_cast<unsigned>(channels), kRate, mode));
}

}  // namespace

void StationMonitor::loop() {
    for (;;) {
        MonitorReading r;
        bool reset;
        {
            std::unique_lock<std::mutex> lock(mutex);
            if (wake.wait_until(lock, last_pass + kPass, [this] { return stopping; })) return;
            r = reading;
            reset = reset_requested;
            reset_requested = false;
        }
        pass(r, reset);
        const std::lock_guard<std::mutex> lock(mutex);
        // A rule set while the pass ran holds from the next.
        r.rule = reading.rule;
        reading = r;
    }
}

void StationMonitor::pass(MonitorReading& r, bool reset) {
    const Clock::time_point now = Clock::now();
    const double elapsed = seconds_between(last_pass, now);
    last_pass = now;
    measure(r, reset);
    const std::uint64_t blocks = tap->blocks.load(std::memory_order_relaxed);
    if (blocks != last_blocks) last_block = now;
    last_blocks = blocks;
    r.blocks = blocks;
    r.block_age_s = seconds_between(last_block, now);
    r.uptime_s = seconds_between(started, now);
    r.dropped_blocks = tap->dropped_blocks.load(std::memory_order_relaxed);
    watch_input(r, elapsed);
}

// Everything the tap holds through both meters.
void StationMonitor::measure(MonitorReading& r, bool reset) {
    LoudnessReading& l = r.loudness;
    if (reset) {
        since_meter = new_meter(tap->channels, EBUR128_MODE_I | EBUR128_MODE_HISTOGRAM);
        l.true_peak_dbtp = kNone;
        l.frames = 0;
        l.from_frame = taken_frames;
    }
    const std::size_t channels = static_cast<std::size_t>(tap->channels);
    for (;;) {
        const std::size_t n = tap_take(*tap, block.data(), block.size());
        if (n == 0) break;
        const std::size_t frames = n / channels;
        ebur128_add_frames_short(now_meter.get(), block.data(), frames);
        ebur128_add_frames_short(since_meter.get(), block.data(), frames);
        for (unsigned c = 0; c < channels; ++c) {
            double peak = 0.0;
            if (ebur128_prev_true_peak(now_meter.get(), c, &peak) == EBUR128_SUCCESS)
                l.true_peak_dbtp = std::fmax(l.true_peak_dbtp, db(peak));
        }
        taken_frames += frames;
        l.frames += frames;
    }
    l.momentary_lufs = lufs(ebur128_loudness_momentary, now_meter.get());
    l.short_term_lufs = lufs(ebur128_loudness_shortterm, now_meter.get());
    l.integrated_lufs = lufs(ebur128_loudness_global, since_meter.get());
}

// The dead-air alarm (no blocks at all count as quiet), told as it begins
// and ends.
void StationMonitor::watch_input(MonitorReading& r, double elapsed_s) {
    const double peak = db(tap_take_input_peak(*tap) / 32768.0);
    r.input_peak_dbfs = peak;
    const DeadAirState before{r.quiet_s, r.dead_air};
    DeadAirState now = before;
    if (watch != nullptr) {
        now = {watch->quiet_s.load(std::memory_order_relaxed), watch->dead_air.load(std::memory_order_relaxed)};
    } else {
        dead_air_advance(now, r.rule, peak, elapsed_s);
    }
    r.quiet_s = now.quiet_s;
    r.dead_air = now.dead_air;
    if (before.dead_air && !now.dead_air) {
        char text[96];
        std::snprintf(text, sizeof text, "dead air over: the input came back after %.0f s", before.quiet_s);
        log(text);
    } else if (!before.dead_air && now.dead_air) {
        log("dead air: the input stayed " + rule_text(r.rule));
    }
}

void StationMonitorStop::operator()(StationMonitor* m) const {
    if (m == nullptr) return;
    {
        const std::lock_guard<std::mutex> lock(m->mutex);
        m->stopping = true;
    }
    m->wake.notify_all();
    if (m->thread.joinable()) m->thread.join();
    delete m;
}

StationMonitorPtr start_station_monitor(SignalTap& tap, const DeadAirRule& rule,
                                        std::function<void(const std::string&)> log, std::string& error,
                                        DeadAirWatch* watch) {
    StationMonitorPtr m(new StationMonitor);
    m->tap = &tap;
    m->watch = watch;
    m->log = std::move(log);
    m->now_meter = new_meter(tap.channels, EBUR128_MODE_S | EBUR128_MODE_TRUE_PEAK);
    m->since_meter = new_meter(tap.channels, EBUR128_MODE_I | EBUR128_MODE_HISTOGRAM);
    if (!m->now_meter || !m->since_meter) {
        error = "cannot measure loudness of " + std::to_string(tap.channels) + " channel(s)";
        return nullptr;
    }
    m->started = m->last_block = m->last_pass = Clock::now();
    m->reading.rule = rule;
    if (watch != nullptr) {
        watch->below_dbfs.store(rule.below_dbfs, std::memory_order_relaxed);
        watch->after_s.store(rule.after_s, std::memory_order_relaxed);
    }
    m->reading.loudness = {kNone, kNone, kNone, kNone, 0, 0};
    m->reading.input_peak_dbfs = kNone;
    // The thread leaves the signals to the audio thread, as the server's do.
    sigset_t all, old;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &old);
    StationMonitor* self = m.get();
    m->thread = std::thread([self] { self->loop(); });
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    return m;
}

MonitorReading monitor_reading(StationMonitor& m) {
    const std::lock_guard<std::mutex> lock(m.mutex);
    return m.reading;
}

void monitor_reset_loudness(StationMonitor& m) {
    const std::lock_guard<std::mutex> lock(m.mutex);
    m.reset_requested = true;
}

void monitor_set_dead_air(StationMonitor& m, const DeadAirRule& rule) {
    const std::lock_guard<std::mutex> lock(m.mutex);
    m.reading.rule = rule;
    if (m.watch != nullptr) {
        m.watch->below_dbfs.store(rule.below_dbfs, std::memory_order_relaxed);
        m.watch->after_s.store(rule.after_s, std::memory_order_relaxed);
    }
}

}  // namespace qv::control
