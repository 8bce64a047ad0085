#include "control/station_monitor.h"

#include <ebur128.h>
#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <array>
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
// The meter is fed 100 ms steps: the step's mean square is what the
// momentary (4 steps), short-term (30 steps) and gated integrated loudness
// (blocks of 4 steps, one every step) are made of, so the K-weighting runs
// once for all three and only the true peak is oversampled.
constexpr std::size_t kStepFrames = kRate / 10;
constexpr int kMomentarySteps = 4;
constexpr int kShortTermSteps = 30;
constexpr int kPassesPerIntegrated = 10;
// The gating blocks, by loudness in 0.01 LU bins from the absolute gate up.
constexpr double kAbsoluteGateLufs = -70.0;
constexpr double kRelativeGateLu = -10.0;
constexpr int kBinsPerLu = 100;
constexpr int kGateBins = 80 * kBinsPerLu;  // -70 .. +10 LUFS; louder blocks go to the last bin
constexpr double kNone = -std::numeric_limits<double>::infinity();

double seconds_between(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

double db(double linear) { return linear > 0.0 ? 20.0 * std::log10(linear) : kNone; }

double lufs_of(double mean_square) { return mean_square > 0.0 ? -0.691 + 10.0 * std::log10(mean_square) : kNone; }
double mean_square_of(double lufs) { return std::isfinite(lufs) ? std::pow(10.0, (lufs + 0.691) / 10.0) : 0.0; }

// The gated loudness of the blocks since the reset: their count and summed
// mean squares per bin, so that each gate sums bins, not blocks.
struct GatingBlocks {
    std::vector<std::uint64_t> count = std::vector<std::uint64_t>(kGateBins);
    std::vector<double> sum = std::vector<double>(kGateBins);

    void clear() {
        std::fill(count.begin(), count.end(), 0);
        std::fill(sum.begin(), sum.end(), 0.0);
    }
    static int bin_of(double lufs) {
        return std::min(kGateBins - 1, static_cast<int>((lufs - kAbsoluteGateLufs) * kBinsPerLu));
    }
    void add(double mean_square) {
        const double lufs = lufs_of(mean_square);
        if (!(lufs >= kAbsoluteGateLufs)) return;
        const int b = bin_of(lufs);
        ++count[static_cast<std::size_t>(b)];
        sum[static_cast<std::size_t>(b)] += mean_square;
    }
    // The mean of the blocks from bin `from` up, as loudness.
    double loudness_from(int from) const {
        std::uint64_t n = 0;
        double total = 0.0;
        for (int b = std::max(0, from); b < kGateBins; ++b) {
            n += count[static_cast<std::size_t>(b)];
            total += sum[static_cast<std::size_t>(b)];
        }
        return n > 0 ? lufs_of(total / static_cast<double>(n)) : kNone;
    }
    double integrated() const {
        const double ungated = loudness_from(0);
        return std::isfinite(ungated) ? loudness_from(bin_of(ungated + kRelativeGateLu)) : kNone;
    }
};

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
    Ebur128Ptr meter;  // the steps' mean squares and true peaks
    std::vector<std::int16_t> block = std::vector<std::int16_t>(kTapSamples);
    std::size_t block_frames = 0;                            // gathered towards the next step
    std::uint64_t steps = 0;                                 // measured since the start
    std::array<double, kShortTermSteps> step_mean_square{};  // a ring: step k at k % kShortTermSteps
    GatingBlocks blocks_since_reset;
    std::uint64_t steps_since_reset = 0;
    bool reset_pending = false;
    std::uint64_t last_blocks = 0;
    int passes_since_integrated = 0;
    Clock::time_point started, last_block, last_pass;

    void loop();
    void pass(MonitorReading& r, bool reset);
    void measure(MonitorReading& r, bool reset);
    void step(LoudnessReading& l);
    double mean_of_last(int n) const;
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

// Everything the tap holds, step by step; a reset takes effect at the next
// step, so that its gating blocks start there.
void StationMonitor::measure(MonitorReading& r, bool reset) {
    LoudnessReading& l = r.loudness;
    reset_pending = reset_pending || reset;
    const std::size_t channels = static_cast<std::size_t>(tap->channels);
    for (;;) {
        const std::size_t want = (kStepFrames - block_frames) * channels;
        const std::size_t n = tap_take(*tap, block.data() + block_frames * channels, want);
        block_frames += n / channels;
        if (block_frames < kStepFrames) break;
        step(l);
        block_frames = 0;
    }
    l.momentary_lufs = lufs_of(mean_of_last(kMomentarySteps));
    l.short_term_lufs = lufs_of(mean_of_last(kShortTermSteps));
    // The gates walk every bin: once a second is enough for a number that moves that slowly.
    if (reset || ++passes_since_integrated >= kPassesPerIntegrated) {
        l.integrated_lufs = blocks_since_reset.integrated();
        passes_since_integrated = 0;
    }
}

// One step of kStepFrames frames through the meter.
void StationMonitor::step(LoudnessReading& l) {
    const std::size_t channels = static_cast<std::size_t>(tap->channels);
    ebur128_add_frames_short(meter.get(), block.data(), kStepFrames);
    double step_lufs = kNone;
    ebur128_loudness_window(meter.get(), 100, &step_lufs);
    step_mean_square[steps % kShortTermSteps] = mean_square_of(step_lufs);
    ++steps;
    if (reset_pending) {
        // This step is the last before the reset.
        blocks_since_reset.clear();
        steps_since_reset = 0;
        l = {l.momentary_lufs, l.short_term_lufs, kNone, kNone, 0, steps * kStepFrames};
        reset_pending = false;
        return;
    }
    ++steps_since_reset;
    l.frames += kStepFrames;
    for (unsigned c = 0; c < channels; ++c) {
        double peak = 0.0;
        if (ebur128_prev_true_peak(meter.get(), c, &peak) == EBUR128_SUCCESS)
            l.true_peak_dbtp = std::fmax(l.true_peak_dbtp, db(peak));
    }
    if (steps_since_reset >= kMomentarySteps) blocks_since_reset.add(mean_of_last(kMomentarySteps));
}

// The mean square of the last n steps; 0 until n steps were measured.
double StationMonitor::mean_of_last(int n) const {
    if (steps < static_cast<std::uint64_t>(n)) return 0.0;
    double total = 0.0;
    for (int k = 1; k <= n; ++k) total += step_mean_square[(steps - static_cast<std::uint64_t>(k)) % kShortTermSteps];
    return total / n;
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
    m->meter = new_meter(tap.channels, EBUR128_MODE_M | EBUR128_MODE_TRUE_PEAK);
    if (!m->meter) {
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
    m->thread = std::thread([self] {
        // Named, so that its share of the CPU can be told from the server's.
        pthread_setname_np(pthread_self(), "qv-monitor");
        self->loop();
    });
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
