// The LADSPA and LV2 plug-ins, loaded from the build tree as a host loads
// them (Plugins.*), and driven by the real hosts of Debian (Hosts.*): the
// module's samples at 44.1 kHz, the process port and its files, state,
// resampling at other rates, and no allocation inside run().
#include <arpa/inet.h>
#include <dlfcn.h>
#include <ebur128.h>
#include <gtest/gtest.h>
#include <ladspa.h>
#include <lilv/lilv.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <lv2/atom/atom.h>
#include <lv2/core/lv2.h>
#include <lv2/log/log.h>
#include <lv2/presets/presets.h>
#include <lv2/state/state.h>
#include <lv2/urid/urid.h>
#include <malloc.h>
#include <netinet/in.h>
#include <soxr.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cfloat>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <numbers>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/processor.h"
#include "plugins/plugin_core.h"
#include "settings/process_file.h"
#include "settings/startup.h"
#include "tests/host_fp_env.h"
#if __has_include("settings/factory.h")
#include "settings/factory.h"
#define QV_HAVE_FACTORY 1
#endif

// ---------------------------------------------------------------------------
// Allocation counter: every malloc-family call made by any library of this
// process on a thread while its `g_armed` is set (the library's thread
// allocates as it pleases while an audio thread is counted).
namespace {
thread_local bool g_armed = false;
std::atomic<long> g_allocations{0};
inline void note_allocation() {
    if (g_armed) g_allocations.fetch_add(1, std::memory_order_relaxed);
}
}  // namespace

// Under a sanitizer the counter hangs on the runtime's own hooks: a malloc
// of our own would take over from the runtime's, and under ThreadSanitizer
// it would run, instrumented, while the runtime's dlsym of its interceptors
// allocates before the runtime is initialised (a crash at start).
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*)(const volatile void*, std::size_t),
                                                         void (*)(const volatile void*));
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
namespace {
void on_malloc(const volatile void*, std::size_t) { note_allocation(); }
void on_free(const volatile void*) { note_allocation(); }
const int g_hooks = __sanitizer_install_malloc_and_free_hooks(on_malloc, on_free);
}  // namespace
#else
extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void* __libc_memalign(std::size_t, std::size_t);
void __libc_free(void*);

void* malloc(std::size_t n) {
    note_allocation();
    return __libc_malloc(n);
}
void* calloc(std::size_t n, std::size_t size) {
    note_allocation();
    return __libc_calloc(n, size);
}
void* realloc(void* p, std::size_t n) {
    note_allocation();
    return __libc_realloc(p, n);
}
void free(void* p) {
    if (p != nullptr) note_allocation();
    __libc_free(p);
}
void* memalign(std::size_t alignment, std::size_t n) {
    note_allocation();
    return __libc_memalign(alignment, n);
}
void* aligned_alloc(std::size_t alignment, std::size_t n) {
    note_allocation();
    return __libc_memalign(alignment, n);
}
int posix_memalign(void** out, std::size_t alignment, std::size_t n) {
    note_allocation();
    *out = __libc_memalign(alignment, n);
    return *out != nullptr ? 0 : ENOMEM;
}
}
#endif

namespace {

using namespace qv;
using namespace qv::plugin;
namespace fs = std::filesystem;

std::string env(const char* name) {
    const char* v = std::getenv(name);
    return v != nullptr ? v : "";
}
std::string ladspa_library() { return env("QUORVANE_LADSPA_DIR") + "/quorvane.so"; }
std::string lv2_library() { return env("QUORVANE_LV2_BUNDLE") + "/quorvane.so"; }

// A temporary directory, and the settings folder inside it that
// XDG_CONFIG_HOME points at while the object lives.
class ConfigDir {
public:
    ConfigDir() {
        std::string templ = (fs::temp_directory_path() / "qv-plugins-XXXXXX").string();
        if (!mkdtemp(templ.data())) std::abort();
        root_ = templ;
        fs::create_directories(folder());
        setenv("XDG_CONFIG_HOME", root_.c_str(), 1);
    }
    ~ConfigDir() {
        unsetenv("XDG_CONFIG_HOME");
        std::error_code ec;
        fs::remove_all(root_, ec);
    }
    fs::path folder() const { return root_ / "quorvane"; }
    std::string path(const std::string& name) const { return (root_ / name).string(); }
    void store(int n, const ProcessParams& p) const {
        ASSERT_TRUE(write_process_file((folder() / ("qv$" + std::to_string(n) + ".dat")).c_str(), p));
    }

private:
    fs::path root_;
};

ProcessParams default_process() {
    ProcessParams p;
    fill_defaults(p);
    return p;
}

// A process that sounds and delays differently from the default one.
ProcessParams other_process() {
    ProcessParams p = default_process();
    p.global.lookahead_ms = 3;
    p.global.output_level_pct = 70;
    p.global.agc_max_gain_db = 12;
    return p;
}

// Interleaved 16-bit stereo: bass, chords and noise with a level ride that
// reaches both ends of the 16-bit range, and a near-silent passage.
std::vector<std::int16_t> make_clip(int frames, double rate, std::uint32_t seed = 7) {
    std::vector<std::int16_t> v(2 * static_cast<std::size_t>(frames));
    const double k = 2 * std::numbers::pi / rate;
    for (int n = 0; n < frames; ++n) {
        seed = seed * 1664525u + 1013904223u;
        const double noise = static_cast<double>(seed) / 2147483648.0 - 1.0;
        const double t = n / rate;
        const double ride = t < 0.4 ? 1.6 : t < 0.9 ? 0.3 : t < 1.1 ? 0.002 : 0.8;
        const double beat = std::exp(-std::fmod(t, 0.25) * 12);
        const double bass = 14000 * beat * std::sin(k * 55 * n);
        const double chord = 6000 * (std::sin(k * 261.6 * n) + std::sin(k * 329.6 * n));
        const double l = ride * (bass + chord + 3000 * noise);
        const double r = ride * (bass - chord + 2000 * noise * std::sin(k * 3 * n));
        v[2 * n] = static_cast<std::int16_t>(std::lrint(std::clamp(l, -32768.0, 32767.0)));
        v[2 * n + 1] = static_cast<std::int16_t>(std::lrint(std::clamp(r, -32768.0, 32767.0)));
    }
    return v;
}

// Tones well inside the passbands of every rate's resamplers, their level
// riding; interleaved 16-bit stereo.
std::vector<std::int16_t> make_tones(int frames, double rate) {
    std::vector<std::int16_t> v(2 * static_cast<std::size_t>(frames));
    const double k = 2 * std::numbers::pi / rate;
    for (int n = 0; n < frames; ++n) {
        const double ride = 6000 + 3000 * std::sin(k * 3 * n);
        v[2 * n] = static_cast<std::int16_t>(std::lrint(ride * (std::sin(k * 55 * n) + 0.5 * std::sin(k * 3001 * n))));
        v[2 * n + 1] =
            static_cast<std::int16_t>(std::lrint(ride * (std::sin(k * 440 * n) + 0.3 * std::sin(k * 9007 * n))));
    }
    return v;
}

// What the module gives for pcm, process loaded at frame 0 and the given
// processes put on air at the given frames: loaded (memories restarting)
// or, with `edit`, updated as an operator's edit (memories running on).
std::vector<std::int16_t> reference(const ProcessParams& process, std::vector<std::int16_t> pcm,
                                    const std::vector<std::pair<int, ProcessParams>>& loads = {}, bool edit = false) {
    auto p = make_processor(process);
    const int frames = static_cast<int>(pcm.size() / 2);
    std::size_t next = 0;
    for (int done = 0; done < frames;) {
        if (next < loads.size() && loads[next].first == done) {
            if (edit)
                processor_update(*p, loads[next].second);
            else
                processor_load(*p, loads[next].second);
            ++next;
        }
        int m = std::min(4096, frames - done);
        if (next < loads.size()) m = std::min(m, loads[next].first - done);
        processor_run(*p, pcm.data() + 2 * done, m, 2);
        done += m;
    }
    return pcm;
}

// --- the plug-ins through their descriptors ---

LV2_URID map_uri(LV2_URID_Map_Handle handle, const char* uri) {
    auto& table = *static_cast<std::map<std::string, LV2_URID>*>(handle);
    auto it = table.find(uri);
    if (it != table.end()) return it->second;
    const LV2_URID id = static_cast<LV2_URID>(table.size() + 1);
    table.emplace(uri, id);
    return id;
}

const char* unmap_urid(LV2_URID_Unmap_Handle handle, LV2_URID id) {
    auto& table = *static_cast<std::map<std::string, LV2_URID>*>(handle);
    for (const auto& [uri, v] : table)
        if (v == id) return uri.c_str();
    return nullptr;
}

struct UridMap {
    std::map<std::string, LV2_URID> table;
    LV2_URID_Map map{&table, map_uri};
    LV2_URID_Unmap unmap{&table, unmap_urid};
    LV2_Feature feature{LV2_URID__map, &map};
    LV2_Feature unmap_feature{LV2_URID__unmap, &unmap};
    const LV2_Feature* list[3] = {&feature, &unmap_feature, nullptr};
    LV2_URID id(const char* uri) { return map_uri(&table, uri); }
};

struct Library {
    void* handle = nullptr;
    const LADSPA_Descriptor* ladspa = nullptr;
    const LV2_Descriptor* lv2 = nullptr;
    ~Library() {
        if (handle != nullptr) dlclose(handle);
    }
};

std::unique_ptr<Library> open_ladspa() {
    auto lib = std::make_unique<Library>();
    lib->handle = dlopen(ladspa_library().c_str(), RTLD_NOW | RTLD_LOCAL);
    if (lib->handle == nullptr) return nullptr;
    auto fn = reinterpret_cast<LADSPA_Descriptor_Function>(dlsym(lib->handle, "ladspa_descriptor"));
    lib->ladspa = fn != nullptr ? fn(0) : nullptr;
    return lib->ladspa != nullptr ? std::move(lib) : nullptr;
}

std::unique_ptr<Library> open_lv2() {
    auto lib = std::make_unique<Library>();
    lib->handle = dlopen(lv2_library().c_str(), RTLD_NOW | RTLD_LOCAL);
    if (lib->handle == nullptr) return nullptr;
    auto fn = reinterpret_cast<LV2_Descriptor_Function>(dlsym(lib->handle, "lv2_descriptor"));
    lib->lv2 = fn != nullptr ? fn(0) : nullptr;
    return lib->lv2 != nullptr ? std::move(lib) : nullptr;
}

// One instance with its control ports connected to `control`, activated.
class Instance {
public:
    Instance(const Library& lib, double rate, const LV2_Feature* const* features = nullptr) : lib_(lib) {
        static const LV2_Feature* const kNone[] = {nullptr};
        if (lib.ladspa != nullptr)
            h_ = lib.ladspa->instantiate(lib.ladspa, static_cast<unsigned long>(rate));
        else
            h_ = lib.lv2->instantiate(lib.lv2, rate, env("QUORVANE_LV2_BUNDLE").c_str(),
                                      features != nullptr ? features : kNone);
        if (h_ == nullptr) std::abort();
        for (int p = kProcess; p < kPortCount; ++p) connect(p, &control[p]);
    }
    ~Instance() {
        if (active_) deactivate();
        if (lib_.ladspa != nullptr)
            lib_.ladspa->cleanup(h_);
        else
            lib_.lv2->cleanup(h_);
    }
    void activate() {
        if (lib_.ladspa != nullptr)
            lib_.ladspa->activate(h_);
        else
            lib_.lv2->activate(h_);
        active_ = true;
    }
    void deactivate() {
        if (lib_.ladspa != nullptr)
            lib_.ladspa->deactivate(h_);
        else
            lib_.lv2->deactivate(h_);
        active_ = false;
    }
    // Processes [first, first + n) of the planar buffers in place.
    void run(std::vector<float>& l, std::vector<float>& r, int first, int n) {
        run(l.data() + first, r.data() + first, l.data() + first, r.data() + first, n);
    }
    void run(float* in_l, float* in_r, float* out_l, float* out_r, int n) {
        connect(kInLeft, in_l);
        connect(kInRight, in_r);
        connect(kOutLeft, out_l);
        connect(kOutRight, out_r);
        if (lib_.ladspa != nullptr)
            lib_.ladspa->run(h_, static_cast<unsigned long>(n));
        else
            lib_.lv2->run(h_, static_cast<std::uint32_t>(n));
    }
    // The control ports on values[kProcess...] instead of `control`.
    void connect_controls(float* values) {
        for (int p = kProcess; p < kPortCount; ++p) connect(p, &values[p]);
    }
    void* handle() const { return h_; }
    float control[kPortCount] = {};

private:
    void connect(int port, float* data) {
        if (lib_.ladspa != nullptr)
            lib_.ladspa->connect_port(h_, static_cast<unsigned long>(port), data);
        else
            lib_.lv2->connect_port(h_, static_cast<std::uint32_t>(port), data);
    }
    const Library& lib_;
    void* h_ = nullptr;
    bool active_ = false;
};

struct Planar {
    std::vector<float> l, r;
};

Planar to_float(const std::vector<std::int16_t>& pcm) {
    Planar p;
    for (std::size_t i = 0; i < pcm.size(); i += 2) {
        p.l.push_back(pcm[i] / 32768.0f);
        p.r.push_back(pcm[i + 1] / 32768.0f);
    }
    return p;
}

// Runs all of p through inst in calls of the given sizes, cycling.
void run_all(Instance& inst, Planar& p, const std::vector<int>& sizes) {
    const int frames = static_cast<int>(p.l.size());
    for (int done = 0, i = 0; done < frames; ++i) {
        const int n = std::min(sizes[i % sizes.size()], frames - done);
        inst.run(p.l, p.r, done, n);
        done += n;
    }
}

int count_of(const std::string& text, const std::string& what) {
    int n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// Counts output samples that are not exactly reference / 32768.
int mismatches(const Planar& out, const std::vector<std::int16_t>& ref) {
    int bad = 0;
    for (std::size_t n = 0; n < out.l.size(); ++n) {
        if (out.l[n] != ref[2 * n] / 32768.0f) ++bad;
        if (out.r[n] != ref[2 * n + 1] / 32768.0f) ++bad;
    }
    return bad;
}

// The lag (around `expected`) at which out best matches in, and the largest error there.
std::pair<int, double> best_lag(const std::vector<float>& in, const std::vector<float>& out, int expected) {
    int best = -1;
    double best_err = 1e300, best_peak = 0;
    const int max_lag = expected + 20;
    const int n = static_cast<int>(std::min(in.size(), out.size())) - max_lag;
    for (int lag = std::max(0, expected - 20); lag <= max_lag; ++lag) {
        double err = 0, peak = 0;
        // From 2000 frames in: the resamplers ring at the signal's onset.
        for (int i = 2000; i < n; ++i) {
            const double d = out[i + lag] - in[i];
            err += d * d;
            peak = std::max(peak, std::fabs(d));
        }
        if (err < best_err) {
            best_err = err;
            best = lag;
            best_peak = peak;
        }
    }
    return {best, best_peak};
}

// ---------------------------------------------------------------------------

TEST(Plugins, GiveTheModulesSamplesAtFortyFourKilohertz) {
    ConfigDir config;
    config.store(5, other_process());
    const auto ladspa = open_ladspa();
    const auto lv2 = open_lv2();
    ASSERT_TRUE(ladspa && lv2) << dlerror();

    // Float input off the 16-bit grid by less than half a step rounds to the
    // grid; out-of-range values clamp; NaN and infinities count as 0.
    const int frames = 2 * 44100;
    std::vector<std::int16_t> pcm = make_clip(frames, 44100);
    Planar in = to_float(pcm);
    std::uint32_t seed = 99;
    for (int n = 0; n < frames; ++n) {
        seed = seed * 1664525u + 1013904223u;
        const float d = (static_cast<float>(seed >> 8) / 16777216.0f - 0.5f) * 0.98f;
        in.l[n] = (pcm[2 * n] + d) / 32768.0f;
        in.r[n] = (pcm[2 * n + 1] - d) / 32768.0f;
    }
    const float specials[] = {NAN, INFINITY, -INFINITY, 1.7f, -3.0f};
    for (int i = 0; i < 5; ++i) {
        const int n = 3000 + 7919 * i;
        in.l[n] = specials[i];
        in.r[n + 1] = specials[4 - i];
        auto value = [](float x) -> std::int16_t { return !std::isfinite(x) ? 0 : x > 0 ? 32767 : -32768; };
        pcm[2 * n] = value(specials[i]);
        pcm[2 * n + 3] = value(specials[4 - i]);
    }
    const std::vector<std::int16_t> ref_default = reference(default_process(), pcm);
    const std::vector<std::int16_t> ref_other = reference(other_process(), pcm);

    for (const Library* lib : {ladspa.get(), lv2.get()}) {
        SCOPED_TRACE(lib->ladspa != nullptr ? "LADSPA" : "LV2");
        // Two instances in one process, different processes, calls of
        // different sizes interleaved: each gives what it gives alone.
        Instance a(*lib, 44100), b(*lib, 44100);
        b.control[kProcess] = 5;
        a.activate();
        b.activate();
        EXPECT_EQ(a.control[kLatency], 884);
        EXPECT_EQ(b.control[kLatency], 266);
        Planar out_a = in, out_b = in;
        const int sizes_a[] = {1, 7, 4096, 333}, sizes_b[] = {512, 1, 5000};
        for (int da = 0, db = 0, i = 0; da < frames || db < frames; ++i) {
            const int na = std::min(sizes_a[i % 4], frames - da), nb = std::min(sizes_b[i % 3], frames - db);
            if (na > 0) a.run(out_a.l, out_a.r, da, na);
            if (nb > 0) b.run(out_b.l, out_b.r, db, nb);
            da += na;
            db += nb;
        }
        EXPECT_EQ(mismatches(out_a, ref_default), 0);
        EXPECT_EQ(mismatches(out_b, ref_other), 0);
    }
}

// The short-term level (dB, 10 ms RMS of both channels) in the 200 ms around
// frame `at` of out, as "min..max dB, largest step between windows".
std::string level_around(const std::vector<std::int16_t>& out, int at) {
    const int window = 441;
    double low = 1e9, high = -1e9, step = 0, last = NAN;
    for (int w = at - 10 * window; w < at + 10 * window; w += window) {
        double sum = 0;
        for (int i = w; i < w + window; ++i)
            sum += double(out[2 * i]) * out[2 * i] + double(out[2 * i + 1]) * out[2 * i + 1];
        const double db = 10 * std::log10(sum / (2 * window) / (32768.0 * 32768.0) + 1e-12);
        low = std::min(low, db);
        high = std::max(high, db);
        if (!std::isnan(last)) step = std::max(step, std::fabs(db - last));
        last = db;
    }
    char text[128];
    std::snprintf(text, sizeof text, "%.2f..%.2f dB, largest step %.2f dB", low, high, step);
    return text;
}

// The process port: the newest stored process of the number at the next
// block, memories kept; a missing or invalid number keeps the process on
// air, sets the status and is told once per selection by the library's
// thread; a missing 0 is the built-in default and a missing factory number
// its factory process, silently.
TEST(Plugins, ProcessPortKeepsTheProcessOnAirAndSaysWhy) {
    ConfigDir config;
    config.store(5, other_process());
    {
        std::ofstream bad(config.folder() / "qv$6.dat", std::ios::binary);
        bad << std::string(100, 'x');
    }
    const auto lib = open_ladspa();
    ASSERT_TRUE(lib);
    ProcessParams factory = default_process();
#ifdef QV_HAVE_FACTORY
    std::string error;
    ASSERT_TRUE(factory_params(*find_factory_process(93), factory, error)) << error;
#endif

    testing::internal::CaptureStderr();
    const int frames = 3 * 44100;
    const std::vector<std::int16_t> pcm = make_clip(frames, 44100);
    Planar p = to_float(pcm);
    {
        Instance inst(*lib, 44100);
        inst.control[kProcess] = 5;
        inst.activate();
        // 5, then 7 (missing), 6 (invalid), 7 again: 5 stays on air; then, on
        // steady programme at 2 s, 0 (the built-in default), then 93 (its
        // factory process).
        const struct {
            int at;
            float number;
            int status;
        } steps[] = {{0, 5, 0}, {10000, 7.2f, 1}, {20000, 6, 2}, {30000, 7, 1}, {88200, 0, 0}, {110000, 93, 0}};
        for (int i = 0; i < 6; ++i) {
            const int end = i < 5 ? steps[i + 1].at : frames;
            inst.control[kProcess] = steps[i].number;
            inst.run(p.l, p.r, steps[i].at, 5000);
            EXPECT_EQ(inst.control[kStatus], steps[i].status) << steps[i].number;
            for (int done = steps[i].at + 5000; done < end; done += 4096)
                inst.run(p.l, p.r, done, std::min(4096, end - done));
        }
        EXPECT_EQ(inst.control[kLatency], 884);
    }
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(mismatches(p, reference(other_process(), pcm, {{88200, default_process()}, {110000, factory}}, true)), 0);
    // The level around such a change on steady programme (noise and a chord
    // at a constant level), against restarting the memories as the player's
    // Load does and against each process settled.
    {
        std::vector<std::int16_t> steady(pcm.size());
        std::uint32_t seed = 5;
        for (int n = 0; n < frames; ++n) {
            const double k = 2 * std::numbers::pi / 44100 * n;
            seed = seed * 1664525u + 1013904223u;
            const double noise = 3000.0 * (static_cast<double>(seed) / 2147483648.0 - 1.0);
            steady[2 * n] = static_cast<std::int16_t>(noise + 5000 * std::sin(110 * k) + 3000 * std::sin(440 * k));
            steady[2 * n + 1] = static_cast<std::int16_t>(-noise + 5000 * std::sin(110 * k) + 3000 * std::sin(660 * k));
        }
        std::printf(
            "level in the 200 ms around a change of process at 2 s: edit %s; load %s; settled before %s, "
            "after %s\n",
            level_around(reference(other_process(), steady, {{88200, default_process()}}, true), 88200).c_str(),
            level_around(reference(other_process(), steady, {{88200, default_process()}}, false), 88200).c_str(),
            level_around(reference(other_process(), steady), 88200).c_str(),
            level_around(reference(default_process(), steady), 88200).c_str());
    }
    // Each selection of a missing or invalid number is told once.
    const std::string missing = (config.folder() / "qv$7.dat").string() + " is missing";
    const std::string invalid = (config.folder() / "qv$6.dat").string() + " is not a valid process";
    EXPECT_NE(said.find(missing), std::string::npos) << said;
    EXPECT_NE(said.find(invalid), std::string::npos) << said;
    EXPECT_EQ(said.find(invalid), said.rfind(invalid)) << said;
    EXPECT_EQ(said.find("qv$5.dat"), std::string::npos) << said;
    EXPECT_EQ(said.find("qv$0.dat"), std::string::npos) << said;
    EXPECT_EQ(said.find("qv$93.dat"), std::string::npos) << said;
    EXPECT_EQ(std::distance(fs::directory_iterator(config.folder()), fs::directory_iterator()), 2);
    // Read only: nothing made, the invalid file left as it was.
    EXPECT_EQ(fs::file_size(config.folder() / "qv$6.dat"), 100u);
}

TEST(Plugins, BypassAndTrims) {
    ConfigDir config;
    const auto lib = open_lv2();
    ASSERT_TRUE(lib);
    const int frames = 20000;
    const std::vector<std::int16_t> pcm = make_clip(frames, 44100);
    Instance inst(*lib, 44100);
    inst.control[kBypass] = 1;
    inst.control[kInputGain] = 20.0f * std::log10(2.0f);
    inst.control[kOutputGain] = -20;
    inst.activate();
    EXPECT_EQ(inst.control[kLatency], 0);
    Planar p = to_float(pcm);
    for (float& x : p.l) x *= 0.25f;
    for (float& x : p.r) x *= 0.25f;
    const Planar in = p;
    run_all(inst, p, {256});
    // Bypass All passes the rounded input; the trims are x2 in, x0.1 out.
    double worst = 0;
    for (int n = 0; n < frames; ++n) {
        worst = std::max(worst, std::fabs(p.l[n] - 0.2 * in.l[n]));
        worst = std::max(worst, std::fabs(p.r[n] - 0.2 * in.r[n]));
    }
    EXPECT_LT(worst, 0.11 / 32768);
    // The test tone replaces silence.
    Planar silence{std::vector<float>(8820), std::vector<float>(8820)};
    inst.control[kTestTone] = 1;
    inst.control[kOutputGain] = 0;
    run_all(inst, silence, {1024});
    EXPECT_GT(*std::max_element(silence.l.begin(), silence.l.end()), 0.05f);
}

// The reported latency is the measured delay, at 44.1 kHz and through the
// resamplers, with and without the ceiling; the ceiling switched on after
// activate but before the first block (as Liquidsoap writes its controls)
// is taken. Under Bypass All the quiet tones pass the ceiling untouched.
TEST(Plugins, ResamplesOtherRatesWithTheReportedLatency) {
    ConfigDir config;
    for (const auto& [rate, ceiling] :
         {std::pair{48000.0, false}, {22050.0, false}, {96000.0, false}, {44100.0, true}, {48000.0, true}}) {
        SCOPED_TRACE(std::to_string(rate) + (ceiling ? " ceiling" : ""));
        auto core = core_create(rate, LogSink{});
        float control[kPortCount] = {};
        for (int p = kProcess; p < kPortCount; ++p) core->port[p] = &control[p];
        control[kBypass] = 1;
        ASSERT_TRUE(core_activate(*core));
        control[kCeiling] = ceiling ? 1 : 0;
        const int frames = static_cast<int>(rate);
        Planar in = to_float(make_tones(frames, rate));
        Planar out{std::vector<float>(frames, -9.0f), std::vector<float>(frames, -9.0f)};
        // Calls of every awkward size, 1 frame included; each returns as many frames as it was given.
        const int sizes[] = {1, 1, 37, 128, 129, 4096, 2, 500};
        for (int done = 0, i = 0; done < frames; ++i) {
            const int n = std::min(sizes[i % 8], frames - done);
            core->port[kInLeft] = in.l.data() + done;
            core->port[kInRight] = in.r.data() + done;
            core->port[kOutLeft] = out.l.data() + done;
            core->port[kOutRight] = out.r.data() + done;
            core_run(*core, static_cast<std::uint32_t>(n));
            done += n;
        }
        EXPECT_EQ(std::count(out.l.begin(), out.l.end(), -9.0f), 0);
        const int bridge = core->bridge ? core->bridge->latency_frames : 0;
        if (core->bridge) {
            EXPECT_EQ(core->bridge->underruns, 0u);
            EXPECT_EQ(core->bridge->overruns, 0u);
        }
        const int ceiling_frames = ceiling ? static_cast<int>(std::lround(kTruePeakLatencyFrames * rate / 44100)) : 0;
        const int latency = static_cast<int>(control[kLatency]);
        EXPECT_EQ(latency, bridge + ceiling_frames);
        EXPECT_LT(latency, 0.06 * rate);
        const auto [lag, error] = best_lag(in.l, out.l, latency);
        EXPECT_EQ(lag, latency);
        // The ceiling's 74 frames are a fraction of a frame off a whole number
        // at other rates (80.54 at 48 kHz): the lag rounds it, the error shows it.
        EXPECT_LT(error, !core->bridge ? 1e-9 : ceiling ? 0.05 : 1e-3);
        // The chain's own delay adds, converted to the host's rate.
        control[kBypass] = 0;
        core_run(*core, 1);
        const int chain = 884 + (ceiling ? kTruePeakLatencyFrames : 0);
        EXPECT_EQ(static_cast<int>(control[kLatency]), bridge + std::lround(chain * rate / 44100));
    }
}

// soxr_create of this program: refuses while g_soxr_refuses is set, as it
// would without memory; else libsoxr's.
std::atomic<bool> g_soxr_refuses{false};

}  // namespace

extern "C" soxr_t soxr_create(double in_rate, double out_rate, unsigned channels, soxr_error_t* error,
                              const soxr_io_spec_t* io, const soxr_quality_spec_t* quality,
                              const soxr_runtime_spec_t* runtime) {
    using Create = soxr_t (*)(double, double, unsigned, soxr_error_t*, const soxr_io_spec_t*,
                              const soxr_quality_spec_t*, const soxr_runtime_spec_t*);
    static const auto real = reinterpret_cast<Create>(dlsym(RTLD_NEXT, "soxr_create"));
    if (g_soxr_refuses) {
        if (error != nullptr) *error = "refused by the test";
        return nullptr;
    }
    return real(in_rate, out_rate, channels, error, io, quality, runtime);
}

namespace {

// A resampler that cannot start: status 3, silence, said once; the next
// activate with the resampler back plays again.
TEST(Plugins, SilentWithStatusThreeWhenTheResamplerCannotStart) {
    ConfigDir config;
    auto core = core_create(48000, LogSink{});
    ASSERT_TRUE(core);
    float control[kPortCount] = {};
    for (int p = kProcess; p < kPortCount; ++p) core->port[p] = &control[p];
    Planar p = to_float(make_tones(4800, 48000));
    const Planar in = p;
    core->port[kInLeft] = core->port[kOutLeft] = p.l.data();
    core->port[kInRight] = core->port[kOutRight] = p.r.data();
    testing::internal::CaptureStderr();
    g_soxr_refuses = true;
    EXPECT_FALSE(core_activate(*core));
    g_soxr_refuses = false;
    core_run(*core, 4800);
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(control[kStatus], kNoResampler);
    EXPECT_EQ(std::count(p.l.begin(), p.l.end(), 0.0f), 4800);
    EXPECT_EQ(count_of(said, "the resampler cannot be created"), 1) << said;
    p = in;
    EXPECT_TRUE(core_activate(*core));
    core_run(*core, 4800);
    EXPECT_EQ(control[kStatus], kOnAir);
    EXPECT_GT(*std::max_element(p.l.begin(), p.l.end()), 0.1f);
}

// run() allocates nothing through any route, on the calling thread, while
// every control moves, the ceiling works, reload edges come and the library
// swaps snapshots under it (a missing process stored while selected).
TEST(Plugins, RunNeverAllocates) {
    ConfigDir config;
    config.store(5, other_process());
    const auto ladspa = open_ladspa();
    const auto lv2 = open_lv2();
    ASSERT_TRUE(ladspa && lv2);
    // The counter sees an allocation made through any route.
    g_allocations = 0;
    g_armed = true;
    void* volatile probe = std::malloc(16);
    std::free(probe);
    g_armed = false;
#if defined(__SANITIZE_THREAD__)
    // GCC 12's ThreadSanitizer installs the hooks but never calls them; the
    // native and asan builds give the proof.
    if (g_allocations == 0) GTEST_SKIP() << "ThreadSanitizer's runtime calls no allocation hooks here";
#endif
    ASSERT_GE(g_allocations, 2);
    UridMap urid;
    struct Case {
        const Library* lib;
        double rate;
        bool ceiling;
    };
    for (const Case& c :
         {Case{ladspa.get(), 44100, true}, Case{lv2.get(), 48000, true}, Case{ladspa.get(), 22050, false}}) {
        SCOPED_TRACE(c.rate);
        fs::remove(config.folder() / "qv$7.dat");
        Instance inst(*c.lib, c.rate, urid.list);
        inst.control[kCeiling] = c.ceiling ? 1 : 0;
        inst.activate();
        Planar p = to_float(make_clip(static_cast<int>(c.rate), c.rate));
        const int sizes[] = {1, 7, 128, 4096, 1000};
        long allocations = 0;
        const auto run = [&](int first, int n) {
            g_allocations = 0;
            g_armed = true;
            inst.run(p.l, p.r, first, n);
            g_armed = false;
            allocations += g_allocations;
        };
        for (int done = 0, i = 0; done + 4096 <= static_cast<int>(p.l.size()); ++i) {
            // Every control moves now and then, the process among a stored,
            // a missing and the default number.
            inst.control[kProcess] = static_cast<float>((i / 3) % 3 == 0 ? 0 : (i / 3) % 3 == 1 ? 5 : 7);
            inst.control[kBypass] = static_cast<float>((i / 4) % 2);
            inst.control[kTestTone] = static_cast<float>((i / 5) % 2);
            inst.control[kInputGain] = static_cast<float>(i % 7);
            inst.control[kOutputGain] = -static_cast<float>(i % 5);
            inst.control[kReload] = static_cast<float>((i / 2) % 2);
            inst.control[kCeilingDbtp] = -static_cast<float>(i % 6);
            const int n = sizes[i % 5];
            run(done, n);
            done += n;
        }
        // Process 7 stored while selected goes on air when the library's
        // snapshot with it reaches run().
        inst.control[kProcess] = 7;
        run(0, 64);
        EXPECT_EQ(inst.control[kStatus], kMissing);
        config.store(7, other_process());
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        while (static_cast<int>(inst.control[kStatus]) != kOnAir && std::chrono::steady_clock::now() < until) {
            run(0, 64);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        EXPECT_EQ(inst.control[kStatus], kOnAir);
        EXPECT_EQ(allocations, 0);
    }
}

#if defined(__x86_64__) && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
// Installs a filter that kills the process at any system call but exit and
// exit_group.
bool forbid_system_calls() {
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_X86_64, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_KILL_PROCESS),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_exit_group, 2, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_exit, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_KILL_PROCESS),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    sock_fprog program{static_cast<unsigned short>(std::size(filter)), filter};
    return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 && prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

// Runs body in a child under that filter; the child leaves by exit_group
// with body's result. The wait status.
int under_no_system_calls(const std::function<int()>& body) {
    const pid_t child = fork();
    if (child == 0) {
        const int code = forbid_system_calls() ? body() : 100;
        syscall(SYS_exit_group, code);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return status;
}
#endif

// run() makes no system call: in a forked child under a filter that kills
// it at the first one, run() swaps to the library's newer snapshot (a
// missing process stored while selected), changes process, takes a reload
// edge and moves the ceiling, at 44.1 kHz and through the resamplers.
TEST(Plugins, RunMakesNoSystemCall) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizer runtimes make system calls of their own inside run()";
#elif !defined(__x86_64__)
    GTEST_SKIP() << "the filter is written for x86-64";
#else
    // The filter kills a child that makes one.
    const int killed = under_no_system_calls([] { return static_cast<int>(getppid()); });
    ASSERT_TRUE(WIFSIGNALED(killed) && WTERMSIG(killed) == SIGSYS) << killed;

    ConfigDir config;
    config.store(5, other_process());
    struct Live {
        std::unique_ptr<PluginCore> core;
        float control[kPortCount] = {};
        Planar p;
    };
    Live live[2];
    const double rates[2] = {44100, 48000};
    for (int i = 0; i < 2; ++i) {
        Live& l = live[i];
        l.core = core_create(rates[i], LogSink{});
        for (int port = kProcess; port < kPortCount; ++port) l.core->port[port] = &l.control[port];
        l.control[kProcess] = 7;
        l.control[kCeiling] = 1;
        l.control[kCeilingDbtp] = -1;
        ASSERT_TRUE(core_activate(*l.core));
        l.p = to_float(make_clip(static_cast<int>(rates[i]), rates[i]));
        l.core->port[kInLeft] = l.core->port[kOutLeft] = l.p.l.data();
        l.core->port[kInRight] = l.core->port[kOutRight] = l.p.r.data();
        core_run(*l.core, 256);
        ASSERT_EQ(l.control[kStatus], kMissing);
    }
    // A newer snapshot, published and not yet taken by either instance.
    const std::uint64_t held = live[0].core->snapshot->seq;
    config.store(7, other_process());
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (library_newest(*live[0].core->member)->seq == held && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_NE(library_newest(*live[0].core->member)->seq, held);

    const int status = under_no_system_calls([&] {
        int fails = 0;
        for (Live& l : live) {
            core_run(*l.core, 256);
            // The snapshot taken, process 7 on air (3 ms look-ahead, plus the ceiling's 74 frames).
            fails += static_cast<int>(l.control[kStatus]) != kOnAir || l.core->snapshot->seq == held;
            fails += l.core->host_rate == 44100 && l.control[kLatency] != 266 + 74;
            for (int i = 0; i < 400; ++i) {
                l.control[kProcess] = static_cast<float>((i / 50) % 3 == 0 ? 5 : (i / 50) % 3 == 1 ? 7 : 0);
                l.control[kReload] = static_cast<float>((i / 7) % 2);
                l.control[kCeilingDbtp] = -static_cast<float>(i % 7);
                l.control[kBypass] = static_cast<float>((i / 90) % 2);
                core_run(*l.core, static_cast<std::uint32_t>(1 + (i * 37) % 512));
            }
        }
        return fails;
    });
    EXPECT_TRUE(WIFEXITED(status)) << (WIFSIGNALED(status) ? strsignal(WTERMSIG(status)) : "");
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 0);
#endif
}

int thread_count() {
    return static_cast<int>(std::distance(fs::directory_iterator("/proc/self/task"), fs::directory_iterator()));
}

// The library's thread lives from the first instance to the last one's
// cleanup: a hundred loads, instances and unloads leave no thread.
TEST(Plugins, CleanupLeavesNoThread) {
    ConfigDir config;
    const int before = thread_count();
    for (int i = 0; i < 100; ++i) {
        const auto lib = i % 2 == 0 ? open_ladspa() : open_lv2();
        ASSERT_TRUE(lib);
        {
            Instance a(*lib, 44100);
            Instance b(*lib, 48000);
            a.activate();
            if (i == 0) {
                EXPECT_EQ(thread_count(), before + 1);
            }
        }
        if (i == 0) {
            EXPECT_EQ(thread_count(), before);
        }
    }
    EXPECT_EQ(thread_count(), before);
}

// --- hostile hosts ---

// Bytes the heap holds for the program.
std::size_t heap_in_use() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    return __sanitizer_get_current_allocated_bytes();
#else
    const struct mallinfo2 m = mallinfo2();
    return m.uordblks + m.hblkhd;
#endif
}

// The values a hostile host may leave on any input.
constexpr float kHostile[] = {NAN, INFINITY, -INFINITY, 1e30f, -1e30f, FLT_MAX, -FLT_MAX, 1e-40f, -0.0f, 3.5f};

// NaN, infinities and huge values on every audio and control input, run(0),
// blocks of 1 and 8192 frames, the output in the input's buffer or its own,
// every port (audio and control) on other buffers from one run to the next,
// at 44.1 kHz and through the resamplers, through both APIs: the output
// stays finite and within +-1.0 (+-1.2 where the resamplers may overshoot),
// the output ports in their ranges, and run() allocates nothing.
TEST(Plugins, HostileHostsGetFiniteBoundedOutput) {
    ConfigDir config;
    config.store(5, other_process());
    const auto ladspa = open_ladspa();
    const auto lv2 = open_lv2();
    ASSERT_TRUE(ladspa && lv2);
    const int sizes[] = {0, 1, 8192, 1, 37, 0, 8192, 512, 3, 8192};
    const std::vector<std::int16_t> clip = make_clip(8192, 44100);
    for (const Library* lib : {ladspa.get(), lv2.get()}) {
        for (const double rate : {44100.0, 48000.0, 22050.0}) {
            SCOPED_TRACE(std::string(lib->ladspa != nullptr ? "LADSPA " : "LV2 ") + std::to_string(int(rate)));
            Instance inst(*lib, rate);
            // Hostile values on the controls at activate too.
            for (int p = kProcess; p < kPortCount; ++p) inst.control[p] = kHostile[p % std::size(kHostile)];
            inst.activate();
            const float bound = rate == 44100.0 ? 1.0f : 1.2f;
            std::vector<float> buf[2][4];
            float controls[3][kPortCount] = {};
            for (auto& set : buf)
                for (auto& b : set) b.resize(8192);
            long allocations = 0, bad = 0;
            float peak = 0;
            for (int i = 0; i < 120; ++i) {
                const int n = sizes[i % std::size(sizes)];
                std::vector<float>* set = buf[(i / 2) % 2];
                for (int k = 0; k < n; ++k) {
                    set[0][k] = clip[2 * k] / 32768.0f * 2;  // up to 6 dB over full scale
                    set[1][k] = clip[2 * k + 1] / 32768.0f * 2;
                    if ((k + i) % 53 == 0) set[0][k] = kHostile[(k / 53 + i) % std::size(kHostile)];
                    if ((k + 2 * i) % 31 == 0) set[1][k] = kHostile[(k / 31 + i + 3) % std::size(kHostile)];
                }
                // Every control: now a hostile value, now a plain one.
                float* values = controls[i % 3];
                for (int p = kProcess; p < kPortCount; ++p) {
                    const bool plain = (i + p) % 3 != 0;
                    values[p] = plain ? kPorts[p].min + (kPorts[p].max - kPorts[p].min) * float((i * 7 + p) % 5) / 4
                                      : kHostile[(i + p) % std::size(kHostile)];
                }
                if (i % 4 == 1) values[kProcess] = 5;
                inst.connect_controls(values);
                const bool in_place = i % 2 == 0;
                float* out_l = in_place ? set[0].data() : set[2].data();
                float* out_r = in_place ? set[1].data() : set[3].data();
                g_allocations = 0;
                g_armed = true;
                inst.run(set[0].data(), set[1].data(), out_l, out_r, n);
                g_armed = false;
                allocations += g_allocations;
                for (int k = 0; k < n; ++k) {
                    bad += !(std::fabs(out_l[k]) <= bound) + !(std::fabs(out_r[k]) <= bound);
                    peak = std::max({peak, std::fabs(out_l[k]), std::fabs(out_r[k])});
                }
                EXPECT_TRUE(values[kLatency] >= 0 && values[kLatency] <= 192000) << values[kLatency];
                EXPECT_TRUE(values[kStatus] == float(kOnAir) || values[kStatus] == float(kMissing)) << values[kStatus];
            }
            EXPECT_EQ(bad, 0) << "peak " << peak;
            EXPECT_GT(peak, 0.5f);  // it did play
            EXPECT_EQ(allocations, 0);
        }
    }
}

// A hundred instances in one process share one library of processes (one
// thread, one set of snapshots) and each runs as it would alone.
TEST(Plugins, HundredInstancesShareOneLibrary) {
    ConfigDir config;
    config.store(5, other_process());
    const auto ladspa = open_ladspa();
    const auto lv2 = open_lv2();
    ASSERT_TRUE(ladspa && lv2);
    const std::vector<std::int16_t> pcm = make_clip(4096, 44100);
    const std::vector<std::int16_t> ref = reference(other_process(), pcm);
    for (const Library* lib : {ladspa.get(), lv2.get()}) {
        SCOPED_TRACE(lib->ladspa != nullptr ? "LADSPA" : "LV2");
        const int threads = thread_count();
        const std::size_t heap = heap_in_use();
        std::vector<std::unique_ptr<Instance>> all;
        std::size_t first = 0;
        for (int i = 0; i < 100; ++i) {
            all.push_back(std::make_unique<Instance>(*lib, 44100));
            all.back()->control[kProcess] = 5;
            all.back()->activate();
            if (i == 0) first = heap_in_use() - heap;
        }
        const std::size_t each = (heap_in_use() - heap - first) / 99;
        EXPECT_EQ(thread_count(), threads + 1);
        if (lib->ladspa != nullptr) {
            // The handle is the core: every member reads the same library.
            const auto* newest = static_cast<PluginCore*>(all[0]->handle())->member->newest;
            for (const auto& inst : all) EXPECT_EQ(static_cast<PluginCore*>(inst->handle())->member->newest, newest);
        }
        int wrong = 0;
        for (auto& inst : all) {
            Planar p = to_float(pcm);
            inst->run(p.l, p.r, 0, 4096);
            wrong += mismatches(p, ref) != 0;
        }
        EXPECT_EQ(wrong, 0);
        std::printf("%s: the first instance %.0f kB (the library of processes included), each further one %.0f kB\n",
                    lib->ladspa != nullptr ? "LADSPA" : "LV2", first / 1024.0, each / 1024.0);
        EXPECT_LT(each, first);
        all.clear();
        EXPECT_EQ(thread_count(), threads);
    }
}

// A thousand activate/deactivate cycles and a thousand instantiate/cleanup
// cycles, half through each API, one in ten through the resamplers (whose
// set-up is the slow part): the heap comes back to where it was (under
// AddressSanitizer the leak checker looks too) and no thread stays.
TEST(Plugins, ThousandCyclesLeaveNothingBehind) {
    ConfigDir config;
    const auto ladspa = open_ladspa();
    const auto lv2 = open_lv2();
    ASSERT_TRUE(ladspa && lv2);
    Planar p{std::vector<float>(256, 0.25f), std::vector<float>(256, -0.25f)};
    // Under ThreadSanitizer, which looks for races rather than leaks, a
    // tenth of the cycles (the whole count takes over a minute there).
#if defined(__SANITIZE_THREAD__)
    const int scale = 10;
#else
    const int scale = 1;
#endif
    const int threads = thread_count();
    const std::size_t heap = heap_in_use();
    for (const Library* lib : {ladspa.get(), lv2.get()}) {
        SCOPED_TRACE(lib->ladspa != nullptr ? "LADSPA" : "LV2");
        for (const auto& [rate, cycles] : {std::pair{44100.0, 450 / scale}, {48000.0, 50 / scale}}) {
            Instance inst(*lib, rate);
            for (int i = 0; i < cycles; ++i) {
                inst.activate();
                inst.run(p.l, p.r, 0, 256);
                inst.deactivate();
            }
        }
        for (int i = 0; i < 500 / scale; ++i) {
            Instance inst(*lib, i % 10 == 0 ? 48000 : 44100);
            inst.activate();
            inst.run(p.l, p.r, 0, 256);
        }
    }
    EXPECT_EQ(thread_count(), threads);
    // Allowance for the C library's own bookkeeping (thread arenas).
    EXPECT_LT(static_cast<long>(heap_in_use()) - static_cast<long>(heap), 64 * 1024);
    for (float x : p.l) EXPECT_TRUE(std::isfinite(x));
}

// A state store for one save and restore.
struct StateStore {
    struct Value {
        std::vector<unsigned char> bytes;
        std::uint32_t type;
    };
    std::map<std::uint32_t, Value> values;
    static LV2_State_Status store(LV2_State_Handle h, std::uint32_t key, const void* value, std::size_t size,
                                  std::uint32_t type, std::uint32_t) {
        auto* self = static_cast<StateStore*>(h);
        const auto* b = static_cast<const unsigned char*>(value);
        self->values[key] = Value{std::vector<unsigned char>(b, b + size), type};
        return LV2_STATE_SUCCESS;
    }
    static const void* retrieve(LV2_State_Handle h, std::uint32_t key, std::size_t* size, std::uint32_t* type,
                                std::uint32_t* flags) {
        auto* self = static_cast<StateStore*>(h);
        auto it = self->values.find(key);
        if (it == self->values.end()) return nullptr;
        *size = it->second.bytes.size();
        *type = it->second.type;
        *flags = LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE;
        return it->second.bytes.data();
    }
};

const LV2_State_Interface* state_interface(const Library& lib) {
    return static_cast<const LV2_State_Interface*>(lib.lv2->extension_data(LV2_STATE__interface));
}

std::string base64_decode(const std::string& s) {
    std::string out;
    unsigned v = 0;
    int bits = 0;
    for (char ch : s) {
        const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        const char* at = std::strchr(alphabet, ch);
        if (ch == '=' || at == nullptr || ch == '\0') break;
        v = (v << 6) | static_cast<unsigned>(at - alphabet);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>((v >> bits) & 0xFF);
        }
    }
    return out;
}

TEST(Plugins, Lv2StateAndPresetsCarryTheWholeProcess) {
    const auto lib = open_lv2();
    ASSERT_TRUE(lib);
    const LV2_State_Interface* state = state_interface(*lib);
    ASSERT_NE(state, nullptr);
    UridMap urid;
    const int frames = 44100;
    const std::vector<std::int16_t> pcm = make_clip(frames, 44100);
    StateStore saved;
    {
        ConfigDir config;
        config.store(5, other_process());
        Instance a(*lib, 44100, urid.list);
        a.control[kProcess] = 5;
        a.activate();
        Planar p = to_float(pcm);
        run_all(a, p, {4096});
        ASSERT_EQ(state->save(a.handle(), StateStore::store, &saved, 0, nullptr), LV2_STATE_SUCCESS);
        // Without urid:map there is no state, and the plug-in still runs.
        Instance bare(*lib, 44100);
        bare.activate();
        StateStore none;
        EXPECT_EQ(state->save(bare.handle(), StateStore::store, &none, 0, nullptr), LV2_STATE_ERR_NO_FEATURE);
    }
    const LV2_URID chunk = urid.id(LV2_ATOM__Chunk);
    ASSERT_EQ(saved.values.size(), 2u);
    bool whole = false;
    for (const auto& [key, v] : saved.values) whole |= v.type == chunk && v.bytes.size() == kProcessFileBytes;
    EXPECT_TRUE(whole);

    // Restored on a machine without process files: the saved process plays
    // while the port keeps the saved number, from a fresh start.
    ConfigDir empty;
    Instance b(*lib, 44100, urid.list);
    ASSERT_EQ(state->restore(b.handle(), StateStore::retrieve, &saved, 0, nullptr), LV2_STATE_SUCCESS);
    b.control[kProcess] = 5;
    b.activate();
    Planar p = to_float(pcm);
    run_all(b, p, {1000});
    EXPECT_EQ(mismatches(p, reference(other_process(), pcm)), 0);
    // A new value on the port leaves the restored process; coming back plays the (missing) file.
    b.control[kProcess] = 0;
    run_all(b, p, {64});
    EXPECT_EQ(b.control[kLatency], 884);
    b.control[kProcess] = 5;
    run_all(b, p, {64});
    EXPECT_EQ(b.control[kLatency], 884);

    // The bundle's DEFAULT preset holds the default process's whole image.
    std::ifstream in(env("QUORVANE_LV2_BUNDLE") + "/presets.ttl");
    std::stringstream text;
    text << in.rdbuf();
    const std::string ttl = text.str();
    const std::size_t at = ttl.find("#preset-default>");
    ASSERT_NE(at, std::string::npos);
    const std::size_t start = ttl.find("#process> \"", at) + 11;
    const std::string image = base64_decode(ttl.substr(start, ttl.find('"', start) - start));
    unsigned char expected[kProcessFileBytes];
    encode_process(default_process(), expected);
    ASSERT_EQ(image.size(), kProcessFileBytes);
    EXPECT_EQ(std::memcmp(image.data(), expected, kProcessFileBytes), 0);
}

#if QV_X86
// Every call of both plug-ins from a host thread in another floating-point
// environment (rounding, x87 precision, exceptions unmasked, flush-to-zero),
// at 44.1 kHz and through the resamplers at 48 kHz, a process change and an
// LV2 state save and restore among them: the default environment's samples,
// no exception, and the environment given back after each call.
TEST(Plugins, HostFloatingPointModesDoNotChangeTheSamples) {
    ConfigDir config;
    config.store(0, default_process());
    config.store(5, other_process());
    const auto ladspa = open_ladspa();
    const auto lv2 = open_lv2();
    ASSERT_TRUE(ladspa && lv2);
    const LV2_State_Interface* state = state_interface(*lv2);
    UridMap urid;
    const auto envs = test::host_fp_envs();
    for (const Library* lib : {ladspa.get(), lv2.get()}) {
        for (double rate : {44100.0, 48000.0}) {
            SCOPED_TRACE(std::string(lib->ladspa != nullptr ? "LADSPA " : "LV2 ") +
                         std::to_string(static_cast<int>(rate)));
            const int frames = static_cast<int>(rate / 4);
            const Planar in = to_float(make_clip(frames, rate));
            const auto render = [&](test::HostFpCaller& call) {
                Planar p = in;
                auto inst = call([&] { return std::make_unique<Instance>(*lib, rate, urid.list); });
                call([&] { inst->activate(); });
                for (int done = 0; done < frames; done += 441) {
                    if (done >= frames / 2 && inst->control[kProcess] == 0) {
                        inst->control[kProcess] = 5;
                        StateStore saved;
                        if (lib->lv2 != nullptr) {
                            call([&] { return state->save(inst->handle(), StateStore::store, &saved, 0, nullptr); });
                            call([&] {
                                return state->restore(inst->handle(), StateStore::retrieve, &saved, 0, nullptr);
                            });
                        }
                    }
                    call([&] { inst->run(p.l, p.r, done, std::min(441, frames - done)); });
                }
                call([&] { inst.reset(); });  // deactivate, cleanup
                return p;
            };
            test::HostFpCaller default_env(envs[0]);
            const Planar reference = render(default_env);
            for (const test::HostFpEnv& env : envs) {
                test::HostFpCaller call(env);
                const Planar p = render(call);
                EXPECT_TRUE(p.l == reference.l && p.r == reference.r) << env.name;
                EXPECT_EQ(call.changed(), 0) << env.name << ": first left " << call.first_change();
            }
        }
    }
}
#endif

// An LV2 log that keeps the messages and whether each came from the thread
// that runs the plug-in.
struct LogCapture {
    std::mutex lock;
    std::string text;
    std::thread::id audio = std::this_thread::get_id();
    int from_audio = 0;
    static int vprintf(LV2_Log_Handle h, LV2_URID, const char* format, va_list args) {
        auto* self = static_cast<LogCapture*>(h);
        char line[1024];
        const int n = std::vsnprintf(line, sizeof line, format, args);
        const std::lock_guard<std::mutex> hold(self->lock);
        self->text += line;
        self->from_audio += std::this_thread::get_id() == self->audio;
        return n;
    }
    static int printf(LV2_Log_Handle h, LV2_URID type, const char* format, ...) {
        va_list args;
        va_start(args, format);
        const int n = vprintf(h, type, format, args);
        va_end(args);
        return n;
    }
    LV2_Log_Log log{this, printf, vprintf};
    LV2_Feature feature{LV2_LOG__log, &log};
    std::string said() {
        const std::lock_guard<std::mutex> hold(lock);
        return text;
    }
};

// --- the control panel of the host process ---

// A free TCP port on loopback, as the system hands one out.
int free_port() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0)
        std::abort();
    close(fd);
    return ntohs(a.sin_port);
}

struct Reply {
    int status = 0;  // 0: no connection
    nlohmann::json body;
};

// One HTTP request to the panel on loopback (the server closes every reply).
Reply http(int port, const std::string& method, const std::string& path, const std::string& body = "",
           const std::string& token = "") {
    Reply reply;
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(fd);
        return reply;
    }
    const std::string request =
        method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
        "\r\nConnection: close\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
        "\r\n" + (token.empty() ? "" : "Authorization: Bearer " + token + "\r\n") + "\r\n" + body;
    if (write(fd, request.data(), request.size()) != static_cast<ssize_t>(request.size())) std::abort();
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<std::size_t>(n));
    close(fd);
    reply.status = std::atoi(text.c_str() + text.find(' ') + 1);
    const std::size_t start = text.find("\r\n\r\n");
    if (start != std::string::npos) reply.body = nlohmann::json::parse(text.substr(start + 4), nullptr, false);
    return reply;
}

// Both entry points in one shared object: the LV2 bundle's library is the
// LADSPA one, which the dynamic loader maps once. Three instances of one
// host process (two LADSPA, one LV2) are listed by one server; an edit
// through the API is heard in the instance it names alone and lasts until
// the host reloads; the host's ports cannot be set from the page; the
// silence_s port counts the seconds of quiet input; the last cleanup stops
// the server and joins its threads.
TEST(Plugins, ControlPanelServesEveryInstanceOfTheHost) {
    ConfigDir config;
    const int port = free_port();
    setenv("QUORVANE_CONTROL", ("127.0.0.1:" + std::to_string(port)).c_str(), 1);
    // A sanitizer's runtime starts a thread of its own with the first thread.
    std::thread([] {}).join();
    const int threads_before = thread_count();
    {
        const auto ladspa = open_ladspa();
        const auto lv2 = open_lv2();
        ASSERT_TRUE(ladspa && lv2);
        EXPECT_EQ(ladspa->handle, lv2->handle);
        Instance a(*ladspa, 44100), b(*lv2, 44100), c(*ladspa, 44100), d(*lv2, 48000);
        for (Instance* i : {&a, &b, &c, &d}) i->activate();

        const Reply list = http(port, "GET", "/api/instances");
        ASSERT_EQ(list.status, 200);
        ASSERT_EQ(list.body["instances"].size(), 4u);
        std::vector<std::string> ids, kinds;
        std::vector<int> rates;
        for (const auto& i : list.body["instances"]) {
            ids.push_back(i["id"]);
            kinds.push_back(i["kind"]);
            rates.push_back(i["rate"]);
        }
        EXPECT_EQ(kinds, (std::vector<std::string>{"LADSPA", "LV2", "LADSPA", "LV2"}));
        EXPECT_EQ(rates, (std::vector<int>{44100, 44100, 44100, 48000}));
        const std::string at_a = "?instance=" + ids[0];
        EXPECT_EQ(http(port, "GET", "/api/state").status, 400);
        EXPECT_EQ(http(port, "GET", "/api/state?instance=99").status, 404);
        EXPECT_EQ(http(port, "POST", "/api/process" + at_a, R"({"number": 1})").status, 422);
        EXPECT_EQ(http(port, "POST", "/api/controls" + at_a, R"({"bypass_all": 1})").status, 422);
        const Reply edited = http(port, "POST", "/api/controls" + at_a, R"({"output_level_pct": 40})");
        ASSERT_EQ(edited.status, 200);
        EXPECT_EQ(edited.body["controls"]["output_level_pct"], 40);
        EXPECT_TRUE(edited.body["process"]["modified"]);
        EXPECT_EQ(edited.body["host_ports"]["process"], 0);
        // Save: into the settings folder, the edit stays on air, no longer modified.
        const Reply saved = http(port, "POST", "/api/save" + at_a, R"({"number": 7, "name": "PAGE"})");
        EXPECT_EQ(saved.status, 200);
        EXPECT_EQ(saved.body["process"]["modified"], false);
        EXPECT_EQ(saved.body["controls"]["output_level_pct"], 40);
        ProcessParams stored;
        EXPECT_TRUE(read_process_file((config.folder() / "qv$7.dat").c_str(), stored));
        EXPECT_EQ(stored.global.output_level_pct, 40);

        // Programme, then two seconds of silence.
        const int frames = 44100 * 4;
        Planar in{std::vector<float>(frames), std::vector<float>(frames)};
        for (int i = 0; i < frames / 2; ++i)
            in.l[i] = in.r[i] = static_cast<float>(0.5 * std::sin(2.0 * std::numbers::pi * 220.0 * i / 44100.0));
        Planar out[4] = {in, in, in, in};
        Instance* order[4] = {&a, &b, &c, &d};
        // Taking the edit and telling the page allocate nothing either.
        const long allocations = g_allocations.load();
        g_armed = true;
        for (int first = 0; first < frames; first += 1024)
            for (int k = 0; k < 4; ++k) order[k]->run(out[k].l, out[k].r, first, std::min(1024, frames - first));
        g_armed = false;
        EXPECT_EQ(g_allocations.load(), allocations);
        EXPECT_EQ(out[1].l, out[2].l);
        EXPECT_EQ(out[1].r, out[2].r);
        double peak_a = 0.0, peak_c = 0.0;
        for (int i = 0; i < frames / 2; ++i) {
            peak_a = std::max(peak_a, std::fabs(static_cast<double>(out[0].l[i])));
            peak_c = std::max(peak_c, std::fabs(static_cast<double>(out[2].l[i])));
        }
        EXPECT_LT(peak_a, 0.8 * peak_c);
        EXPECT_NEAR(a.control[kSilenceS], 2.0, 0.05);
        EXPECT_NEAR(d.control[kSilenceS], 44100.0 * 2 / 48000, 0.05);
        // The loudness measured on the chain's output, resampled or not (run
        // faster than real time, the tap drops what its 1.5 s cannot hold).
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        for (const std::string& id : {ids[0], ids[3]})
            EXPECT_GT(http(port, "GET", "/api/loudness?instance=" + id).body["frames"], 44100 / 2) << id;
        EXPECT_EQ(http(port, "GET", "/api/state?instance=" + ids[2]).body["process"]["modified"], false);

        // A reload of the host puts the stored process back on air.
        a.control[kReload] = 1.0f;
        a.run(out[0].l, out[0].r, 0, 64);
        const Reply reloaded = http(port, "GET", "/api/state" + at_a);
        EXPECT_EQ(reloaded.body["process"]["modified"], false);
        EXPECT_NE(reloaded.body["controls"]["output_level_pct"], 40);
        // An id is never given again.
        { Instance gone(*ladspa, 44100); }
        Instance e(*ladspa, 44100);
        const Reply now = http(port, "GET", "/api/instances");
        ASSERT_EQ(now.body["instances"].size(), 5u);
        EXPECT_EQ(now.body["instances"][4]["id"], "6");
        EXPECT_GT(thread_count(), threads_before);
    }
    EXPECT_EQ(http(port, "GET", "/api/instances").status, 0);
    EXPECT_EQ(thread_count(), threads_before);

    // The port taken by another server (which, like the library's default,
    // allows its reuse): said once per host process, and the instances play
    // on without a panel.
    const int taken = socket(AF_INET, SOCK_STREAM, 0);
    const int yes = 1;
    setsockopt(taken, SOL_SOCKET, SO_REUSEPORT, &yes, sizeof yes);
    setsockopt(taken, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);  // past the connections in TIME_WAIT
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    ASSERT_EQ(bind(taken, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(listen(taken, 4), 0);
    {
        UridMap urid;
        LogCapture log;
        const LV2_Feature* features[] = {&urid.feature, &log.feature, nullptr};
        const auto lv2 = open_lv2();
        Instance x(*lv2, 44100, features), y(*lv2, 44100, features);
        x.activate();
        EXPECT_EQ(count_of(log.said(), "already in use"), 1) << log.said();
        Planar p{std::vector<float>(512, 0.25f), std::vector<float>(512, 0.25f)};
        x.run(p.l, p.r, 0, 512);
        EXPECT_EQ(x.control[kStatus], 0.0f);
    }
    close(taken);

    // Off loopback, a token is required: without one no panel, with one
    // (created for the host when missing) every request must carry it.
    setenv("QUORVANE_CONTROL", ("0.0.0.0:" + std::to_string(port)).c_str(), 1);
    {
        UridMap urid;
        LogCapture log;
        const LV2_Feature* features[] = {&urid.feature, &log.feature, nullptr};
        const auto lv2 = open_lv2();
        {
            Instance x(*lv2, 44100, features);
            EXPECT_EQ(count_of(log.said(), "needs QUORVANE_CONTROL_TOKEN"), 1) << log.said();
            EXPECT_EQ(http(port, "GET", "/api/instances").status, 0);
        }
        const std::string token_file = config.path("token");
        setenv("QUORVANE_CONTROL_TOKEN", token_file.c_str(), 1);
        Instance x(*lv2, 44100, features);
        std::ifstream in(token_file);
        std::string token;
        in >> token;
        EXPECT_EQ(token.size(), 64u);
        EXPECT_EQ(fs::status(token_file).permissions() & (fs::perms::group_all | fs::perms::others_all),
                  fs::perms::none);
        EXPECT_EQ(http(port, "GET", "/api/instances").status, 401);
        EXPECT_EQ(http(port, "GET", "/api/instances", "", token).status, 200);
    }
    unsetenv("QUORVANE_CONTROL_TOKEN");
    unsetenv("QUORVANE_CONTROL");
}

ProcessParams with_lookahead(int ms) {
    ProcessParams p = default_process();
    p.global.lookahead_ms = ms;
    return p;
}

// A host of our own on lilv (lv2apply cannot move a control while it runs),
// the settings folder followed through inotify and by re-scan: the status
// port for a stored, a missing and an invalid number; a missing process
// stored while selected goes on air by itself, an edit of the process on air
// at a reload edge, an invalid one made valid while selected by itself.
// The latency port tells which process is on air.
TEST(Plugins, LilvHostFollowsTheSettingsFolder) {
    UridMap urid;
    LilvWorld* world = lilv_world_new();
    LilvNode* bundle = lilv_new_file_uri(world, nullptr, (env("QUORVANE_LV2_BUNDLE") + "/").c_str());
    lilv_world_load_bundle(world, bundle);
    LilvNode* uri = lilv_new_uri(world, kLv2Uri);
    const LilvPlugin* plugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world), uri);
    ASSERT_NE(plugin, nullptr);
    const auto latency_of = [](const ProcessParams& p) { return processor_latency_frames(*make_processor(p)); };
    const ProcessParams a = with_lookahead(6), b = with_lookahead(9);
    Planar p = to_float(make_tones(512, 44100));
    for (const bool inotify : {true, false}) {
        SCOPED_TRACE(inotify ? "inotify" : "re-scan");
        if (inotify)
            unsetenv("QUORVANE_NO_INOTIFY");
        else
            setenv("QUORVANE_NO_INOTIFY", "1", 1);
        ConfigDir config;
        config.store(5, other_process());
        std::ofstream(config.folder() / "qv$8.dat") << "not a process";
        LogCapture log;
        const LV2_Feature* features[] = {&urid.feature, &log.feature, nullptr};
        LilvInstance* inst = lilv_plugin_instantiate(plugin, 44100, features);
        ASSERT_NE(inst, nullptr);
        float control[kPortCount] = {};
        control[kProcess] = 5;
        for (int i = kProcess; i < kPortCount; ++i) lilv_instance_connect_port(inst, i, &control[i]);
        lilv_instance_connect_port(inst, kInLeft, p.l.data());
        lilv_instance_connect_port(inst, kInRight, p.r.data());
        lilv_instance_connect_port(inst, kOutLeft, p.l.data());
        lilv_instance_connect_port(inst, kOutRight, p.r.data());
        lilv_instance_activate(inst);
        const auto block = [&] { lilv_instance_run(inst, 512); };
        // Runs blocks, every 5 ms, until done() or 3 s; the seconds it took.
        const auto until = [&](const std::function<bool()>& done) {
            const auto start = std::chrono::steady_clock::now();
            while (!done() && std::chrono::steady_clock::now() - start < std::chrono::seconds(3)) {
                block();
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        };
        block();
        EXPECT_EQ(control[kStatus], kOnAir);
        EXPECT_EQ(control[kLatency], 266);
        for (const auto& [number, status] : {std::pair{7, kMissing}, {8, kInvalid}, {7, kMissing}}) {
            control[kProcess] = static_cast<float>(number);
            block();
            EXPECT_EQ(control[kStatus], status) << number;
            EXPECT_EQ(control[kLatency], 266) << number;  // 5 stays on air
        }
        // The missing process, stored while selected, goes on air by itself.
        config.store(7, a);
        const double appear = until([&] { return control[kLatency] == latency_of(a); });
        EXPECT_LT(appear, 2.0);
        EXPECT_EQ(control[kStatus], kOnAir);
        // An edit of the process on air waits for a reload edge.
        config.store(7, b);
        until([] { return false; });
        EXPECT_EQ(control[kLatency], latency_of(a));
        control[kReload] = 1;
        block();
        EXPECT_EQ(control[kLatency], latency_of(b));
        // From a rename to on air, reload edges coming every other block.
        control[kReload] = 0;
        block();
        config.store(7, a);
        const double reload = until([&] {
            control[kReload] = control[kReload] == 0 ? 1 : 0;
            return control[kLatency] == latency_of(a);
        });
        EXPECT_LT(reload, 2.0);
        // The invalid file, made valid while selected again, goes on air.
        const ProcessParams c = with_lookahead(4);
        control[kProcess] = 8;
        block();
        EXPECT_EQ(control[kStatus], kInvalid);
        config.store(8, c);
        const double fixed = until([&] { return control[kLatency] == latency_of(c); });
        EXPECT_LT(fixed, 2.0);
        EXPECT_EQ(control[kStatus], kOnAir);
        std::printf(
            "%s: a missing process stored while selected on air after %.3f s; an edit, with reload edges, "
            "after %.3f s\n",
            inotify ? "inotify" : "re-scan", appear, reload);
        lilv_instance_deactivate(inst);
        lilv_instance_free(inst);
        const std::string said = log.said();
        EXPECT_GE(count_of(said, "qv$7.dat is missing"), 1) << said;
        EXPECT_EQ(count_of(said, "qv$8.dat is not a valid process"), 2) << said;
        EXPECT_EQ(log.from_audio, 0) << said;
    }
    unsetenv("QUORVANE_NO_INOTIFY");
    lilv_node_free(uri);
    lilv_node_free(bundle);
    lilv_world_free(world);
}

// ---------------------------------------------------------------------------
// Real hosts. The build tree's plug-ins are found through LADSPA_PATH and
// LV2_PATH (Liquidsoap: LIQ_LADSPA_DIRS); the settings folder is empty, so
// every host plays the default process unless the test stores another.

struct Wav {
    int rate = 0;
    int channels = 0;
    int bits = 0;
    std::vector<std::int16_t> samples;
};

void write_wav(const std::string& path, const std::vector<std::int16_t>& pcm, int rate) {
    std::ofstream f(path, std::ios::binary);
    auto u32 = [&](std::uint32_t v) { f.write(reinterpret_cast<const char*>(&v), 4); };
    auto u16 = [&](std::uint16_t v) { f.write(reinterpret_cast<const char*>(&v), 2); };
    const std::uint32_t bytes = static_cast<std::uint32_t>(pcm.size() * 2);
    f.write("RIFF", 4);
    u32(36 + bytes);
    f.write("WAVEfmt ", 8);
    u32(16);
    u16(1);
    u16(2);
    u32(static_cast<std::uint32_t>(rate));
    u32(static_cast<std::uint32_t>(rate) * 4);
    u16(4);
    u16(16);
    f.write("data", 4);
    u32(bytes);
    f.write(reinterpret_cast<const char*>(pcm.data()), bytes);
}

// Reads a 16-bit WAV file; a data length past the end of the file (a
// streaming header) counts as "to the end".
Wav read_wav(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::string b((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    Wav w;
    auto u32 = [&](std::size_t at) {
        std::uint32_t v;
        std::memcpy(&v, b.data() + at, 4);
        return v;
    };
    auto u16 = [&](std::size_t at) {
        std::uint16_t v;
        std::memcpy(&v, b.data() + at, 2);
        return v;
    };
    for (std::size_t at = 12; at + 8 <= b.size();) {
        const std::string id = b.substr(at, 4);
        std::size_t size = u32(at + 4);
        if (id == "fmt ") {
            w.channels = u16(at + 10);
            w.rate = static_cast<int>(u32(at + 12));
            w.bits = u16(at + 22);
        } else if (id == "data") {
            size = std::min(size, b.size() - at - 8) / 4 * 4;
            w.samples.resize(size / 2);
            std::memcpy(w.samples.data(), b.data() + at + 8, size);
            break;
        }
        at += 8 + size + (size & 1);
    }
    return w;
}

int shell(const std::string& cmd) {
    const int rc = std::system(cmd.c_str());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

std::string capture(const std::string& cmd) {
    std::string out;
    if (FILE* p = popen(cmd.c_str(), "r")) {
        char buf[4096];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
        pclose(p);
    }
    return out;
}

class Hosts : public testing::Test {
protected:
    void SetUp() override {
        setenv("LADSPA_PATH", env("QUORVANE_LADSPA_DIR").c_str(), 1);
        setenv("LV2_PATH", env("QUORVANE_LV2_DIR").c_str(), 1);
        setenv("LIQ_LADSPA_DIRS", env("QUORVANE_LADSPA_DIR").c_str(), 1);
    }
    std::string path(const std::string& name) const { return config_.path(name); }
    ConfigDir config_;
};

TEST_F(Hosts, DescribeThePlugins) {
    const std::string a = capture("analyseplugin quorvane.so 2>&1");
    EXPECT_NE(a.find("Plugin Label: \"quorvane\""), std::string::npos) << a;
    EXPECT_NE(a.find("Plugin Unique ID: " + std::to_string(kLadspaUniqueId)), std::string::npos) << a;
    EXPECT_NE(a.find("Environment: Normal or Hard Real-Time"), std::string::npos) << a;
    const std::string l = capture(std::string("lv2info ") + kLv2Uri + " 2>&1");
    EXPECT_NE(l.find("Has latency:       yes, reported by port " + std::to_string(kLatency)), std::string::npos) << l;
    EXPECT_NE(l.find("DEFAULT"), std::string::npos) << l;
    EXPECT_EQ(l.find("Required Features"), std::string::npos) << l;
    // Both hosts see the shared port table, in order.
    std::size_t at_a = 0, at_l = 0;
    for (int i = 0; i < kPortCount; ++i) {
        const PortInfo& p = kPorts[i];
        const bool control = p.kind == PortKind::kControlIn || p.kind == PortKind::kControlOut;
        at_a = a.find("\"" + std::string(control ? p.symbol : p.name) + "\"", at_a);
        EXPECT_NE(at_a, std::string::npos) << p.symbol;
        at_l = l.find("Port " + std::to_string(i) + ":", at_l);
        const std::size_t sym = l.find("Symbol:      " + std::string(p.symbol) + "\n", at_l);
        EXPECT_NE(at_l, std::string::npos);
        EXPECT_LT(sym, l.find("Port " + std::to_string(i + 1) + ":", at_l)) << p.symbol;
        if (p.kind == PortKind::kControlIn) {
            char range[128];
            std::snprintf(range, sizeof range, "Minimum:     %f\n\t\tMaximum:     %f\n\t\tDefault:     %f", p.min,
                          p.max, p.def);
            EXPECT_NE(l.find(range, at_l), std::string::npos) << p.symbol;
        }
    }
    for (const char* f : {"manifest.ttl", "quorvane.ttl", "presets.ttl"})
        EXPECT_EQ(shell("serdi -i turtle " + env("QUORVANE_LV2_BUNDLE") + "/" + f + " >/dev/null"), 0) << f;
}

TEST_F(Hosts, GiveTheModulesSamples) {
    config_.store(5, other_process());
    const std::vector<std::int16_t> pcm = make_clip(2 * 44100, 44100);
    write_wav(path("clip.wav"), pcm, 44100);
    const auto ref = reference(default_process(), pcm);
    const auto ref5 = reference(other_process(), pcm);
    const std::string in = path("clip.wav");
    const std::string uri = std::string(kLv2Uri);
    std::string lv2_uri;  // ffmpeg's option parser wants the colons escaped
    for (char ch : uri) lv2_uri += ch == ':' ? std::string("\\\\:") : std::string(1, ch);
    struct Run {
        const char* name;
        std::string cmd;
        const std::vector<std::int16_t>* ref;
        int tolerance;
    };
    const std::string ff = "ffmpeg -nostdin -loglevel error -y -i " + in + " ";
    const Run runs[] = {
        {"sox", "sox -D " + in + " " + path("sox.wav") + " ladspa quorvane quorvane", &ref, 0},
        {"sox process 5", "sox -D " + in + " " + path("sox5.wav") + " ladspa quorvane quorvane 5", &ref5, 0},
        {"ffmpeg ladspa", ff + "-af ladspa=file=quorvane:plugin=quorvane -c:a pcm_s16le " + path("ffl.wav"), &ref, 0},
        {"ffmpeg lv2", ff + "-af 'lv2=p=" + lv2_uri + "' -c:a pcm_s16le " + path("ffv.wav"), &ref, 0},
        {"ffmpeg lv2 process 5", ff + "-af 'lv2=p=" + lv2_uri + ":c=process=5' -c:a pcm_s16le " + path("ffv5.wav"),
         &ref5, 0},
        // libsndfile writes floats times 32767: one step below on large values.
        {"applyplugin",
         "applyplugin " + in + " " + path("ap.wav") + " quorvane.so quorvane 0 0 0 0 0 0 0 -1 >/dev/null", &ref, 1},
        {"lv2apply", "lv2apply -i " + in + " -o " + path("la.wav") + " " + uri, &ref, 1},
    };
    for (const Run& r : runs) {
        SCOPED_TRACE(r.name);
        ASSERT_EQ(shell(r.cmd + " 2>" + path("stderr.txt")), 0) << r.cmd;
        std::string file;
        std::istringstream words(r.cmd);
        for (std::string w; words >> w;)
            if (w.size() > 4 && w.ends_with(".wav") && w != in) file = w;
        const Wav w = read_wav(file);
        EXPECT_EQ(w.rate, 44100);
        EXPECT_EQ(w.bits, 16);
        ASSERT_EQ(w.samples.size(), r.ref->size());
        int worst = 0;
        for (std::size_t i = 0; i < w.samples.size(); ++i)
            worst = std::max(worst, std::abs(w.samples[i] - (*r.ref)[i]));
        EXPECT_LE(worst, r.tolerance);
    }
}

TEST_F(Hosts, Lv2applyAtFortyEightKilohertz) {
    const int frames = 48000;
    const std::vector<std::int16_t> pcm = make_tones(frames, 48000);
    write_wav(path("clip48.wav"), pcm, 48000);
    // The latency the plug-in reports at 48 kHz under Bypass All.
    auto core = core_create(48000, LogSink{});
    float control[kPortCount] = {};
    for (int p = kProcess; p < kPortCount; ++p) core->port[p] = &control[p];
    control[kBypass] = 1;
    ASSERT_TRUE(core_activate(*core));
    const int latency = static_cast<int>(control[kLatency]);

    for (int bypass : {1, 0}) {
        SCOPED_TRACE(bypass);
        const std::string out = path("out48.wav");
        ASSERT_EQ(shell("lv2apply -i " + path("clip48.wav") + " -o " + out + " -c bypass " + std::to_string(bypass) +
                        " " + kLv2Uri + " 2>/dev/null"),
                  0);
        const Wav w = read_wav(out);
        EXPECT_EQ(w.rate, 48000);
        ASSERT_EQ(w.samples.size(), pcm.size());
        if (bypass == 1) {
            Planar a = to_float(pcm), b = to_float(w.samples);
            const auto [lag, error] = best_lag(a.l, b.l, latency);
            EXPECT_EQ(lag, latency);
            EXPECT_LT(error, 4.0 / 32768);
        } else {
            EXPECT_GT(*std::max_element(w.samples.begin(), w.samples.end()), 8000);
        }
    }
}

// Liquidsoap plays three tracks through one plug-in instance into a WAV file;
// `queue` is the Liquidsoap code that defines `s`, a request source fed with
// the tracks named $0, $1 and $2 and prefetching all three. The file must hold
// the continuous processing of the three tracks, within Liquidsoap's one-step
// float conversion.
void liquidsoap_plays(const ConfigDir& dir, std::string queue) {
    // Each track a whole number of Liquidsoap's 40 ms frames (it drops the
    // partial last frame of a track).
    const int track = 63 * 1764;
    std::vector<std::int16_t> all;
    std::ofstream list(dir.path("list.m3u"));
    for (int t = 0; t < 3; ++t) {
        const std::vector<std::int16_t> pcm = make_clip(track, 44100, 100 + t);
        const std::string name = dir.path("track" + std::to_string(t) + ".wav");
        write_wav(name, pcm, 44100);
        list << name << "\n";
        all.insert(all.end(), pcm.begin(), pcm.end());
        const std::string tag = "$" + std::to_string(t);
        for (std::size_t at; (at = queue.find(tag)) != std::string::npos;) queue.replace(at, tag.size(), name);
    }
    list.close();
    // The unsynchronised clock plays a track in milliseconds, and a request
    // source resolves its next track on another thread: if that has not
    // finished when a track ends, the source runs dry, the output stops and
    // on_stop ends the run with the list cut short. So the switch opens only
    // once all three tracks are resolved, and until then the idle clock sleeps
    // so that the resolving threads get the processor.
    std::ofstream script(dir.path("play.liq"));
    script << "settings.init.allow_root.set(true)\n"
              "settings.frame.audio.samplerate.set(44100)\n"
              "settings.frame.audio.channels.set(2)\n"
           << queue
           << "\nopened = ref(false)\n"
              "def all_queued() =\n"
              "  if not !opened then opened := list.length(s.queue()) == 3 end\n"
              "  if not !opened then sleep(0.01) end\n"
              "  !opened\n"
              "end\n"
              "p = ladspa.quorvane(switch([(all_queued, s)]))\n"
              "clock.assign_new(sync=\"none\", [p])\n"
              "output.file(%wav(stereo=true, samplesize=16), fallible=true, on_stop=shutdown, \""
           << dir.path("liq.wav") << "\", p)\n";
    script.close();
    ASSERT_EQ(shell("cd " + dir.path("") + " && timeout -k 5 60 liquidsoap " + dir.path("play.liq") + " >" +
                    dir.path("liq.log") + " 2>&1"),
              0)
        << capture("tail -20 " + dir.path("liq.log"));
    const Wav w = read_wav(dir.path("liq.wav"));
    EXPECT_EQ(w.rate, 44100);
    ASSERT_EQ(w.samples.size(), all.size()) << capture("tail -20 " + dir.path("liq.log"));
    const auto ref = reference(default_process(), all);
    int worst = 0;
    for (std::size_t i = 0; i < ref.size(); ++i) worst = std::max(worst, std::abs(w.samples[i] - ref[i]));
    EXPECT_LE(worst, 1);
}

TEST_F(Hosts, LiquidsoapPlaysAPlaylistThroughOneInstance) {
    liquidsoap_plays(config_, "s = playlist(mode=\"normal\", reload_mode=\"never\", loop=false, prefetch=3, \"" +
                                  path("list.m3u") + "\")");
}

// One Liquidsoap script, two instances over one source, each into a file of
// its own: both are listed on the host's one panel, and an output level set
// through the API for one of them is heard in its file alone (the two files
// are the same before it).
TEST_F(Hosts, LiquidsoapInstancesShareOnePanel) {
    const int port = free_port();
    std::ofstream script(path("two.liq"));
    script << "settings.init.allow_root.set(true)\n"
              "settings.frame.audio.samplerate.set(44100)\n"
              "settings.frame.audio.channels.set(2)\n"
              "s = sine(330.)\n"
              "output.file(%wav(stereo=true, samplesize=16), \""
           << path("a.wav") << "\", ladspa.quorvane(s))\noutput.file(%wav(stereo=true, samplesize=16), \""
           << path("b.wav") << "\", ladspa.quorvane(s))\nthread.run(delay=8., shutdown)\n";
    script.close();
    // Liquidsoap takes seconds to start on a loaded machine, then plays 8 s.
    std::thread host([&] {
        shell("cd " + path("") + " && QUORVANE_CONTROL=127.0.0.1:" + std::to_string(port) +
              " timeout -k 5 40 liquidsoap " + path("two.liq") + " >" + path("two.log") + " 2>&1");
    });
    struct Join {
        std::thread& t;
        ~Join() {
            if (t.joinable()) t.join();
        }
    } join{host};
    Reply list;
    for (int i = 0; i < 600 && list.body["instances"].size() < 2; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        list = http(port, "GET", "/api/instances");
    }
    ASSERT_EQ(list.body["instances"].size(), 2u) << capture("tail " + path("two.log"));
    std::this_thread::sleep_for(std::chrono::seconds(3));
    const Reply edited = http(port, "POST", "/api/controls?instance=1", R"({"output_level_pct": 40})");
    EXPECT_EQ(edited.status, 200);
    EXPECT_EQ(http(port, "GET", "/api/state?instance=2").body["process"]["modified"], false);
    host.join();
    const Wav a = read_wav(path("a.wav")), b = read_wav(path("b.wav"));
    const std::size_t n = std::min(a.samples.size(), b.samples.size());
    ASSERT_GT(n, 2u * 44100 * 5) << capture("tail " + path("two.log"));
    // The first 2 s alike; the last second of one of them quieter.
    EXPECT_TRUE(std::equal(a.samples.begin(), a.samples.begin() + 2 * 44100 * 2, b.samples.begin()));
    int peak_a = 0, peak_b = 0;
    for (std::size_t i = n - 2 * 44100; i < n; ++i) {
        peak_a = std::max(peak_a, std::abs(static_cast<int>(a.samples[i])));
        peak_b = std::max(peak_b, std::abs(static_cast<int>(b.samples[i])));
    }
    EXPECT_LT(std::min(peak_a, peak_b), 0.6 * std::max(peak_a, peak_b)) << peak_a << " " << peak_b;
}

// Every track takes 0.3 s to come, the first included: the output waits for
// them instead of playing the first and stopping where the second is missing.
TEST_F(Hosts, LiquidsoapWaitsForLateTracks) {
    liquidsoap_plays(config_,
                     "tracks = ref([\"$0\", \"$1\", \"$2\"])\n"
                     "def next() =\n"
                     "  if !tracks == [] then null() else\n"
                     "    sleep(0.3)\n"
                     "    r = request.create(list.hd(default=\"\", !tracks))\n"
                     "    tracks := list.tl(!tracks)\n"
                     "    r\n"
                     "  end\n"
                     "end\n"
                     "s = request.dynamic(prefetch=3, next)");
}

// --- a station on loopback: Liquidsoap -> Icecast -> ffmpeg ---

// Sends text to 127.0.0.1:port and returns what comes back until `until`
// appears, the peer closes or 2 s pass; empty when no connection.
std::string exchange(int port, const std::string& text, const std::string& until) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string got;
    timeval two{2, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &two, sizeof two);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        send(fd, text.data(), text.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(text.size())) {
        char buf[4096];
        for (ssize_t n; got.find(until) == std::string::npos && (n = recv(fd, buf, sizeof buf, 0)) > 0;)
            got.append(buf, static_cast<std::size_t>(n));
    }
    close(fd);
    return got;
}

// A program run through sh in the background, its output in log; stopped
// (SIGTERM, then SIGKILL after 5 s) when the object goes.
class Child {
public:
    Child(const std::string& cmd, const std::string& log) {
        pid_ = fork();
        if (pid_ == 0) {
            execl("/bin/sh", "sh", "-c", ("exec " + cmd + " >" + log + " 2>&1 </dev/null").c_str(), nullptr);
            _exit(127);
        }
    }
    ~Child() { stop(); }
    // Waits for the program to end by itself, up to seconds; its exit status, or -1.
    int wait_for(double seconds) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (pid_ > 0 && std::chrono::steady_clock::now() < until) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return -1;
    }
    void stop() {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        if (wait_for(5) == -1 && pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
};

bool eventually(const std::function<bool()>& done, double seconds) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return true;
}

// Icecast's configuration: 127.0.0.1:port, no burst (a listener hears the
// present), and, run as root as it refuses to be, dropping to nobody.
void write_icecast_config(const ConfigDir& dir, int port) {
    // Its logs in a folder nobody can write, below one nobody can pass.
    fs::permissions(dir.path(""), fs::perms::others_exec, fs::perm_options::add);
    fs::create_directories(dir.path("icelog"));
    fs::permissions(dir.path("icelog"), fs::perms::all);
    std::ofstream f(dir.path("icecast.xml"));
    f << "<icecast><limits><sources>2</sources><burst-size>0</burst-size></limits>\n"
         "<authentication><source-password>qv-source</source-password><admin-user>admin</admin-user>"
         "<admin-password>qv-admin</admin-password></authentication>\n"
         "<hostname>127.0.0.1</hostname><listen-socket><port>"
      << port
      << "</port><bind-address>127.0.0.1</bind-address></listen-socket><fileserve>0</fileserve>\n"
         "<paths><basedir>"
      << dir.path("") << "</basedir><logdir>" << dir.path("icelog")
      << "</logdir><webroot>/usr/share/icecast2/web</webroot><adminroot>/usr/share/icecast2/admin</adminroot></paths>\n"
         "<logging><accesslog>access.log</accesslog><errorlog>error.log</errorlog><loglevel>2</loglevel></logging>\n"
         "<security><chroot>0</chroot>"
      << (geteuid() == 0 ? "<changeowner><user>nobody</user><group>nogroup</group></changeowner>" : "")
      << "</security></icecast>\n";
}

// Per 100 ms window of a stereo recording, the side signal's level against
// the mid's (dB; -200 for a silent side).
std::vector<double> side_levels(const Wav& w) {
    std::vector<double> out;
    const std::size_t window = static_cast<std::size_t>(w.rate) / 10;
    for (std::size_t at = 0; 2 * (at + window) <= w.samples.size(); at += window) {
        double mid = 0, side = 0;
        for (std::size_t i = at; i < at + window; ++i) {
            const double l = w.samples[2 * i], r = w.samples[2 * i + 1];
            mid += (l + r) * (l + r);
            side += (l - r) * (l - r);
        }
        out.push_back(side == 0 ? -200 : 10 * std::log10(side / std::max(mid, 1.0)));
    }
    return out;
}

double true_peak_dbtp(const Wav& w) {
    ebur128_state* st = ebur128_init(2, static_cast<unsigned long>(w.rate), EBUR128_MODE_TRUE_PEAK);
    ebur128_add_frames_short(st, w.samples.data(), w.samples.size() / 2);
    double peak = 0;
    for (unsigned ch = 0; ch < 2; ++ch) {
        double p = 0;
        ebur128_true_peak(st, ch, &p);
        peak = std::max(peak, p);
    }
    ebur128_destroy(&st);
    return 20 * std::log10(peak);
}

// A station on loopback, bounded to a minute: Liquidsoap plays a three-track
// playlist through the LADSPA plug-in (ceiling at -1 dBTP, the process port
// on a variable of its telnet server) into an Ogg/FLAC mount of Icecast,
// which ffmpeg records. While it runs, a process (mono) is stored and then
// selected over telnet, and later a missing number: the recording turns
// mono and stays mono, Liquidsoap's log tells of the missing file once, and
// its true peak stays at the ceiling.
TEST_F(Hosts, StationFollowsTheSettingsFolderOnAir) {
    const int ice = free_port(), telnet = free_port();
    ASSERT_TRUE(ice > 0 && telnet > 0 && ice != telnet);
    write_icecast_config(config_, ice);
    std::ofstream list(path("list.m3u"));
    for (int t = 0; t < 3; ++t) {
        const std::string name = path("track" + std::to_string(t) + ".wav");
        write_wav(name, make_clip(8 * 44100, 44100, 200 + t), 44100);
        list << name << "\n";
    }
    list.close();
    std::ofstream(path("station.liq")) << "settings.init.allow_root.set(true)\n"
                                          "settings.frame.audio.samplerate.set(44100)\n"
                                          "settings.frame.audio.channels.set(2)\n"
                                          "settings.server.telnet.set(true)\n"
                                          "settings.server.telnet.bind_addr.set(\"127.0.0.1\")\n"
                                          "settings.server.telnet.port.set("
                                       << telnet
                                       << ")\n"
                                          "number = interactive.int(\"process\", 0)\n"
                                          "s = playlist(mode=\"normal\", reload_mode=\"never\", \""
                                       << path("list.m3u")
                                       << "\")\n"
                                          "s = ladspa.quorvane(process=number, ceiling=true, ceiling_dbtp=-1., s)\n"
                                          "output.icecast(%ogg(%flac), host=\"127.0.0.1\", port="
                                       << ice
                                       << ", password=\"qv-source\", mount=\"/station.ogg\", fallible=true, s)\n";

    Child icecast("icecast2 -c " + path("icecast.xml"), path("icecast.log"));
    ASSERT_TRUE(eventually([&] { return !exchange(ice, "GET /status-json.xsl HTTP/1.0\r\n\r\n", "}}").empty(); }, 10))
        << capture("cat " + path("icecast.log"));
    Child station("timeout -k 5 60 liquidsoap " + path("station.liq"), path("station.log"));
    ASSERT_TRUE(eventually(
        [&] {
            return exchange(ice, "GET /status-json.xsl HTTP/1.0\r\n\r\n", "}}").find("/station.ogg") !=
                   std::string::npos;
        },
        15))
        << capture("tail -20 " + path("station.log"));
    const double seconds = 20;
    Child recorder("ffmpeg -nostdin -loglevel error -y -i http://127.0.0.1:" + std::to_string(ice) +
                       "/station.ogg -t 20 -c:a pcm_s16le " + path("recording.wav"),
                   path("ffmpeg.log"));
    // At about 3 s a new process is stored, at 5.5 s selected, at 10.5 s a missing number.
    std::this_thread::sleep_for(std::chrono::seconds(3));
    ProcessParams mono = default_process();
    mono.global.option_flags |= option::mono;
    config_.store(50, mono);
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    EXPECT_NE(exchange(telnet, "var.set process=50\r\n", "END").find("set"), std::string::npos);
    std::this_thread::sleep_for(std::chrono::seconds(5));
    EXPECT_NE(exchange(telnet, "var.set process=77\r\n", "END").find("set"), std::string::npos);
    EXPECT_EQ(recorder.wait_for(seconds + 15), 0) << capture("cat " + path("ffmpeg.log"));
    exchange(telnet, "shutdown\r\n", "END");
    station.wait_for(10);
    station.stop();
    icecast.stop();

    const Wav w = read_wav(path("recording.wav"));
    ASSERT_EQ(w.rate, 44100);
    ASSERT_GE(w.samples.size(), 2u * 44100 * 19);
    const std::vector<double> side = side_levels(w);
    // Stereo for the first 4 s, mono (the side 60 dB and more below its level
    // before) from 11 s on: process 50 heard, and kept when 77 is missing.
    double quietest_stereo = 0, mono_side = -200;
    for (std::size_t i = 0; i < 40; ++i) quietest_stereo = std::min(quietest_stereo, side[i]);
    for (std::size_t i = 110; i < side.size(); ++i) mono_side = std::max(mono_side, side[i]);
    EXPECT_GT(quietest_stereo, -30);
    EXPECT_LT(mono_side, quietest_stereo - 60);
    const std::string said = capture("cat " + path("station.log"));
    EXPECT_EQ(count_of(said, "qv$77.dat is missing"), 1) << said;
    EXPECT_EQ(count_of(said, "qv$50.dat"), 0) << said;
    const double peak = true_peak_dbtp(w);
    std::printf("station: side signal %.1f dB below the mid before, %.1f dB after; recording's true peak %.2f dBTP\n",
                -quietest_stereo, -mono_side, peak);
    EXPECT_LE(peak, -1.0);
}

namespace lilv_host {

void set_port(const char* symbol, void* user, const void* value, std::uint32_t size, std::uint32_t) {
    auto* control = static_cast<float*>(user);
    for (int i = 0; i < kPortCount; ++i)
        if (std::strcmp(kPorts[i].symbol, symbol) == 0 && size == sizeof(float)) std::memcpy(&control[i], value, 4);
}

const void* get_port(const char* symbol, void* user, std::uint32_t* size, std::uint32_t* type) {
    auto* self = static_cast<std::pair<float*, LV2_URID>*>(user);
    for (int i = 0; i < kPortCount; ++i) {
        if (std::strcmp(kPorts[i].symbol, symbol) != 0) continue;
        *size = sizeof(float);
        *type = self->second;
        return &self->first[i];
    }
    return nullptr;
}

// One lilv instance, its control ports on `control`, run over all of p in 4096-frame calls.
void run(LilvInstance* inst, float* control, Planar& p) {
    for (int i = kProcess; i < kPortCount; ++i) lilv_instance_connect_port(inst, i, &control[i]);
    const int frames = static_cast<int>(p.l.size());
    for (int done = 0; done < frames; done += 4096) {
        lilv_instance_connect_port(inst, kInLeft, p.l.data() + done);
        lilv_instance_connect_port(inst, kInRight, p.r.data() + done);
        lilv_instance_connect_port(inst, kOutLeft, p.l.data() + done);
        lilv_instance_connect_port(inst, kOutRight, p.r.data() + done);
        lilv_instance_run(inst, static_cast<std::uint32_t>(std::min(4096, frames - done)));
    }
}

}  // namespace lilv_host

// lilv, the library of lv2apply, jalv and most LV2 hosts: each preset from
// the bundle and a saved session restore the whole process into a fresh
// instance whose settings folder holds something else.
TEST_F(Hosts, LilvRestoresPresetsAndSessions) {
    config_.store(0, other_process());
    UridMap urid;
    LilvWorld* world = lilv_world_new();
    lilv_world_load_all(world);
    LilvNode* uri = lilv_new_uri(world, kLv2Uri);
    LilvNode* preset_class = lilv_new_uri(world, LV2_PRESETS__Preset);
    const LilvPlugin* plugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world), uri);
    ASSERT_NE(plugin, nullptr);
    const int frames = 44100;
    const std::vector<std::int16_t> pcm = make_clip(frames, 44100);

    LilvNodes* presets = lilv_plugin_get_related(plugin, preset_class);
    int count = 0;
    LILV_FOREACH(nodes, i, presets) {
        const LilvNode* preset = lilv_nodes_get(presets, i);
        lilv_world_load_resource(world, preset);
        LilvState* state = lilv_state_new_from_world(world, &urid.map, preset);
        ASSERT_NE(state, nullptr);
        SCOPED_TRACE(lilv_state_get_label(state));
        float control[kPortCount] = {};
        control[kProcess] = -1;
        LilvInstance* inst = lilv_plugin_instantiate(plugin, 44100, urid.list);
        ASSERT_NE(inst, nullptr);
        lilv_state_restore(state, inst, lilv_host::set_port, control, 0, urid.list);
        ProcessParams expected = default_process();
        if (control[kProcess] != 0) {
#ifdef QV_HAVE_FACTORY
            const FactoryProcess* f = find_factory_process(static_cast<int>(control[kProcess]));
            ASSERT_NE(f, nullptr);
            std::string error;
            ASSERT_TRUE(factory_params(*f, expected, error)) << error;
#else
            FAIL() << "a preset at process " << control[kProcess];
#endif
        }
        lilv_instance_activate(inst);
        Planar p = to_float(pcm);
        lilv_host::run(inst, control, p);
        EXPECT_EQ(mismatches(p, reference(expected, pcm)), 0);
        lilv_instance_deactivate(inst);
        lilv_instance_free(inst);
        lilv_state_free(state);
        ++count;
    }
    lilv_nodes_free(presets);
    EXPECT_GE(count, 1);

    // A session with process 5 on air, saved and restored after process 5's file is gone.
    config_.store(5, other_process());
    config_.store(0, default_process());
    std::string saved;
    {
        float control[kPortCount] = {};
        control[kProcess] = 5;
        LilvInstance* inst = lilv_plugin_instantiate(plugin, 44100, urid.list);
        ASSERT_NE(inst, nullptr);
        Planar p = to_float(pcm);
        lilv_instance_activate(inst);
        lilv_host::run(inst, control, p);
        std::pair<float*, LV2_URID> ports{control, urid.id(LV2_ATOM__Float)};
        LilvState* state = lilv_state_new_from_instance(plugin, inst, &urid.map, nullptr, nullptr, nullptr, nullptr,
                                                        lilv_host::get_port, &ports, 0, urid.list);
        ASSERT_NE(state, nullptr);
        char* text = lilv_state_to_string(world, &urid.map, &urid.unmap, state, "urn:quorvane:test:session", nullptr);
        saved = text;
        lilv_free(text);
        lilv_state_free(state);
        lilv_instance_deactivate(inst);
        lilv_instance_free(inst);
    }
    fs::remove(config_.folder() / "qv$5.dat");
    LilvState* state = lilv_state_new_from_string(world, &urid.map, saved.c_str());
    ASSERT_NE(state, nullptr) << saved;
    float control[kPortCount] = {};
    LilvInstance* inst = lilv_plugin_instantiate(plugin, 44100, urid.list);
    ASSERT_NE(inst, nullptr);
    lilv_state_restore(state, inst, lilv_host::set_port, control, 0, urid.list);
    EXPECT_EQ(control[kProcess], 5);
    lilv_instance_activate(inst);
    Planar p = to_float(pcm);
    lilv_host::run(inst, control, p);
    EXPECT_EQ(mismatches(p, reference(other_process(), pcm)), 0);
    lilv_instance_deactivate(inst);
    lilv_instance_free(inst);
    lilv_state_free(state);
    lilv_node_free(preset_class);
    lilv_node_free(uri);
    lilv_world_free(world);
}

}  // namespace
