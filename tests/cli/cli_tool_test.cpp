// Runs the built `quorvane` tool on generated files and checks what it
// writes against the module driven directly, libebur128, and the files it
// must leave alone.
#include <dlfcn.h>
#include <ebur128.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sndfile.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "host/dsp_records.h"
#include "tools/demo_programme.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

std::string tool() {
    const char* p = std::getenv("QUORVANE_CLI");
    return p ? p : "quorvane";
}

// A scratch folder with an empty settings folder "settings" in it.
struct TempDir {
    fs::path path;
    TempDir() {
        char pattern[] = "/tmp/quorvane-cli-test.XXXXXX";
        path = mkdtemp(pattern);
        fs::create_directory(path / "settings");
    }
    ~TempDir() { fs::remove_all(path); }
    std::string operator/(const std::string& name) const { return (path / name).string(); }
};

struct ToolRun {
    int status = -1;
    std::string err;
};

// Runs the tool with stdin/stdout redirected to files (empty: /dev/null) and
// extra NAME=VALUE environment entries. The module is found beside the
// tool, as a user's run finds it.
ToolRun run_tool(const std::vector<std::string>& args, const std::string& in = "", const std::string& out = "",
                 const std::vector<std::string>& extra_env = {}) {
    TempDir scratch;
    const std::string err_path = scratch / "stderr";
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, in.empty() ? "/dev/null" : in.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, out.empty() ? "/dev/null" : out.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&fa, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<std::string> argv_s = {tool()};
    argv_s.insert(argv_s.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : argv_s) argv.push_back(a.data());
    argv.push_back(nullptr);
    auto overridden = [&](const char* e) {
        for (const std::string& x : extra_env)
            if (std::strncmp(e, x.c_str(), x.find('=') + 1) == 0) return true;
        return false;
    };
    std::vector<std::string> env_s;
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "QUORVANE_MODULE=", 16) != 0 && std::strncmp(*e, "QUORVANE_HOST_DIR=", 18) != 0 &&
            !overridden(*e))
            env_s.push_back(*e);
    env_s.insert(env_s.end(), extra_env.begin(), extra_env.end());
    std::vector<char*> envp;
    for (std::string& e : env_s) envp.push_back(e.data());
    envp.push_back(nullptr);
    pid_t pid;
    ToolRun r;
    if (posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), envp.data()) == 0) {
        int st = 0;
        waitpid(pid, &st, 0);
        r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    }
    posix_spawn_file_actions_destroy(&fa);
    std::ifstream f(err_path);
    std::stringstream ss;
    ss << f.rdbuf();
    r.err = ss.str();
    return r;
}

struct Audio {
    SF_INFO info{};
    std::vector<std::int16_t> samples;
};

Audio read_audio(const std::string& path) {
    Audio a;
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &a.info);
    if (!f) return a;
    a.samples.resize(static_cast<std::size_t>(a.info.frames * a.info.channels));
    sf_readf_short(f, a.samples.data(), a.info.frames);
    sf_close(f);
    return a;
}

// A programme of a few seconds: a quiet then loud mix of a bass and a treble
// tone with noise, different in each channel, on the float scale.
double programme(long n, int ch, int rate) {
    const double t = static_cast<double>(n) / rate;
    const double level = t < 1.0 ? 0.02 : 0.6;
    std::uint32_t h = static_cast<std::uint32_t>(n * 2654435761u + ch * 40503u);
    h ^= h >> 13;
    h *= 0x5bd1e995u;
    h ^= h >> 15;
    const double noise = static_cast<double>(h) / 4294967296.0 - 0.5;
    return level * (0.5 * std::sin(2 * M_PI * 80 * t + ch) + 0.3 * std::sin(2 * M_PI * 5000 * t) + 0.2 * noise);
}

// Tags are SF_STR_* and their text; positions the SF_CHANNEL_MAP_* of each channel.
void write_audio(const std::string& path, int rate, int channels, int format, double seconds,
                 const std::vector<std::pair<int, std::string>>& tags = {}, std::vector<int> positions = {}) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr) << sf_strerror(nullptr);
    for (const auto& [type, text] : tags) sf_set_string(f, type, text.c_str());
    if (!positions.empty()) {
        ASSERT_EQ(sf_command(f, SFC_SET_CHANNEL_MAP_INFO, positions.data(), static_cast<int>(positions.size() * 4)),
                  SF_TRUE);
    }
    const long frames = static_cast<long>(seconds * rate);
    std::vector<double> buf(static_cast<std::size_t>(frames * channels));
    for (long n = 0; n < frames; ++n)
        for (int c = 0; c < channels; ++c) buf[static_cast<std::size_t>(n * channels + c)] = programme(n, c, rate);
    sf_writef_double(f, buf.data(), frames);
    sf_close(f);
}

std::string file_bytes(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

std::vector<std::string> dir_listing(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

double summary_figure(const std::string& err, const std::string& label, int column) {
    std::istringstream lines(err);
    std::string line;
    while (std::getline(lines, line)) {
        const std::size_t at = line.find(label);
        if (at == std::string::npos) continue;
        std::istringstream fields(line.substr(at + label.size()));
        double in = NAN, out = NAN;
        std::string unit;
        fields >> in >> unit >> out;
        return column == 0 ? in : out;
    }
    return NAN;
}

// The number that follows "key": in a one-line JSON object, after anchor.
double json_figure(const std::string& json, const std::string& anchor, const std::string& key) {
    const std::size_t from = json.find(anchor);
    const std::size_t at = from == std::string::npos ? from : json.find("\"" + key + "\":", from);
    if (at == std::string::npos) return NAN;
    return std::strtod(json.c_str() + at + key.size() + 3, nullptr);
}

// Feeds the frames of a 44.1 kHz 16-bit file, then tail_frames of silence,
// through the module in blocks of the given size, as a player would, with a
// fresh host directory.
std::vector<std::int16_t> module_output(const Audio& in, int block_frames, int tail_frames = 0) {
    const char* module_path = std::getenv("QUORVANE_TEST_MODULE");
    EXPECT_NE(module_path, nullptr);
    if (!module_path) return {};
    TempDir host_dir;
    setenv("QUORVANE_HOST_DIR", host_dir.path.c_str(), 1);
    void* lib = dlopen(module_path, RTLD_NOW | RTLD_LOCAL);
    EXPECT_NE(lib, nullptr) << dlerror();
    if (!lib) return {};
    auto get_header = reinterpret_cast<DspGetHeaderFn>(dlsym(lib, QUORVANE_EXPORT_NAME));
    DspModule* m = get_header()->get_module(0);
    EXPECT_EQ(m->Init(m), 0);
    std::vector<std::int16_t> out = in.samples;
    const int ch = in.info.channels;
    out.resize(out.size() + static_cast<std::size_t>(tail_frames) * ch, 0);
    const long frames = in.info.frames + tail_frames;
    for (long done = 0; done < frames; done += block_frames) {
        const int n = static_cast<int>(std::min<long>(block_frames, frames - done));
        m->ModifySamples(m, out.data() + done * ch, n, 16, ch, 44100);
    }
    m->Quit(m);
    unsetenv("QUORVANE_HOST_DIR");
    return out;
}

double independent_loudness(const Audio& a) {
    ebur128_state* st = ebur128_init(static_cast<unsigned>(a.info.channels),
                                     static_cast<unsigned long>(a.info.samplerate), EBUR128_MODE_I);
    ebur128_add_frames_short(st, a.samples.data(), static_cast<std::size_t>(a.info.frames));
    double lufs = NAN;
    ebur128_loudness_global(st, &lufs);
    ebur128_destroy(&st);
    return lufs;
}

double independent_true_peak_dbtp(const Audio& a) {
    ebur128_state* st = ebur128_init(static_cast<unsigned>(a.info.channels),
                                     static_cast<unsigned long>(a.info.samplerate), EBUR128_MODE_TRUE_PEAK);
    ebur128_add_frames_short(st, a.samples.data(), static_cast<std::size_t>(a.info.frames));
    double peak = 0;
    for (int ch = 0; ch < a.info.channels; ++ch) {
        double v = 0;
        ebur128_true_peak(st, static_cast<unsigned>(ch), &v);
        peak = std::max(peak, v);
    }
    ebur128_destroy(&st);
    return 20 * std::log10(peak);
}

// The build tree: the tool lives at its top.
fs::path build_dir() { return fs::path(tool()).parent_path(); }

// The tool's processor (the core's in-process interface) against the module
// loaded through its export: the same samples, aligned by the reported latency.
TEST(CliProcess, StereoMatchesModuleFedInBlocksAndSummaryMatchesLibebur128) {
    TempDir d;
    write_audio(d / "in.wav", 44100, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 3.0);
    const ToolRun r =
        run_tool({"process", d / "in.wav", d / "out.wav", "--settings-dir", d / "settings", "--plot", d / "plot.svg"});
    ASSERT_EQ(r.status, 0) << r.err;
    const Audio in = read_audio(d / "in.wav");
    const Audio out = read_audio(d / "out.wav");
    EXPECT_EQ(out.info.samplerate, 44100);
    EXPECT_EQ(out.info.channels, 2);
    EXPECT_EQ(out.info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    ASSERT_EQ(out.info.frames, in.info.frames);
    constexpr int kLatency = 884;  // the default process: twice the 442-frame look-ahead ring
    EXPECT_NE(r.err.find("latency             884 frames"), std::string::npos) << r.err;

    const std::vector<std::int16_t> raw = module_output(in, 1000, kLatency);
    const std::vector<std::int16_t> expected(raw.begin() + 2 * kLatency, raw.end());
    ASSERT_EQ(out.samples.size(), expected.size());
    long first_difference = -1;
    for (std::size_t i = 0; i < expected.size() && first_difference < 0; ++i)
        if (out.samples[i] != expected[i]) first_difference = static_cast<long>(i);
    EXPECT_EQ(first_difference, -1);

    EXPECT_NEAR(summary_figure(r.err, "integrated loudness", 0), independent_loudness(in), 0.1) << r.err;
    EXPECT_NEAR(summary_figure(r.err, "integrated loudness", 1), independent_loudness(out), 0.1) << r.err;
    EXPECT_TRUE(fs::is_empty(d / "settings")) << "nothing is created in the settings folder";

    // --keep-latency: the module's own stream, delay included.
    ASSERT_EQ(
        run_tool({"process", d / "in.wav", d / "raw.wav", "--settings-dir", d / "settings", "--keep-latency"}).status,
        0);
    const Audio kept = read_audio(d / "raw.wav");
    ASSERT_EQ(kept.info.frames, in.info.frames);
    EXPECT_TRUE(std::equal(kept.samples.begin(), kept.samples.end(), raw.begin()));
    const std::string svg = file_bytes(d / "plot.svg");
    EXPECT_NE(svg.find("<svg"), std::string::npos);
    EXPECT_NE(svg.find("<polyline"), std::string::npos);
}

TEST(CliProcess, ResamplesMonoAndOtherFormatsTo44k16Bit) {
    TempDir d;
    struct Case {
        const char* name;
        int rate, channels, format;
        const char* out;
        int out_container;
    } cases[] = {
        {"48k24.wav", 48000, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_24, "a.flac", SF_FORMAT_FLAC},
        {"22k.wav", 22050, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16, "b.wav", SF_FORMAT_WAV},
        {"mono.wav", 44100, 1, SF_FORMAT_WAV | SF_FORMAT_FLOAT, "c.wav", SF_FORMAT_WAV},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        write_audio(d / c.name, c.rate, c.channels, c.format, 2.0);
        const ToolRun r = run_tool({"process", d / c.name, d / c.out, "--settings-dir", d / "settings", "-q"});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        const Audio out = read_audio(d / c.out);
        EXPECT_EQ(out.info.samplerate, 44100);
        EXPECT_EQ(out.info.channels, c.channels);
        EXPECT_EQ(out.info.format, c.out_container | SF_FORMAT_PCM_16);
        EXPECT_NEAR(static_cast<double>(out.info.frames), 2.0 * 44100, 2.0);
        // The loud second carries signal in every channel.
        for (int ch = 0; ch < c.channels; ++ch) {
            double energy = 0;
            for (long n = 44100; n < out.info.frames; ++n) {
                const double v = out.samples[static_cast<std::size_t>(n * c.channels + ch)];
                energy += v * v;
            }
            EXPECT_GT(std::sqrt(energy / 44100), 300.0);
        }
    }
}

TEST(CliProcess, FailuresWriteNothing) {
    TempDir d;
    write_audio(d / "six.wav", 44100, 6, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 0.2);
    write_audio(d / "in.wav", 44100, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 0.2);
    fs::create_directory(d / "outdir");
    const std::string in_bytes = file_bytes(d / "in.wav");
    const std::vector<std::string> before = dir_listing(d.path);
    const std::string s = d / "settings";

    struct Case {
        std::vector<std::string> args;
        int status;
        const char* message;
    } cases[] = {
        {{"process", d / "six.wav", d / "out.wav", "--settings-dir", s}, 1, "6 channels; only mono and stereo"},
        {{"process", d / "missing.wav", d / "out.wav", "--settings-dir", s}, 1, "missing.wav"},
        {{"process", d / "in.wav", d / "outdir", "--settings-dir", s}, 1, "is a directory"},
        {{"process", d / "in.wav", d / "in.wav", "--settings-dir", s}, 1, "may not be the input"},
        {{"process", d / "in.wav", d / "outdir/../in.wav", "--settings-dir", s}, 1, "may not be the input"},
        {{"process", d / "in.wav", d / "nodir/out.wav", "--settings-dir", s}, 1, "nodir"},
        {{"process", d / "in.wav", d / "out.mp3", "--settings-dir", s}, 2, "unsupported output format"},
        {{"process", d / "in.wav", d / "out.wav", "--preset", d / "in.wav"}, 1, "not a valid process file"},
        {{"process", d / "in.wav", d / "out.wav", "--process", "101"}, 2, "101"},
        {{"process", d / "in.wav", d / "out.wav", "--set", "loudness=11"}, 2, "unknown parameter 'loudness'"},
        {{"process", d / "in.wav"}, 2, "OUT"},
        {{"stream", "--channels", "2"}, 2, "--raw"},
        {{"stream", "--raw", "--rate", "4000"}, 2, "8000"},
        {{"process", d / "in.wav", d / "out.wav", "--ceiling", "0.5"}, 2, "--ceiling"},
        {{"process", d / "in.wav", d / "out.wav", "--ceiling", "-6.1"}, 2, "--ceiling"},
        {{"stream", "--ceiling", "nan"}, 2, "not a finite number"},
        {{"process", d / "in.wav", d / "out.wav", "--loudness", "nan"}, 2, "not a finite number"},
        {{"process", d / "in.wav", d / "out.wav", "-q", "-v"}, 2, "excludes"},
        {{}, 2, "subcommand"},
    };
    for (const Case& c : cases) {
        const ToolRun r = run_tool(c.args);
        SCOPED_TRACE(r.err);
        EXPECT_EQ(r.status, c.status);
        EXPECT_NE(r.err.find(c.message), std::string::npos);
        EXPECT_EQ(dir_listing(d.path), before) << "no output, temporary or settings file may be left";
        EXPECT_TRUE(fs::is_empty(d / "outdir"));
    }
    EXPECT_EQ(file_bytes(d / "in.wav"), in_bytes);
}

TEST(CliProcess, SetTakesEffectWithoutTouchingStoredProcesses) {
    TempDir d;
    write_audio(d / "in.wav", 44100, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1.0);
    const std::string s = d / "settings";
    // Without a process 0 the built-in default plays, and nothing is created.
    ASSERT_EQ(run_tool({"process", d / "in.wav", d / "plain.wav", "--settings-dir", s, "-q"}).status, 0);
    EXPECT_TRUE(fs::is_empty(d / "settings"));
    ASSERT_EQ(run_tool({"preset", "defaults", d / "settings/qv$0.dat"}).status, 0);
    // A player's INI in the same directory keeps every byte.
    const std::string ini = "[Player]\nvolume=200\n[Quorvane2]\nProcessNumber=7\nVisible=1\n";
    std::ofstream(d / "settings/winamp.ini") << ini;
    ASSERT_EQ(run_tool({"preset", "defaults", d / "p.dat"}).status, 0);
    const std::string stored = file_bytes(d / "settings/qv$0.dat");
    const std::string preset = file_bytes(d / "p.dat");

    ToolRun r = run_tool({"process", d / "in.wav", d / "mono.wav", "--settings-dir", s, "--set", "mono=1"});
    ASSERT_EQ(r.status, 0) << r.err;
    r = run_tool({"process", d / "in.wav", d / "mono2.wav", "--preset", d / "p.dat", "--set", "option_flags=0x101"});
    ASSERT_EQ(r.status, 0) << r.err;
    r = run_tool({"process", d / "in.wav", d / "again.wav", "--settings-dir", s, "--process", "0", "-q"});
    ASSERT_EQ(r.status, 0) << r.err;

    const Audio plain = read_audio(d / "plain.wav"), mono = read_audio(d / "mono.wav");
    const Audio mono2 = read_audio(d / "mono2.wav"), again = read_audio(d / "again.wav");
    bool plain_is_stereo = false, mono_is_mono = true;
    for (long n = 0; n < plain.info.frames; ++n) {
        plain_is_stereo |= plain.samples[2 * n] != plain.samples[2 * n + 1];
        mono_is_mono &= mono.samples[2 * n] == mono.samples[2 * n + 1];
    }
    EXPECT_TRUE(plain_is_stereo);
    EXPECT_TRUE(mono_is_mono);
    EXPECT_EQ(mono.samples, mono2.samples);
    EXPECT_EQ(again.samples, plain.samples) << "the stored process still plays as before";
    EXPECT_EQ(file_bytes(d / "settings/qv$0.dat"), stored);
    EXPECT_EQ(file_bytes(d / "p.dat"), preset);
    EXPECT_EQ(file_bytes(d / "settings/winamp.ini"), ini);

    // --process N plays the stored process N.
    ASSERT_EQ(run_tool({"preset", "defaults", d / "settings/qv$3.dat"}).status, 0);
    ASSERT_EQ(run_tool({"preset", "set", d / "settings/qv$3.dat", "mono=1"}).status, 0);
    r = run_tool({"process", d / "in.wav", d / "three.wav", "--settings-dir", s, "--process", "3"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("process 3 \"DEFAULT\""), std::string::npos) << r.err;
    EXPECT_EQ(read_audio(d / "three.wav").samples, mono.samples);
    EXPECT_EQ(file_bytes(d / "settings/winamp.ini"), ini);

    // A missing process is an error that says where to look; nothing is created.
    r = run_tool({"process", d / "in.wav", d / "seven.wav", "--settings-dir", s, "--process", "7"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("preset list"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(d / "seven.wav"));
    EXPECT_FALSE(fs::exists(d / "settings/qv$7.dat"));
}

TEST(CliProcess, LoudnessDeliveryMeetsTheLimitThatDecides) {
    TempDir d;
    write_audio(d / "in.wav", 44100, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 4.0);
    fs::create_directory(d / "settings");
    ASSERT_EQ(run_tool({"process", d / "in.wav", d / "plain.wav", "--settings-dir", d / "settings", "-q"}).status, 0);
    const Audio plain = read_audio(d / "plain.wav");
    // --ceiling is a true-peak limit of the delivery too; with --true-peak the lower one holds.
    struct Case {
        const char* lufs;
        const char* dbtp;
        std::vector<std::string> limits;
        const char* decided;
    } cases[] = {{"-30", "-1", {"--true-peak", "-1"}, "set by the loudness target"},
                 {"-5", "-3", {"--true-peak", "-3"}, "set by the true-peak ceiling"},
                 {"-5", "-2", {"--ceiling", "-2"}, "set by the processor's ceiling"},
                 {"-5", "-2.5", {"--true-peak", "-1", "--ceiling", "-2.5"}, "set by the processor's ceiling"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dbtp);
        std::vector<std::string> args = {"process",      d / "in.wav", d / "out.wav", "--settings-dir",
                                         d / "settings", "--loudness", c.lufs};
        args.insert(args.end(), c.limits.begin(), c.limits.end());
        const ToolRun r = run_tool(args);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.err.find(c.decided), std::string::npos) << r.err;
        const bool loudness_decides = std::string(c.decided) == "set by the loudness target";
        const Audio out = read_audio(d / "out.wav");
        EXPECT_EQ(out.info.frames, plain.info.frames);
        const double lufs = independent_loudness(out), dbtp = independent_true_peak_dbtp(out);
        if (loudness_decides) {
            EXPECT_NEAR(lufs, std::stod(c.lufs), 0.1);
            EXPECT_LE(dbtp, std::stod(c.dbtp) + 0.1);
        } else {
            EXPECT_NEAR(dbtp, std::stod(c.dbtp), 0.1);
            EXPECT_LE(lufs, std::stod(c.lufs) + 0.1);
        }
        EXPECT_NEAR(summary_figure(r.err, "integrated loudness", 1), lufs, 0.1) << "the summary shows what was written";
    }
}

// Interleaved 16-bit frames as a 44.1 kHz WAV file.
void write_pcm16(const std::string& path, int channels, const std::vector<std::int16_t>& samples) {
    SF_INFO info{};
    info.samplerate = 44100;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr) << sf_strerror(nullptr);
    sf_writef_short(f, samples.data(), static_cast<sf_count_t>(samples.size()) / channels);
    sf_close(f);
}

// Runs a program from PATH, its output discarded; its exit status, -1 when it did not start.
int run_program(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid;
    int st = 0;
    const bool started = posix_spawnp(&pid, argv[0], &fa, nullptr, argv.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&fa);
    if (!started || waitpid(pid, &st, 0) != pid) return -1;
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

// A WAV file through a 192 kbit/s MP3 encoder (LAME) and back: the highest
// decoded |sample| (1 = full scale) and its true peak in dBTP; NaN when
// ffmpeg or its LAME encoder is missing.
std::pair<double, double> mp3_round_trip(const TempDir& d, const std::string& wav) {
    const std::string mp3 = d / "round.mp3", pcm = d / "round.f32";
    if (run_program({"ffmpeg", "-v", "error", "-y", "-i", wav, "-c:a", "libmp3lame", "-b:a", "192k", mp3}) != 0 ||
        run_program({"ffmpeg", "-v", "error", "-y", "-i", mp3, "-f", "f32le", "-c:a", "pcm_f32le", pcm}) != 0)
        return {NAN, NAN};
    const std::string bytes = file_bytes(pcm);
    std::vector<float> decoded(bytes.size() / sizeof(float));
    std::memcpy(decoded.data(), bytes.data(), decoded.size() * sizeof(float));
    double peak = 0;
    for (const float v : decoded) peak = std::max(peak, static_cast<double>(std::fabs(v)));
    ebur128_state* st = ebur128_init(2, 44100, EBUR128_MODE_TRUE_PEAK);
    ebur128_add_frames_float(st, decoded.data(), decoded.size() / 2);
    double true_peak = 0;
    for (unsigned ch = 0; ch < 2; ++ch) {
        double v = 0;
        ebur128_true_peak(st, ch, &v);
        true_peak = std::max(true_peak, v);
    }
    ebur128_destroy(&st);
    return {peak, 20 * std::log10(true_peak)};
}

// The ceiling holds the true peak libebur128 reads within 0.05 dB of it: on
// the demo programme through the default and every factory process, and,
// the chain bypassed so that they reach the limiter as they are, on a
// full-scale square wave and a full-scale sine swept toward Nyquist. A
// -1 dBTP output survives a 192 kbit/s MP3 encoder without a decoded sample
// at full scale. Prints what it measured, with the loudness the ceiling costs.
TEST(CliCeiling, TruePeakStaysUnderTheCeiling) {
    TempDir d;
    const std::string s = d / "settings";
    ASSERT_EQ(run_tool({"preset", "install-factory", "-q", "--settings-dir", s}).status, 0);
    write_pcm16(d / "demo.wav", 2, qv::demo::demo_programme());
    constexpr std::size_t kFrames = 3 * 44100;
    std::vector<std::int16_t> square(2 * kFrames), sweep(2 * kFrames);
    double phase = 0;
    for (std::size_t n = 0; n < kFrames; ++n) {
        // 1102.5 Hz, the right channel a quarter period later; 10 kHz to 21.5 kHz.
        square[2 * n] = (n / 20) % 2 ? 32767 : -32768;
        square[2 * n + 1] = (n / 20 + 10) % 2 ? 32767 : -32768;
        phase += 2 * M_PI * 10000 * std::pow(2.15, static_cast<double>(n) / kFrames) / 44100;
        sweep[2 * n] = static_cast<std::int16_t>(std::lrint(32767 * std::sin(phase)));
        sweep[2 * n + 1] = static_cast<std::int16_t>(std::lrint(32767 * std::cos(phase)));
    }
    write_pcm16(d / "square.wav", 2, square);
    write_pcm16(d / "sweep.wav", 2, sweep);
    struct Case {
        const char* input;
        std::vector<std::string> process;
        const char* ceiling;
    } cases[] = {{"demo.wav", {}, "-1"},
                 {"demo.wav", {"--process", "90"}, "-1"},
                 {"demo.wav", {"--process", "91"}, "-1"},
                 {"demo.wav", {"--process", "92"}, "-1"},
                 {"demo.wav", {"--process", "93"}, "-1"},
                 {"square.wav", {"--set", "bypass_all=1"}, "0"},
                 {"sweep.wav", {"--set", "bypass_all=1"}, "-3"},
                 {"sweep.wav", {"--set", "bypass_all=1"}, "-1"}};
    for (const Case& c : cases) {
        const std::string label = std::string(c.input) + (c.process.empty() ? "" : " " + c.process.back());
        SCOPED_TRACE(label);
        std::vector<std::string> args = {"process", d / c.input, d / "out.wav", "--settings-dir", s, "-q"};
        args.insert(args.end(), c.process.begin(), c.process.end());
        ASSERT_EQ(run_tool(args).status, 0);
        const Audio plain = read_audio(d / "out.wav");
        args.insert(args.end(), {"--ceiling", c.ceiling});
        ASSERT_EQ(run_tool(args).status, 0);
        const Audio ceiled = read_audio(d / "out.wav");
        ASSERT_EQ(ceiled.info.frames, plain.info.frames);
        const double peak = independent_true_peak_dbtp(ceiled),
                     lost = independent_loudness(plain) - independent_loudness(ceiled);
        std::printf("  %-22s ceiling %2s dBTP: true peak %+.2f dBTP (%+.2f without), loudness lost %.2f LU\n",
                    label.c_str(), c.ceiling, peak, independent_true_peak_dbtp(plain), lost);
        EXPECT_LE(peak, std::stod(c.ceiling) + 0.05);
        if (label == "demo.wav") {
            EXPECT_LT(lost, 0.5);
        }
        if (c.process.empty() || c.process.back() != "91") continue;
        // The densest process through the encoder, with and without the ceiling.
        const auto [ceiled_peak, ceiled_tp] = mp3_round_trip(d, d / "out.wav");
        if (std::isnan(ceiled_peak)) {
            std::printf("  no MP3 check: ffmpeg with libmp3lame not found\n");
            continue;
        }
        write_pcm16(d / "plain.wav", 2, plain.samples);
        const auto [plain_peak, plain_tp] = mp3_round_trip(d, d / "plain.wav");
        std::printf("  after MP3 192k: highest sample %.4f, true peak %+.2f dBTP (without the ceiling %.4f, %+.2f)\n",
                    ceiled_peak, ceiled_tp, plain_peak, plain_tp);
        EXPECT_LT(ceiled_peak, 32767.0 / 32768);
    }
}

// The ceiling's delay is in the latency reported and removed: an impulse
// through the bypassed chain comes out the reported latency later with
// --keep-latency and in place without it; below the ceiling the processor's
// output with it is the output without it, later by the difference of the
// reported latencies (--keep-latency) or the same (aligned), sample for sample.
TEST(CliCeiling, DelayIsTheReportedLatency) {
    TempDir d;
    const std::string s = d / "settings";
    std::vector<std::int16_t> impulses(2 * 44100);
    impulses[2 * 1000] = 20000;
    impulses[2 * 3001 + 1] = -12000;
    write_pcm16(d / "impulses.wav", 2, impulses);
    auto latency_of = [&](std::vector<std::string> args) {
        args.insert(args.end(), {"--settings-dir", s, "--json"});
        const ToolRun r = run_tool(args, "", d / "json");
        EXPECT_EQ(r.status, 0) << r.err;
        const std::string json = file_bytes(d / "json");
        const bool ceiling = std::find(args.begin(), args.end(), "--ceiling") != args.end();
        EXPECT_EQ(json.find("\"ceiling\":{\"dbtp\":") != std::string::npos, ceiling) << json;
        return static_cast<long>(json_figure(json, "", "latency_frames"));
    };
    const long bypassed = latency_of(
        {"process", d / "impulses.wav", d / "kept.wav", "--set", "bypass_all=1", "--ceiling", "0", "--keep-latency"});
    EXPECT_EQ(bypassed, 74);
    std::vector<std::int16_t> delayed(impulses.size());
    std::copy(impulses.begin(), impulses.end() - 2 * bypassed, delayed.begin() + 2 * bypassed);
    EXPECT_EQ(read_audio(d / "kept.wav").samples, delayed);
    latency_of({"process", d / "impulses.wav", d / "aligned.wav", "--set", "bypass_all=1", "--ceiling", "0"});
    EXPECT_EQ(read_audio(d / "aligned.wav").samples, impulses);

    // The default process at half its output level stays below a 0 dBTP ceiling.
    write_audio(d / "in.wav", 44100, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2.0);
    for (const bool keep : {false, true}) {
        SCOPED_TRACE(keep ? "--keep-latency" : "aligned");
        std::vector<std::string> args = {"process", d / "in.wav", d / "a.wav", "--set", "output_level_pct=50"};
        if (keep) args.push_back("--keep-latency");
        const long without = latency_of(args);
        args[2] = d / "b.wav";
        args.insert(args.end(), {"--ceiling", "0"});
        const long with = latency_of(args);
        EXPECT_EQ(with, without + 74);
        const std::size_t shift = keep ? 2 * static_cast<std::size_t>(with - without) : 0;
        const std::vector<std::int16_t> a = read_audio(d / "a.wav").samples, b = read_audio(d / "b.wav").samples;
        ASSERT_EQ(a.size(), b.size());
        ASSERT_LT(shift, a.size());
        EXPECT_TRUE(std::equal(a.begin(), a.end() - static_cast<std::ptrdiff_t>(shift), b.begin() + shift));
        EXPECT_TRUE(std::all_of(b.begin(), b.begin() + shift, [](std::int16_t v) { return v == 0; }));
    }
}

// A streaming WAV header as pipes carry it: unknown lengths, a LIST chunk of
// odd size (padded) before the data.
std::string streaming_wav_header(int channels) {
    auto u32 = [](std::uint32_t v) { return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; };
    auto u16 = [](std::uint32_t v) { return std::string{char(v), char(v >> 8)}; };
    std::string h = "RIFF" + u32(0xFFFFFFFF) + "WAVE";
    h += "fmt " + u32(16) + u16(1) + u16(channels) + u32(44100) + u32(44100 * 2 * channels) + u16(2 * channels) +
         u16(16);
    h += "LIST" + u32(5) + std::string("INFOx") + std::string(1, '\0');
    h += "data" + u32(0xFFFFFFFF);
    return h;
}

TEST(CliStream, WavAndRawStreamsGiveTheSamplesOfProcess) {
    TempDir d;
    write_audio(d / "in.wav", 44100, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2.0);
    const Audio in = read_audio(d / "in.wav");
    const std::string s = d / "settings";
    // A stream keeps the chain's delay: the samples of process --keep-latency.
    ASSERT_EQ(run_tool({"process", d / "in.wav", d / "out.wav", "--settings-dir", s, "-q", "--keep-latency"}).status,
              0);
    const Audio processed = read_audio(d / "out.wav");

    const std::string pcm(reinterpret_cast<const char*>(in.samples.data()), in.samples.size() * 2);
    const std::string partial = "\x11";  // a trailing partial frame
    std::ofstream(d / "stream.wav", std::ios::binary) << streaming_wav_header(2) << pcm << partial;
    std::ofstream(d / "stream.raw", std::ios::binary) << pcm << partial;

    ToolRun r = run_tool({"stream", "--settings-dir", s}, d / "stream.wav", d / "wav.out");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "quorvane: stream: built-in default \"DEFAULT\"; latency 884 frames (20.0 ms)\n");
    r = run_tool({"stream", "--settings-dir", s, "-v"}, d / "stream.wav", d / "wav2.out");
    EXPECT_NE(r.err.find("2 channel(s), 44100 Hz"), std::string::npos) << r.err;
    r = run_tool({"stream", "--settings-dir", s, "--raw", "--channels", "2", "--rate", "44100"}, d / "stream.raw",
                 d / "raw.out");
    ASSERT_EQ(r.status, 0) << r.err;

    const std::string expected(reinterpret_cast<const char*>(processed.samples.data()), processed.samples.size() * 2);
    const std::string wav_out = file_bytes(d / "wav.out");
    ASSERT_EQ(wav_out.size(), 44 + expected.size() + 1);
    EXPECT_EQ(wav_out.substr(0, 4), "RIFF");
    EXPECT_EQ(wav_out.substr(44, expected.size()) == expected, true);
    EXPECT_EQ(wav_out.back(), '\x11');
    // Standard output was a file, so the lengths were filled in at the end.
    const Audio reread = read_audio(d / "wav.out");
    EXPECT_EQ(reread.info.channels, 2);
    EXPECT_EQ(reread.info.samplerate, 44100);
    EXPECT_EQ(reread.info.frames, processed.info.frames);
    EXPECT_EQ(file_bytes(d / "raw.out"), expected + partial);

    // With the ceiling too (the loud second engages it).
    ASSERT_EQ(run_tool({"process", d / "in.wav", d / "ceiled.wav", "--settings-dir", s, "-q", "--keep-latency",
                        "--ceiling", "-1.5"})
                  .status,
              0);
    const Audio ceiled = read_audio(d / "ceiled.wav");
    r = run_tool({"stream", "--settings-dir", s, "--raw", "--ceiling", "-1.5"}, d / "stream.raw", d / "ceiled.out");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err,
              "quorvane: stream: built-in default \"DEFAULT\"; latency 958 frames (21.7 ms); ceiling -1.5 dBTP\n");
    EXPECT_EQ(file_bytes(d / "ceiled.out"),
              std::string(reinterpret_cast<const char*>(ceiled.samples.data()), ceiled.samples.size() * 2) + partial);
    EXPECT_NE(ceiled.samples, processed.samples);

    // A file with its true data length: a chunk after the data is not audio.
    std::ofstream(d / "tail.wav", std::ios::binary)
        << file_bytes(d / "in.wav") << "LIST" << std::string("\4\0\0\0", 4) << "abcd";
    r = run_tool({"stream", "--settings-dir", s}, d / "tail.wav", d / "tail.out");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(file_bytes(d / "tail.out").substr(44), expected);
}

TEST(CliStream, EndsCleanlyWhenTheReaderGoesAway) {
    TempDir d;
    {
        std::ofstream raw(d / "long.raw", std::ios::binary);
        const std::string second(44100 * 4, '\x01');
        for (int i = 0; i < 20; ++i) raw << second;
    }
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    const std::string in = d / "long.raw", settings = d / "settings";
    posix_spawn_file_actions_addopen(&fa, 0, in.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
    posix_spawn_file_actions_addclose(&fa, fds[0]);
    std::string t = tool(), a1 = "stream", a2 = "--raw", a3 = "--settings-dir";
    std::string a4 = settings;
    char* argv[] = {t.data(), a1.data(), a2.data(), a3.data(), a4.data(), nullptr};
    pid_t pid;
    ASSERT_EQ(posix_spawn(&pid, argv[0], &fa, nullptr, argv, environ), 0);
    posix_spawn_file_actions_destroy(&fa);
    close(fds[1]);
    char buf[1000];
    EXPECT_GT(read(fds[0], buf, sizeof buf), 0);
    close(fds[0]);
    int st = 0;
    const auto start = std::chrono::steady_clock::now();
    while (waitpid(pid, &st, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() - start > std::chrono::seconds(60)) {
            kill(pid, SIGKILL);
            waitpid(pid, &st, 0);
            FAIL() << "the tool kept running after its reader closed";
        }
        usleep(10000);
    }
    ASSERT_TRUE(WIFEXITED(st)) << "killed by signal " << WTERMSIG(st);
    EXPECT_EQ(WEXITSTATUS(st), 0);
    EXPECT_FALSE(fs::exists(d / "settings/winamp.ini")) << "the INI it wrote for the run is removed again";
}

// SIGHUP reads the process again and puts it on air at a block boundary,
// --set on top, while the stream plays on; the log file says so. The
// ceiling stays, its delay with it.
TEST(CliStream, HangupReloadsTheProcessWhileItPlays) {
    TempDir d;
    const std::string settings = d / "settings", log = d / "stream.log";
    ASSERT_EQ(run_tool({"preset", "defaults", d / "settings/qv$0.dat"}).status, 0);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    const std::string out = d / "out.raw";
    posix_spawn_file_actions_adddup2(&fa, fds[0], 0);
    posix_spawn_file_actions_addclose(&fa, fds[1]);
    posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<std::string> args = {tool(),   "stream", "--raw", "--settings-dir", settings, "--set",
                                     "mono=1", "--log",  log,     "--ceiling",      "0",      "-q"};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid;
    ASSERT_EQ(posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&fa);
    close(fds[0]);

    // A stereo tone with different channels: mono=1 makes them equal.
    std::vector<std::int16_t> tone(2 * 44100);
    for (std::size_t n = 0; n < tone.size() / 2; ++n) {
        tone[2 * n] = static_cast<std::int16_t>(8000 * std::sin(0.05 * n));
        tone[2 * n + 1] = static_cast<std::int16_t>(3000 * std::sin(0.013 * n));
    }
    auto feed = [&] { ASSERT_EQ(write(fds[1], tone.data(), tone.size() * 2), ssize_t(tone.size() * 2)); };
    feed();
    ASSERT_EQ(run_tool({"preset", "set", d / "settings/qv$0.dat", "bypass_all=1"}).status, 0);
    kill(pid, SIGHUP);
    const auto start = std::chrono::steady_clock::now();
    while (file_bytes(log).find("reloaded") == std::string::npos &&
           std::chrono::steady_clock::now() - start < std::chrono::seconds(10))
        usleep(10000);
    // Three seconds: the ceiling's gain, lowered by the chain's loud output
    // before the reload, is back at exactly 1 within two.
    for (int second = 0; second < 3; ++second) feed();
    close(fds[1]);
    int st = 0;
    waitpid(pid, &st, 0);
    ASSERT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0) << file_bytes(log);
    const std::string said = file_bytes(log);
    EXPECT_NE(said.find("reloaded: process 0 \"DEFAULT\" with --set; latency 74 frames"), std::string::npos) << said;

    // The last half second plays the bypassed chain with --set mono=1, and
    // the ceiling, which passes it as it is, 74 frames later: the mono sum of
    // the input, exactly.
    const std::string bytes = file_bytes(out);
    ASSERT_EQ(bytes.size(), 4 * tone.size() * 2);
    std::vector<std::int16_t> played(bytes.size() / 2);
    std::memcpy(played.data(), bytes.data(), bytes.size());
    for (std::size_t n = 4 * 44100 - 22050; n < 4 * 44100; ++n) {
        const std::size_t i = (n - 74) % 44100;
        const std::int16_t m = static_cast<std::int16_t>((tone[2 * i] + tone[2 * i + 1]) >> 1);
        ASSERT_EQ(played[2 * n], m) << n;
        ASSERT_EQ(played[2 * n + 1], m) << n;
    }
}

TEST(CliProcess, StandardStreamsJsonSummaryAndTags) {
    TempDir d;
    write_audio(d / "in.wav", 44100, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1.0,
                {{SF_STR_TITLE, "Morning news"}, {SF_STR_ARTIST, "Station"}, {SF_STR_COMMENT, "take 2"}});
    const std::string s = d / "settings";
    ToolRun r = run_tool({"process", d / "in.wav", d / "out.flac", "--settings-dir", s, "--json"}, "", d / "json");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "") << "the JSON object replaces the text summary";
    const std::string json = file_bytes(d / "json");
    EXPECT_EQ(json.front(), '{');
    EXPECT_EQ(json.find('\n'), json.size() - 1) << "one line";
    EXPECT_NE(json.find("\"process\":{\"number\":null,\"name\":\"DEFAULT\"}"), std::string::npos) << json;
    EXPECT_NE(json.find("\"latency_frames\":884"), std::string::npos) << json;
    EXPECT_NE(json.find("\"ceiling\":null"), std::string::npos) << json;
    EXPECT_NEAR(json_figure(json, "", "duration_s"), 1.0, 1e-9);
    EXPECT_GT(json_figure(json, "", "realtime_factor"), 0.0);
    const Audio out = read_audio(d / "out.flac");
    EXPECT_NEAR(json_figure(json, "\"output_levels\"", "integrated_lufs"), independent_loudness(out), 0.1) << json;
    EXPECT_NEAR(json_figure(json, "\"input_levels\"", "integrated_lufs"),
                independent_loudness(read_audio(d / "in.wav")), 0.1);
    SF_INFO info{};
    SNDFILE* f = sf_open((d / "out.flac").c_str(), SFM_READ, &info);
    ASSERT_NE(f, nullptr);
    EXPECT_STREQ(sf_get_string(f, SF_STR_TITLE), "Morning news");
    EXPECT_STREQ(sf_get_string(f, SF_STR_ARTIST), "Station");
    EXPECT_STREQ(sf_get_string(f, SF_STR_COMMENT), "take 2");
    sf_close(f);

    // A WAV stream in, WAV out on standard output (a file here, so its
    // header is completed); the JSON goes to standard error then.
    const std::string pcm(reinterpret_cast<const char*>(read_audio(d / "in.wav").samples.data()),
                          static_cast<std::size_t>(44100 * 2 * 2));
    std::ofstream(d / "stream.wav", std::ios::binary) << streaming_wav_header(2) << pcm;
    r = run_tool({"process", "-", "-", "--settings-dir", s, "--json", "-v"}, d / "stream.wav", d / "piped.wav");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("{\"input\":\"-\",\"output\":\"-\""), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("playing built-in default \"DEFAULT\""), std::string::npos) << r.err;
    const Audio piped = read_audio(d / "piped.wav");
    EXPECT_EQ(piped.info.frames, out.info.frames);
    EXPECT_EQ(piped.samples, out.samples);

    // An empty input: a summary of what there is, no -inf, no division by zero.
    write_audio(d / "empty.wav", 44100, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 0.0);
    r = run_tool({"process", d / "empty.wav", d / "e.wav", "--settings-dir", s});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err.find("inf"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("n/a"), std::string::npos) << r.err;
    EXPECT_EQ(read_audio(d / "e.wav").info.frames, 0);
    r = run_tool({"process", d / "empty.wav", d / "e2.wav", "--settings-dir", s, "--json"}, "", d / "ejson");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(file_bytes(d / "ejson").find("\"integrated_lufs\":null"), std::string::npos);
    EXPECT_NE(file_bytes(d / "ejson").find("\"realtime_factor\":null"), std::string::npos);
}

// The environment of a run through the fault shim with QUORVANE_FAULT=fault.
std::vector<std::string> shim_env(const std::string& fault, const std::string& tmpdir = "") {
    std::vector<std::string> env = {std::string("LD_PRELOAD=") + std::getenv("QUORVANE_FAULT_SHIM"),
                                    "ASAN_OPTIONS=verify_asan_link_order=0", "QUORVANE_FAULT=" + fault};
    if (!tmpdir.empty()) env.push_back("TMPDIR=" + tmpdir);
    return env;
}

const std::string kNoTmpfile = "tmpfile:0:" + std::to_string(EOPNOTSUPP);

TEST(CliProcess, ReplacesAnExistingOutOnlyAsAllowed) {
    TempDir d;
    write_audio(d / "in.wav", 44100, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 0.2);
    const std::string s = d / "settings";
    std::ofstream(d / "out.wav") << "old";
    ToolRun r = run_tool({"process", d / "in.wav", d / "out.wav", "--settings-dir", s, "-n"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("--no-clobber"), std::string::npos) << r.err;
    EXPECT_EQ(file_bytes(d / "out.wav"), "old");

    fs::permissions(d / "out.wav", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    r = run_tool({"process", d / "in.wav", d / "out.wav", "--settings-dir", s});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("write-protected; --force"), std::string::npos) << r.err;
    EXPECT_EQ(file_bytes(d / "out.wav"), "old");
    r = run_tool({"process", d / "in.wav", d / "out.wav", "--settings-dir", s, "--force", "-q"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_audio(d / "out.wav").info.frames, 8820);

    // A folder that refuses the file is named as the cause; --force cannot help there.
    if (std::getenv("QUORVANE_FAULT_SHIM") != nullptr) {
        for (const auto& [fault, cause] : {std::pair<std::string, std::string>{"access:0:30", "read-only file system"},
                                           {"access:0:13", "no permission to write in the folder " + d.path.string()}})
            for (const char* force : {"-v", "--force"}) {
                r = run_tool({"process", d / "in.wav", d / "out.wav", "--settings-dir", s, force}, "", "",
                             shim_env(fault));
                EXPECT_EQ(r.status, 1);
                EXPECT_EQ(r.err, "quorvane: " + d / "out.wav" + ": " + cause + "\n");
            }
    }
    r = run_tool({"process", d / "in.wav", d / "new.wav", "--settings-dir", s, "--no-clobber", "-q"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_audio(d / "new.wav").samples, read_audio(d / "out.wav").samples);
    EXPECT_EQ(dir_listing(d.path), (std::vector<std::string>{"in.wav", "new.wav", "out.wav", "settings"}));
}

TEST(CliProcess, DownmixFoldsMoreChannelsToStereo) {
    TempDir d;
    // A WAVE channel mask names the order; without one the WAVE order holds.
    write_audio(d / "quad.wav", 48000, 4, SF_FORMAT_WAVEX | SF_FORMAT_PCM_24, 0.5, {},
                {SF_CHANNEL_MAP_LEFT, SF_CHANNEL_MAP_RIGHT, SF_CHANNEL_MAP_CENTER, SF_CHANNEL_MAP_REAR_CENTER});
    write_audio(d / "six.wav", 44100, 6, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1.5);
    const std::string s = d / "settings";
    ToolRun r = run_tool({"process", d / "quad.wav", d / "quad.out.wav", "--settings-dir", s, "--downmix"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("4 channels (L R C BC) to stereo"), std::string::npos) << r.err;
    EXPECT_EQ(read_audio(d / "quad.out.wav").info.channels, 2);
    r = run_tool({"process", d / "six.wav", d / "six.out.wav", "--settings-dir", s, "--downmix", "--json"}, "",
                 d / "json");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string json = file_bytes(d / "json");
    EXPECT_NE(json.find("\"layout\":\"FL FR FC LFE BL BR\""), std::string::npos) << json;
    EXPECT_GE(json_figure(json, "\"downmix\"", "overloads"), 0.0) << json;
}

// Each failed write, fsync, close, rename or link is either harmless (the
// output is exactly that of an undisturbed run) or ends the run with status 1,
// a message and nothing beside OUT; a failed header rewrite is never harmless.
// With a plot, OUT appears only with it: a failure before OUT takes its place
// leaves no OUT (the plot only when the message says it was written).
TEST(CliFaults, EveryFailedCallIsReportedAndLeavesNothing) {
    if (std::getenv("QUORVANE_FAULT_SHIM") == nullptr) GTEST_SKIP() << "QUORVANE_FAULT_SHIM not set";
    TempDir d;
    write_audio(d / "in.wav", 44100, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 0.05);
    ASSERT_EQ(run_tool({"preset", "defaults", d / "p.dat", "-q"}).status, 0);
    fs::create_directory(d / "out");
    const std::vector<std::string> base = {"process", d / "in.wav", "", "--preset", d / "p.dat", "-q"};
    const std::string plot = (d.path / "out" / "o.svg").string();
    struct Case {
        const char* container;
        const char* op;
        int calls;
        bool plot;
    } cases[] = {{"wav", "write", 16, false},  {"wav", "write0", 8, false},  {"wav", "fsync", 8, false},
                 {"wav", "close", 8, false},   {"wav", "rename", 6, false},  {"wav", "link", 6, false},
                 {"flac", "write", 18, false}, {"aiff", "write0", 8, false}, {"wav", "fsync", 4, true},
                 {"wav", "close", 10, true},   {"wav", "link", 4, true},     {"wav", "rename", 4, true}};
    for (const Case& c : cases) {
        std::vector<std::string> args = base;
        args[2] = d / (std::string("ref.") + c.container);
        ASSERT_EQ(run_tool(args).status, 0);
        const std::string ref = file_bytes(args[2]);
        args[2] = (d.path / "out" / (std::string("o.") + c.container)).string();
        if (c.plot) args.insert(args.end(), {"--plot", plot});
        int failed = 0;
        for (int n = 1; n <= c.calls; ++n) {
            SCOPED_TRACE(std::string(c.container) + " " + c.op + ":" + std::to_string(n) + (c.plot ? " plot" : ""));
            const ToolRun r = run_tool(args, "", "", shim_env(std::string(c.op) + ":" + std::to_string(n)));
            if (r.status == 0) {
                EXPECT_EQ(file_bytes(args[2]) == ref, true) << "a fault reported as success changed the output";
                EXPECT_EQ(fs::exists(plot), c.plot);
                fs::remove(args[2]);
            } else {
                ++failed;
                EXPECT_EQ(r.status, 1) << r.err;
                EXPECT_NE(r.err.find("quorvane: "), std::string::npos);
                EXPECT_FALSE(fs::exists(args[2])) << r.err;
                if (fs::exists(plot)) {
                    EXPECT_NE(r.err.find("not written, but the plot " + plot + " was"), std::string::npos) << r.err;
                }
            }
            fs::remove(plot);
            EXPECT_TRUE(fs::is_empty(d.path / "out")) << dir_listing(d.path / "out").front();
        }
        EXPECT_GT(failed, 0) << c.container << " " << c.op << " never reached";
    }

    // Without O_TMPFILE the named temporary file is created and renamed; a
    // temporary whose removal fails is named, and the next run removes it.
    std::vector<std::string> args = base;
    args[2] = (d.path / "out" / "named.wav").string();
    ToolRun r = run_tool(args, "", "", shim_env(kNoTmpfile + ",rename:1,unlink:1"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("out/.named.wav."), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("cannot be removed: Input/output error"), std::string::npos) << r.err;
    EXPECT_EQ(dir_listing(d.path / "out").size(), 1u);
    // --no-clobber links OUT to its name: a temporary name that stays then
    // is status 3 (the next run's sweep is the first unlink).
    args.push_back("-n");
    r = run_tool(args, "", "", shim_env(kNoTmpfile + ",unlink:2"));
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.err.find(args[2] + " written; its temporary file " + d / "out/.named.wav."), std::string::npos)
        << r.err;
    EXPECT_EQ(dir_listing(d.path / "out").size(), 2u);
    args.pop_back();
    r = run_tool(args, "", "", shim_env(kNoTmpfile));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(file_bytes(args[2]), file_bytes(d / "ref.wav"));
    EXPECT_EQ(dir_listing(d.path / "out"), std::vector<std::string>{"named.wav"});

    // OUT on standard output has its audio before the plot is published: a
    // plot that fails then, like a --json summary that cannot be written
    // after OUT, is status 3 and says that OUT was written.
    args = base;
    args[2] = "-";
    args.insert(args.end(), {"--plot", plot});
    r = run_tool(args, "", d / "piped.wav", shim_env("rename:1"));
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.err.find("standard output written; the plot could not be written: " + plot), std::string::npos)
        << r.err;
    EXPECT_EQ(read_audio(d / "piped.wav").samples, read_audio(d / "ref.wav").samples);
    args = base;
    args[2] = (d.path / "out" / "json.wav").string();
    args.push_back("--json");
    r = run_tool(args, "", "/dev/full");
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.err.find(args[2] + " written; the summary could not be written"), std::string::npos) << r.err;
    EXPECT_EQ(file_bytes(args[2]), file_bytes(d / "ref.wav"));
}

// Where O_TMPFILE is refused, runs killed at random moments leave named
// temporaries; the next run for the same OUT, plot and held output removes
// every one of this user that no live process holds locked, and nothing
// else. A temporary whose removal fails is reported.
TEST(CliFaults, WithoutUnnamedFilesTheNextRunRemovesWhatKilledRunsLeft) {
    if (std::getenv("QUORVANE_FAULT_SHIM") == nullptr) GTEST_SKIP() << "QUORVANE_FAULT_SHIM not set";
    TempDir d;
    write_audio(d / "in.wav", 44100, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 4.0);
    for (const char* dir : {"out", "tmp"}) fs::create_directory(d / dir);
    const std::string s = d / "settings", tmp = d / "tmp";
    ASSERT_EQ(run_tool({"preset", "install-factory", "--settings-dir", s, "-q"}).status, 0);
    const std::vector<std::string> settings = dir_listing(s);
    std::vector<std::string> argv_s = {tool(), "process",    d / "in.wav", d / "out/o.wav", "--settings-dir",
                                       s,      "--loudness", "-16",        "--plot",        d / "out/o.svg",
                                       "-q"};
    std::vector<char*> argv;
    for (std::string& a : argv_s) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> env_s = shim_env(kNoTmpfile, tmp);
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "TMPDIR=", 7) != 0) env_s.push_back(*e);
    std::vector<char*> envp;
    for (std::string& e : env_s) envp.push_back(e.data());
    envp.push_back(nullptr);
    auto start = [&] {
        pid_t pid = -1;
        EXPECT_EQ(posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), envp.data()), 0);
        return pid;
    };
    auto t0 = std::chrono::steady_clock::now();
    int st = 0;
    waitpid(start(), &st, 0);
    ASSERT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0);
    const auto run_us = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - t0);
    const unsigned seed = static_cast<unsigned>(t0.time_since_epoch().count());
    SCOPED_TRACE("seed " + std::to_string(seed) + ", a run takes " + std::to_string(run_us.count()) + " us");
    std::srand(seed);
    int leaving = 0;
    for (int k = 0; k < 20; ++k) {
        const pid_t pid = start();
        usleep(static_cast<useconds_t>(std::rand() % (run_us.count() * 11 / 10 + 1)));
        kill(pid, SIGKILL);
        waitpid(pid, &st, 0);
        leaving += dir_listing(d / "out").size() + dir_listing(tmp).size() > 2;
    }
    RecordProperty("kills_leaving_a_temporary", leaving);

    // Planted: another run's temporaries, locked; one of another user; a
    // link and a name outside the pattern. They stay.
    const std::string live = d / "out/.o.wav.00112233445566ff", other = d / "out/.o.svg.ffeeddccbbaa9988";
    std::ofstream(live) << "x";
    std::ofstream(other) << "x";
    const int held = open(live.c_str(), O_RDONLY);
    ASSERT_EQ(flock(held, LOCK_EX), 0);
    const bool root = geteuid() == 0;
    if (root) {
        ASSERT_EQ(chown(other.c_str(), 65534, 65534), 0);
    }
    fs::create_symlink(d / "in.wav", d / "out/.o.wav.0123456789abcdef");
    std::ofstream(d / "out/.o.wav.tmp") << "x";
    waitpid(start(), &st, 0);
    EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0);
    close(held);
    std::vector<std::string> expected = {".o.wav.00112233445566ff", ".o.wav.0123456789abcdef", ".o.wav.tmp", "o.svg",
                                         "o.wav"};
    if (root) expected.insert(expected.begin(), ".o.svg.ffeeddccbbaa9988");
    EXPECT_EQ(dir_listing(d / "out"), expected);
    EXPECT_EQ(dir_listing(tmp), std::vector<std::string>{});
    EXPECT_EQ(dir_listing(s), settings);

    // install-factory links a process to its name and removes the temporary:
    // a failed removal is reported (the process is stored), and the next
    // install removes the temporary.
    fs::remove(s + "/qv$92.dat");
    ToolRun r =
        run_tool({"preset", "install-factory", "--settings-dir", s, "-q"}, "", "", shim_env(kNoTmpfile + ",unlink:1"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("qv$92.dat written; its temporary file " + s + "/.qv$92.dat."), std::string::npos) << r.err;
    EXPECT_EQ(dir_listing(s).size(), settings.size() + 1);
    r = run_tool({"preset", "install-factory", "--settings-dir", s, "-q"}, "", "", shim_env(kNoTmpfile));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(dir_listing(s), settings);

    // The held output of --loudness is unlinked as soon as it is created.
    r = run_tool({"process", d / "in.wav", d / "held.wav", "--settings-dir", s, "--loudness", "-16"}, "", "",
                 shim_env(kNoTmpfile + ",unlink:1", tmp));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(tmp + "/.quorvane-held."), std::string::npos) << r.err;
    EXPECT_EQ(dir_listing(tmp).size(), 1u);
    r = run_tool({"process", d / "in.wav", d / "held.wav", "--settings-dir", s, "--loudness", "-16", "-q"}, "", "",
                 shim_env(kNoTmpfile, tmp));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(dir_listing(tmp), std::vector<std::string>{});
}

// Killed, or stopped by SIGTERM while the reading thread waits on standard
// input and the other stages on their queues: nothing is visible, and a
// SIGTERM ends every stage promptly with status 143.
TEST(CliFaults, KillOrSignalWhileWritingLeavesNothingVisible) {
    for (const int sig : {SIGKILL, SIGTERM}) {
        SCOPED_TRACE(strsignal(sig));
        TempDir d;
        fs::create_directory(d / "out");
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, fds[0], 0);
        posix_spawn_file_actions_addclose(&fa, fds[1]);
        posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
        std::vector<std::string> argv_s = {tool(), "process", "-", d / "out/out.wav", "--settings-dir", d / "settings"};
        std::vector<char*> argv;
        for (std::string& a : argv_s) argv.push_back(a.data());
        argv.push_back(nullptr);
        pid_t pid;
        ASSERT_EQ(posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&fa);
        close(fds[0]);
        const std::string header = streaming_wav_header(2);
        const std::string second(44100 * 4, '\x10');
        ASSERT_EQ(write(fds[1], header.data(), header.size()), static_cast<ssize_t>(header.size()));
        ASSERT_EQ(write(fds[1], second.data(), second.size()), static_cast<ssize_t>(second.size()));
        // The output is being written once the tool holds a file in OUT's directory.
        const std::string prefix = (d.path / "out").string() + "/";
        bool writing = false;
        for (int tries = 0; tries < 1000 && !writing; ++tries) {
            for (const auto& e : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd")) {
                std::error_code ec;
                writing |= fs::read_symlink(e.path(), ec).string().rfind(prefix, 0) == 0;
            }
            if (!writing) usleep(10000);
        }
        EXPECT_TRUE(writing);
        usleep(100000);  // the second is through the chain: every stage waits
        kill(pid, sig);
        int st = 0;
        pid_t done = 0;
        for (int tries = 0; tries < 500 && done == 0; ++tries) {
            done = waitpid(pid, &st, WNOHANG);
            if (done == 0) usleep(10000);
        }
        if (done == 0) {
            ADD_FAILURE() << "still running 5 s after the signal";
            kill(pid, SIGKILL);
            waitpid(pid, &st, 0);
        }
        close(fds[1]);
        if (sig == SIGTERM) {
            EXPECT_TRUE(WIFEXITED(st));
            EXPECT_EQ(WEXITSTATUS(st), 128 + SIGTERM);
        }
        EXPECT_TRUE(fs::is_empty(d / "out")) << dir_listing(d.path / "out").front();
    }
}

TEST(CliPreset, SetValidatesNamesAndRanges) {
    TempDir d;
    const std::string p = d / "p.dat";
    ASSERT_EQ(run_tool({"preset", "defaults", p}).status, 0);
    const std::string defaults = file_bytes(p);
    EXPECT_EQ(defaults.size(), 18418u);

    for (const char* bad :
         {"loudness=3", "overdrive_db=31", "section.5.0.band_gain_db10=-61", "section.7.0.ratio_x10=20",
          "section.0.0.ratio_x10=4x", "mono=2", "process_name=twenty characters long", "gate_threshold_db=-40",
          "gate_threshold_db=-91dB"}) {
        const ToolRun r = run_tool({"preset", "set", p, "overdrive_db=12", bad});
        EXPECT_EQ(r.status, 2) << bad;
        EXPECT_NE(r.err.find("unchanged"), std::string::npos) << r.err;
        EXPECT_EQ(file_bytes(p), defaults) << bad;
    }
    const ToolRun ok = run_tool({"preset", "set", p, "overdrive_db=12", "section.5.0.band_gain_db10=-60", "am_filter=1",
                                 "process_name=NEWS", "gate_threshold_db=-30dB", "-q"});
    ASSERT_EQ(ok.status, 0) << ok.err;
    EXPECT_EQ(ok.err, "");

    const std::string out = d / "show.txt";
    ASSERT_EQ(run_tool({"preset", "show", p}, "", out).status, 0);
    const std::string shown = file_bytes(out);
    EXPECT_NE(shown.find("\"NEWS\""), std::string::npos);
    EXPECT_NE(shown.find("overdrive_db                 12  dB"), std::string::npos) << shown;
    EXPECT_NE(shown.find("gate_threshold_db            30  dB"), std::string::npos) << shown;
    EXPECT_NE(shown.find("am_filter            0x400  1 on"), std::string::npos) << shown;
    EXPECT_NE(shown.find("5  HF    0 compressor"), std::string::npos) << shown;

    std::ofstream(d / "short.dat") << "2.0";
    EXPECT_EQ(run_tool({"preset", "set", d / "short.dat", "overdrive_db=1"}).status, 1);
    EXPECT_EQ(file_bytes(d / "short.dat"), "2.0");
}

TEST(CliPreset, ProcessesByNumberFactoryInstallAndParameterList) {
    TempDir d;
    const std::string s = d / "settings";
    // A --settings-dir folder is never created.
    fs::remove(s);
    EXPECT_EQ(run_tool({"preset", "install-factory", "--settings-dir", s}).status, 1);
    EXPECT_EQ(run_tool({"preset", "list", "--settings-dir", s}).status, 1);
    EXPECT_FALSE(fs::exists(s));
    fs::create_directory(s);

    // A user's process at a factory number is never replaced.
    ASSERT_EQ(run_tool({"preset", "defaults", "91", "--settings-dir", s}).status, 0);
    const std::string user = file_bytes(s + "/qv$91.dat");
    ToolRun r = run_tool({"preset", "install-factory", "--settings-dir", s});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("kept"), std::string::npos) << r.err;
    EXPECT_EQ(file_bytes(s + "/qv$91.dat"), user);
    for (const char* n : {"90", "92", "93"}) {
        const std::string name = std::string("qv$") + n + ".dat";
        EXPECT_EQ(file_bytes(s + "/" + name), file_bytes((build_dir() / "factory" / name).string()))
            << "the installers' files hold the same processes";
    }

    ASSERT_EQ(run_tool({"preset", "list", "--settings-dir", s}, "", d / "list.txt").status, 0);
    const std::string list = file_bytes(d / "list.txt");
    EXPECT_NE(list.find(" 90  GENTLE MUSIC"), std::string::npos) << list;
    EXPECT_NE(list.find(" 91  DEFAULT"), std::string::npos) << list;

    ASSERT_EQ(run_tool({"preset", "set", "92", "overdrive_db=9", "--settings-dir", s}).status, 0);
    ASSERT_EQ(run_tool({"preset", "show", "92", "--settings-dir", s}, "", d / "show.txt").status, 0);
    EXPECT_NE(file_bytes(d / "show.txt").find("overdrive_db                  9  dB"), std::string::npos);
    r = run_tool({"preset", "show", "5", "--settings-dir", s});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("`quorvane preset list`"), std::string::npos) << r.err;
    EXPECT_EQ(run_tool({"preset", "set", "101", "mono=1", "--settings-dir", s}).status, 2);

    ASSERT_EQ(run_tool({"preset", "params"}, "", d / "params.txt").status, 0);
    const std::string params = file_bytes(d / "params.txt");
    // Stage by stage, each row with its panel label, stored range and unit,
    // the range and the default as the panel shows them.
    std::size_t at = 0;
    for (const char* row :
         {"\nstereo expander\n",
          "  width_limiter          Width Limiter        0..100                                    2000             "
          "no effect on the sound\n",
          "\nAGC\n",
          "  gate_threshold_db      GATE dB              0..90       dB        -90..0 dB           40 (-40 dB)\n",
          "\nmultiband\n",
          "  overdrive_db           Overdrive dB         0..30       dB        0..30 dB            10 (10 dB)\n",
          "  ratio_x10              Ratio                10..100     x10       1.0..10.0:1                          "
          "no effect in section 2\n",
          "\ndual band\n", "\noutput\n",
          "  mono                   MONO                 0..1        bit 0x100                     0\n"}) {
        const std::size_t found = params.find(row, at);
        EXPECT_NE(found, std::string::npos) << row << "\n" << params;
        if (found != std::string::npos) at = found;
    }

    // Only the default folder is created, and only to store processes.
    setenv("XDG_CONFIG_HOME", (d / "xdg").c_str(), 1);
    EXPECT_EQ(run_tool({"preset", "list"}).status, 0);
    EXPECT_FALSE(fs::exists(d / "xdg/quorvane"));
    EXPECT_EQ(run_tool({"preset", "install-factory", "-q"}).status, 0);
    EXPECT_TRUE(fs::exists(d / "xdg/quorvane/qv$93.dat"));
    unsetenv("XDG_CONFIG_HOME");
}

TEST(CliHelp, EverySubcommandHasHelpAndTheToolAVersion) {
    for (std::vector<std::string> args : {std::vector<std::string>{"--help"},
                                          {"process", "--help"},
                                          {"stream", "--help"},
                                          {"preset", "--help"},
                                          {"preset", "set", "--help"},
                                          {"preset", "list", "--help"},
                                          {"preset", "install-factory", "--help"},
                                          {"--version"}}) {
        TempDir d;
        const ToolRun r = run_tool(args, "", d / "out");
        EXPECT_EQ(r.status, 0);
        const std::string help = file_bytes(d / "out");
        EXPECT_FALSE(help.empty());
        EXPECT_EQ(help.find("winamp"), std::string::npos) << "the settings folder, not another program's files";
        if (args[0] == "preset" && args[1] == "set") {
            EXPECT_NE(help.find("rewritten"), std::string::npos) << help;
        }
    }
}

}  // namespace
