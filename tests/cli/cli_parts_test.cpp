// The tool's own parts: the streaming WAV header reader, named parameter
// editing, the factory processes and the settings folder, the downmix, the
// dither to 16 bits, the delivery gain, the plot and the progress line.
#include <gtest/gtest.h>
#include <signal.h>
#include <sndfile.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include "cli/audio/audio_convert.h"
#include "cli/audio/downmix.h"
#include "cli/audio/wav_stream.h"
#include "cli/presets/preset_store.h"
#include "cli/report/delivery.h"
#include "cli/report/progress.h"
#include "cli/report/svg_plot.h"
#include "settings/factory.h"
#include "settings/param_table.h"
#include "settings/process_file.h"
#include "settings/settings_folder.h"
#include "settings/startup.h"

namespace {

using qv::cli::WavHeaderStatus;

std::string u32(std::uint32_t v) { return {char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; }
std::string u16(std::uint32_t v) { return {char(v), char(v >> 8)}; }

std::string fmt_chunk(int tag, int channels, int rate, int bits) {
    return "fmt " + u32(16) + u16(tag) + u16(channels) + u32(rate) + u32(rate * channels * bits / 8) +
           u16(channels * bits / 8) + u16(bits);
}

// Parses bytes fed through a pipe, then reports what is left to read.
struct Parsed {
    WavHeaderStatus status;
    qv::cli::WavStreamFormat format;
    std::string error;
    std::string rest;
};

Parsed parse(const std::string& bytes) {
    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    EXPECT_EQ(write(fds[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    close(fds[1]);
    Parsed p;
    p.status = qv::cli::read_wav_header(fds[0], p.format, p.error);
    char buf[256];
    for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) p.rest.append(buf, static_cast<std::size_t>(n));
    close(fds[0]);
    return p;
}

TEST(WavStreamHeader, AcceptsStreamingLengthsExtraChunksAndExtensibleFormat) {
    struct Case {
        const char* name;
        std::string bytes;
        bool until_eof;
        int channels;
    } cases[] = {
        {"canonical", "RIFF" + u32(40) + "WAVE" + fmt_chunk(1, 2, 44100, 16) + "data" + u32(4) + "abcd", false, 2},
        {"ffmpeg pipe",
         "RIFF" + u32(0xFFFFFFFF) + "WAVE" + fmt_chunk(1, 1, 48000, 16) + "data" + u32(0xFFFFFFFF) + "abcd", true, 1},
        {"zero lengths", "RIFF" + u32(0) + "WAVE" + fmt_chunk(1, 2, 44100, 16) + "data" + u32(0) + "abcd", true, 2},
        {"odd LIST chunk padded",
         "RIFF" + u32(0) + "WAVE" + fmt_chunk(1, 2, 44100, 16) + "LIST" + u32(3) + "xyz" + std::string(1, '\0') +
             "data" + u32(4) + "abcd",
         false, 2},
        {"extensible PCM",
         "RIFF" + u32(0) + "WAVE" + "fmt " + u32(40) + u16(0xFFFE) + u16(2) + u32(44100) + u32(176400) + u16(4) +
             u16(16) + u16(22) + u16(16) + u32(3) + u16(1) + std::string(14, 'g') + "data" + u32(0xFFFFFFFF) + "abcd",
         true, 2},
        {"RF64",
         "RF64" + u32(0xFFFFFFFF) + "WAVE" + "ds64" + u32(4) + "zzzz" + fmt_chunk(1, 2, 44100, 16) + "data" +
             u32(0xFFFFFFFF) + "abcd",
         true, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Parsed p = parse(c.bytes);
        ASSERT_EQ(p.status, WavHeaderStatus::ok) << p.error;
        EXPECT_EQ(p.format.until_eof, c.until_eof);
        EXPECT_EQ(p.format.channels, c.channels);
        EXPECT_EQ(p.rest, "abcd") << "the header is consumed up to the audio, not beyond";
    }
}

TEST(WavStreamHeader, RefusesWhatCannotBeProcessed) {
    struct Case {
        std::string bytes;
        WavHeaderStatus status;
        const char* message;
    } cases[] = {
        {"RIFF" + u32(0) + "WAVE" + fmt_chunk(1, 2, 44100, 24) + "data" + u32(0), WavHeaderStatus::unsupported,
         "24-bit"},
        {"RIFF" + u32(0) + "WAVE" + fmt_chunk(1, 6, 44100, 16) + "data" + u32(0), WavHeaderStatus::unsupported,
         "6 channels"},
        {"RIFF" + u32(0) + "WAVE" + fmt_chunk(3, 2, 44100, 32) + "data" + u32(0), WavHeaderStatus::unsupported,
         "not integer PCM"},
        {"RIFF" + u32(0) + "WAVE" + "data" + u32(0), WavHeaderStatus::not_wav, "before its 'fmt '"},
        {"RIFF" + u32(0) + "WAVE" + fmt_chunk(1, 2, 1, 16) + "data" + u32(0), WavHeaderStatus::unsupported,
         "1 Hz is outside 8000..768000"},
        {"RIFF" + u32(0) + "WAVE" + fmt_chunk(1, 1, 800000, 16) + "data" + u32(0), WavHeaderStatus::unsupported,
         "outside"},
        {"OggS and more bytes", WavHeaderStatus::not_wav, "--raw"},
        {"text", WavHeaderStatus::not_wav, "--raw"},
        {"RIFF" + u32(0), WavHeaderStatus::truncated, "ends"},
        {"RIFF" + u32(0) + "WAVE" + fmt_chunk(1, 2, 44100, 16).substr(0, 10), WavHeaderStatus::truncated, "ends"},
        {"", WavHeaderStatus::truncated, "empty"},
    };
    for (const Case& c : cases) {
        const Parsed p = parse(c.bytes);
        EXPECT_EQ(p.status, c.status) << p.error;
        EXPECT_NE(p.error.find(c.message), std::string::npos) << p.error;
    }
}

// A header that never reaches its data, from a writer that never stops:
// empty chunks one after another, or one chunk claiming nearly 4 GiB.
TEST(WavStreamHeader, GivesUpOnAnEndlessHeader) {
    signal(SIGPIPE, SIG_IGN);
    const std::string start = "RIFF" + u32(0) + "WAVE" + fmt_chunk(1, 2, 44100, 16);
    for (const std::string& prefix : {start, start + "JUNK" + u32(0xFFFFFFF0)}) {
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        std::thread writer([&prefix, fd = fds[1]] {
            const std::string zeros(4096, '\0');
            if (write(fd, prefix.data(), prefix.size()) == static_cast<ssize_t>(prefix.size()))
                while (write(fd, zeros.data(), zeros.size()) > 0) {
                }
            close(fd);
        });
        qv::cli::WavStreamFormat format;
        std::string error;
        EXPECT_EQ(qv::cli::read_wav_header(fds[0], format, error), WavHeaderStatus::not_wav);
        EXPECT_NE(error.find("no audio data within"), std::string::npos) << error;
        close(fds[0]);  // the writer's next write fails
        writer.join();
    }
}

TEST(WavStreamHeader, WrittenHeaderReadsBack) {
    unsigned char h[qv::cli::kWavHeaderBytes];
    qv::cli::make_wav_header(h, 1, 44100, qv::cli::kStreamingLength);
    Parsed p = parse(std::string(reinterpret_cast<char*>(h), sizeof h));
    ASSERT_EQ(p.status, WavHeaderStatus::ok);
    EXPECT_TRUE(p.format.until_eof);
    EXPECT_EQ(p.format.rate, 44100);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(h + 4), 4), std::string(4, '\xFF'));
    qv::cli::make_wav_header(h, 2, 44100, 1000);
    p = parse(std::string(reinterpret_cast<char*>(h), sizeof h));
    EXPECT_FALSE(p.format.until_eof);
    EXPECT_EQ(p.format.data_bytes, 1000u);
    EXPECT_EQ(h[4] | (h[5] << 8), 1036);
}

TEST(ParamEdit, NamesRangesAndOptionBits) {
    qv::ProcessParams p;
    qv::fill_defaults(p);
    std::string error;
    EXPECT_TRUE(qv::apply_param_assignment(p, "overdrive_db=30", error)) << error;
    EXPECT_EQ(p.global.overdrive_db, 30);
    EXPECT_TRUE(qv::apply_param_assignment(p, "density_overdrive_db=-20", error)) << error;
    EXPECT_EQ(p.global.density_overdrive_db, -20);
    EXPECT_TRUE(qv::apply_param_assignment(p, "option_flags=0x401", error)) << error;
    EXPECT_EQ(p.global.option_flags, 0x401);
    EXPECT_TRUE(qv::apply_param_assignment(p, "phase_rotator=0", error));
    EXPECT_TRUE(qv::apply_param_assignment(p, "mono=1", error));
    EXPECT_EQ(p.global.option_flags, 0x500);
    EXPECT_TRUE(qv::apply_param_assignment(p, "section.4.2.threshold_db10=-200", error));
    EXPECT_EQ(p.section[4][2].threshold_db10, -200);
    EXPECT_TRUE(qv::apply_param_assignment(p, "section.6.0.band_gain_db10=-60", error));
    EXPECT_EQ(p.section[6][0].band_gain_db10, -60);
    EXPECT_TRUE(qv::apply_param_assignment(p, "process_name=MORNING SHOW 2024", error));
    EXPECT_STREQ(p.global.process_name, "MORNING SHOW 2024");

    const qv::ProcessParams before = p;
    for (const std::string& bad : std::initializer_list<std::string>{
             "overdrive_db=31", "section.0.0.band_gain_db10=-121", "section.5.0.band_gain_db10=-61",
             "section.0.3.ratio_x10=20", "section.0.0.ratio=20", "option_flags=0x1000", "mono=-1",
             "agc_on=", "agc_on=1.5", "agc_on=010x", "=1", "agc_on", "process_name=" + std::string(20, 'x')}) {
        EXPECT_FALSE(qv::apply_param_assignment(p, bad, error)) << bad;
        EXPECT_FALSE(error.empty());
    }
    EXPECT_EQ(std::memcmp(&p, &before, sizeof p), 0) << "a refused assignment changes nothing";
}

TEST(Downmix, ItuGainsLfeDroppedOverloadsCounted) {
    qv::cli::Downmix d;
    std::string error;
    ASSERT_TRUE(qv::cli::downmix_plan(d, 6, {}, SF_FORMAT_WAV, error)) << error;
    EXPECT_EQ(d.layout, "FL FR FC LFE BL BR");
    const float in[12] = {0.1f, 0.2f, 0.4f, 0.9f, 0.3f, 0.05f,  // FL FR FC LFE BL BR
                          0.9f, 0.9f, 0.9f, 0.9f, 0.9f, 0.9f};
    float out[4];
    qv::cli::downmix_apply(d, in, 2, out);
    const double g = std::sqrt(0.5);  // -3 dB
    EXPECT_NEAR(out[0], 0.1 + g * 0.4 + g * 0.3, 1e-6);
    EXPECT_NEAR(out[1], 0.2 + g * 0.4 + g * 0.05, 1e-6);
    EXPECT_EQ(d.overloads, 2u) << "both sides of the loud frame";

    // The containers' own orders, and a channel map over them.
    ASSERT_TRUE(qv::cli::downmix_plan(d, 6, {}, SF_FORMAT_OGG, error));
    EXPECT_EQ(d.layout, "FL FC FR BL BR LFE");
    ASSERT_TRUE(qv::cli::downmix_plan(d, 5, {}, SF_FORMAT_FLAC, error));
    EXPECT_EQ(d.layout, "FL FR FC BL BR");
    ASSERT_TRUE(qv::cli::downmix_plan(d, 3, {SF_CHANNEL_MAP_LFE, SF_CHANNEL_MAP_LEFT, SF_CHANNEL_MAP_RIGHT},
                                      SF_FORMAT_WAV, error));
    EXPECT_EQ(d.layout, "LFE L R");
    EXPECT_FALSE(qv::cli::downmix_plan(d, 4,
                                       {SF_CHANNEL_MAP_AMBISONIC_B_W, SF_CHANNEL_MAP_AMBISONIC_B_X,
                                        SF_CHANNEL_MAP_AMBISONIC_B_Y, SF_CHANNEL_MAP_AMBISONIC_B_Z},
                                       SF_FORMAT_WAV, error));
    EXPECT_NE(error.find("no speaker position"), std::string::npos);
}

TEST(Dither, TriangularAroundTheValueAndClamped) {
    qv::cli::TpdfDither d;
    double sum = 0;
    int spread[3] = {0, 0, 0};
    const int n = 100000;
    for (int i = 0; i < n; ++i) {
        const int v = qv::cli::dither_to_16(d, 1000.25f / 32768.0f);
        ASSERT_GE(v, 999);
        ASSERT_LE(v, 1002);
        if (v >= 999 && v <= 1001) ++spread[v - 999];
        sum += v;
    }
    EXPECT_NEAR(sum / n, 1000.25, 0.02) << "dither leaves no bias";
    EXPECT_GT(spread[0], 0);
    EXPECT_GT(spread[2], spread[0]);
    EXPECT_EQ(qv::cli::dither_to_16(d, 2.0f), 32767);
    EXPECT_EQ(qv::cli::dither_to_16(d, -2.0f), -32768);
    EXPECT_EQ(qv::cli::dither_to_16(d, NAN), -32768);
}

TEST(FactoryProcesses, EachIsTheDefaultsPlusItsTextUnderItsOwnNumber) {
    ASSERT_GE(qv::kFactoryProcessCount, 3);
    qv::ProcessParams defaults;
    qv::fill_defaults(defaults);
    std::set<std::string> names;
    int last = 89;
    for (int i = 0; i < qv::kFactoryProcessCount; ++i) {
        const qv::FactoryProcess& f = qv::kFactoryProcesses[i];
        SCOPED_TRACE(f.number);
        EXPECT_GT(f.number, last) << "numbers 90 and up, ascending, each once";
        EXPECT_LE(f.number, 100);
        last = f.number;
        EXPECT_EQ(qv::find_factory_process(f.number), &f);
        qv::ProcessParams p;
        std::string error;
        ASSERT_TRUE(qv::factory_params(f, p, error)) << error;
        EXPECT_STREQ(p.global.process_name, f.name);
        EXPECT_TRUE(names.insert(f.name).second);
        EXPECT_NE(std::memcmp(&p.section, &defaults.section, sizeof p.section), 0) << "a sound of its own";
        EXPECT_NE(std::string(f.description), "");
    }
    EXPECT_EQ(qv::find_factory_process(0), nullptr);
}

TEST(SettingsFolder, ResolvesNumbersWithoutCreatingAnything) {
    char pattern[] = "/tmp/quorvane-folder.XXXXXX";
    const std::filesystem::path root = mkdtemp(pattern);
    const std::string dir = (root / "settings").string();
    qv::ProcessParams p;
    std::string description, error;

    EXPECT_FALSE(qv::cli::resolve_process(dir, 3, p, description, error));
    EXPECT_NE(error.find("no such settings folder"), std::string::npos) << error;
    EXPECT_FALSE(std::filesystem::exists(dir));
    EXPECT_FALSE(qv::cli::settings_folder_for_writing(dir, description, error)) << "--settings-dir is never created";
    EXPECT_FALSE(std::filesystem::exists(dir));

    std::filesystem::create_directory(dir);
    ASSERT_TRUE(qv::cli::resolve_process(dir, std::nullopt, p, description, error)) << error;
    EXPECT_EQ(description, "built-in default \"DEFAULT\"");
    EXPECT_FALSE(qv::cli::resolve_process(dir, 91, p, description, error));
    EXPECT_NE(error.find("`quorvane preset list`"), std::string::npos) << error;
    EXPECT_NE(error.find("install-factory"), std::string::npos) << "91 is a factory number: " << error;
    EXPECT_FALSE(qv::cli::resolve_process(dir, 0, p, description, error)) << "an explicit 0 must exist too";

    qv::ProcessParams stored;
    qv::fill_defaults(stored);
    ASSERT_TRUE(qv::apply_param_assignment(stored, "process_name=NEWS", error));
    ASSERT_TRUE(qv::write_process_file(qv::process_file_in(dir, 0).c_str(), stored));
    ASSERT_TRUE(qv::cli::resolve_process(dir, std::nullopt, p, description, error)) << error;
    EXPECT_EQ(description, "process 0 \"NEWS\"");
    std::ofstream(qv::process_file_in(dir, 7)) << "short";
    EXPECT_FALSE(qv::cli::resolve_process(dir, 7, p, description, error));
    EXPECT_NE(error.find("not a valid process file"), std::string::npos) << error;

    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir)) ++entries;
    EXPECT_EQ(entries, 2u) << "resolving writes nothing";
    std::filesystem::remove_all(root);
}

TEST(Delivery, TheLowerGainWinsAndFullScaleIsAlwaysACeiling) {
    using qv::cli::DeliveryLimit;
    const qv::cli::LoudnessFigures measured{-0.5, -0.3, -13.0, 6.0};
    struct Case {
        std::optional<double> lufs, dbtp, ceiling;
        double peak_sample;
        double gain_db;
        DeliveryLimit limit;
    } cases[] = {
        {-16.0, -1.0, std::nullopt, 31000, -3.0, DeliveryLimit::loudness},
        {-10.0, -1.0, std::nullopt, 31000, -0.7, DeliveryLimit::true_peak},
        {std::nullopt, -2.0, std::nullopt, 31000, -1.7, DeliveryLimit::true_peak},
        {-5.0, std::nullopt, std::nullopt, 16384, 20 * std::log10(32767.0 / 16384), DeliveryLimit::full_scale},
        {-14.0, std::nullopt, std::nullopt, 16384, -1.0, DeliveryLimit::loudness},
        // The processor's ceiling is a true-peak limit as well; the lower one holds.
        {-10.0, std::nullopt, -1.0, 31000, -0.7, DeliveryLimit::ceiling},
        {-10.0, -0.5, -1.0, 31000, -0.7, DeliveryLimit::ceiling},
        {-10.0, -2.0, -1.0, 31000, -1.7, DeliveryLimit::true_peak},
        {-16.0, std::nullopt, -1.0, 31000, -3.0, DeliveryLimit::loudness},
    };
    for (const Case& c : cases) {
        const qv::cli::DeliveryGain g = qv::cli::delivery_gain(measured, c.peak_sample, {c.lufs, c.dbtp, c.ceiling});
        EXPECT_NEAR(g.gain_db, c.gain_db, 1e-9);
        EXPECT_EQ(g.limit, c.limit);
    }
    const qv::cli::LoudnessFigures silence{-INFINITY, -INFINITY, -INFINITY, 0};
    const qv::cli::DeliveryGain g = qv::cli::delivery_gain(silence, 0, {-16.0, -1.0, -1.0});
    EXPECT_EQ(g.gain_db, 0.0);
    EXPECT_EQ(g.limit, DeliveryLimit::none);
}

TEST(SvgPlot, AnHourKeepsToThePointBudgetWithTheLegendBesideThePanes) {
    qv::cli::PlotData d;
    const int points = 36000;  // an hour at 100 ms
    for (int i = 0; i < points; ++i) {
        const double t = 0.1 * i;
        d.input_lufs.push_back(i % 600 < 10 ? -INFINITY : -30 + 10 * std::sin(t));
        d.output_lufs.push_back(-14 + std::sin(3 * t));
        d.master_gain.push_back(2 + std::sin(t));
        d.bass_gain.push_back(2 + std::cos(t));
        for (auto& band : d.band_reduction_db) band.push_back(3 + 2 * std::sin(t));
    }
    d.input_integrated_lufs = -29.5;
    d.output_integrated_lufs = -14.0;
    d.target_lufs = -16.0;
    const std::string svg = qv::cli::render_plot(d);
    EXPECT_LT(svg.size(), 400000u);

    // Attribute values found by hand: libstdc++'s regex recurses once per
    // character and overflows the stack on an hour's polylines.
    auto attributes = [&](const std::string& prefix) {
        std::vector<std::string> values;
        for (std::size_t at = svg.find(prefix); at != std::string::npos; at = svg.find(prefix, at + 1)) {
            const std::size_t from = at + prefix.size();
            values.push_back(svg.substr(from, svg.find('"', from) - from));
        }
        return values;
    };
    double max_curve_x = 0;
    int polylines = 0;
    for (const std::string& pts : attributes("points=\"")) {
        int count = 0;
        std::istringstream in(pts);
        std::string pair;
        while (in >> pair) {
            max_curve_x = std::max(max_curve_x, std::stod(pair.substr(0, pair.find(','))));
            ++count;
        }
        EXPECT_LE(count, 2 * 1000) << "at most two points per pixel column";
        ++polylines;
    }
    EXPECT_GE(polylines, 2 + 2 + 5);
    int legends = 0;
    for (const std::string& x : attributes("class=\"legend\" x=\"")) {
        EXPECT_GT(std::stod(x), max_curve_x + 10);
        ++legends;
    }
    EXPECT_EQ(legends, 5 + 2 + 5);
    for (const char* text : {">-70<", ">0:30:00<", ">1:00:00<", "target -16.0 LUFS", "input I -29.5 LUFS",
                             "output I -14.0 LUFS", "band 5", "h:mm:ss"})
        EXPECT_NE(svg.find(text), std::string::npos) << text;
    EXPECT_EQ(qv::cli::time_label(59.6, false), "1:00");
    EXPECT_EQ(qv::cli::time_label(3725, true), "1:02:05");
}

TEST(ProgressLine, ShowsElapsedSpeedAndTimeLeft) {
    const std::string line = qv::cli::progress_text(60, 240, 10);
    for (const char* text : {" 25%", "1:00 of 4:00", "elapsed 0:10", "6.0x realtime", "left 0:30"})
        EXPECT_NE(line.find(text), std::string::npos) << line;
    EXPECT_EQ(qv::cli::progress_text(0, 240, 0).find("left"), std::string::npos) << "no speed before any progress";
}

}  // namespace
