#include "settings/startup.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "settings/conversions.h"
#include "settings/derive.h"
#include "settings/process_file.h"
#include "tests/temp_host_dir.h"

namespace qv {
namespace {

using test::read_bytes;
using test::TempHostDir;
using test::write_bytes;
using test::write_text;

std::vector<unsigned char> image_of(const ProcessParams& p) {
    std::vector<unsigned char> v(kProcessFileBytes);
    encode_process(p, reinterpret_cast<unsigned char(&)[kProcessFileBytes]>(*v.data()));
    return v;
}

std::unique_ptr<ProcessParams> defaults() {
    auto p = std::make_unique<ProcessParams>();
    fill_defaults(*p);
    return p;
}

// A valid process that differs from the defaults.
std::unique_ptr<ProcessParams> custom(int marker) {
    auto p = defaults();
    std::memcpy(p->global.process_name, "CUSTOM", 7);
    p->global.overdrive_db = marker;
    p->section[3][kCompressor].reserved[150] = 0x1234;
    return p;
}

void write_ini_number(const TempHostDir& host, int n) {
    write_text(host.path("winamp.ini"), "[Quorvane2]\r\nProcessNumber=" + std::to_string(n) + "\r\n");
}

TEST(Defaults, EveryWord) {
    auto p = defaults();
    const GlobalParams& g = p->global;
    EXPECT_EQ(std::memcmp(g.process_name, "DEFAULT\0\0\0\0\0\0\0\0\0\0\0\0\0", 20), 0);
    const std::pair<int, std::int32_t> named[] = {
        {15, 1},  {16, 25}, {18, 50},  {19, 10},   {20, 3},    {21, 0},    {22, 0},   {23, 0},  {24, 0},
        {25, 0},  {26, 0},  {27, 10},  {29, 0},    {30, 1},    {31, 2000}, {32, 40},  {33, 20}, {34, 0},
        {35, 65}, {36, 0},  {37, 100}, {38, 1},    {39, 0},    {40, 0},    {41, 20},  {42, 40}, {43, 40},
        {44, 1},  {45, 50}, {46, 80},  {47, 4000}, {48, 4000}, {49, 200},  {50, 500}, {51, 50}, {52, 100},
    };
    int expected[kGlobalWords] = {};
    for (auto [w, v] : named) expected[w] = v;
    for (int w = 5; w < kGlobalWords; ++w) EXPECT_EQ(global_word(g, w), expected[w]) << "word " << w;

    const int comp[kBands][7] = {{40, 1000, 500, 20000, 60, 40, 30}, {30, 1000, 500, 20000, 60, 40, -10},
                                 {20, 1000, 500, 20000, 60, 40, 0},  {10, 1000, 500, 20000, 60, 40, 30},
                                 {10, 1000, 500, 20000, 60, 40, 30}, {20, 800, 500, 20000, 60, 80, 0},
                                 {40, 800, 500, 20000, 60, 80, 0}};
    const int expander[7] = {3, 200, 10, 100, 60, 25, 0};
    const int limiter_mb[7] = {10, 300, 0, 0, 40, 10, 0};
    const int limiter_db[7] = {5, 300, 0, 0, 60, 10, 0};
    for (int b = 0; b < kBands; ++b) {
        const int* want[3] = {comp[b], expander, b < 5 ? limiter_mb : limiter_db};
        for (int s = 0; s < kSections; ++s) {
            const auto* words = reinterpret_cast<const std::int32_t*>(&p->section[b][s]);
            for (int w = 0; w < kSectionWords; ++w)
                EXPECT_EQ(words[w], w < 7 ? want[s][w] : 0) << "band " << b << " section " << s << " word " << w;
        }
    }
}

TEST(Startup, FirstRunPlaysAndWritesTheDefaults) {
    TempHostDir host;
    auto s = std::make_unique<Settings>();
    EXPECT_EQ(startup_load(*s), 0);
    EXPECT_EQ(s->host.panel_visible, 1);
    EXPECT_EQ(s->host.panel_minimized, 0);
    EXPECT_EQ(std::memcmp(&s->live, defaults().get(), sizeof(ProcessParams)), 0);
    EXPECT_EQ(read_bytes(host.path("qv$0.dat")), image_of(*defaults()));
    EXPECT_EQ(host.entries(), std::vector<std::string>{"qv$0.dat"});  // no INI written, no backup
    EXPECT_EQ(s->section_coefs[0][kCompressor].threshold_level, 16422);
    EXPECT_EQ(s->band_gain_level[0], lvl200(30));
    EXPECT_EQ(s->band_gain_level[4], lvl200(30));
}

TEST(Startup, ValidFileIsPlayedAndNothingIsWritten) {
    TempHostDir host;
    write_text(host.path("winamp.ini"), "[quorvane2]\nprocessnumber=7\nVisible=0\nMinimized=1\n");
    const auto img = image_of(*custom(23));
    write_bytes(host.path("qv$7.dat"), img.data(), img.size());
    const auto ini_before = read_bytes(host.path("winamp.ini"));
    auto s = std::make_unique<Settings>();
    EXPECT_EQ(startup_load(*s), 7);
    EXPECT_EQ(s->live.global.overdrive_db, 23);
    EXPECT_STREQ(s->live.global.process_name, "CUSTOM");
    EXPECT_EQ(s->live.section[3][kCompressor].reserved[150], 0x1234);
    EXPECT_EQ(s->host.panel_visible, 0);
    EXPECT_EQ(s->host.panel_minimized, 1);
    EXPECT_EQ(read_bytes(host.path("qv$7.dat")), img);
    EXPECT_EQ(read_bytes(host.path("winamp.ini")), ini_before);
    EXPECT_EQ(host.entries(), (std::vector<std::string>{"qv$7.dat", "winamp.ini"}));
}

TEST(Startup, InvalidFileIsReplacedAndKeptAsBad) {
    for (const char* kind : {"magic", "truncated"}) {
        TempHostDir host;
        write_ini_number(host, 7);
        auto img = image_of(*custom(23));
        if (std::string(kind) == "magic") {
            img[10] ^= 1;
        } else {
            img.resize(kProcessFileBytes - 400);
        }
        write_bytes(host.path("qv$7.dat"), img.data(), img.size());
        write_text(host.path("qv$7.dat.bad"), "an older backup");
        auto s = std::make_unique<Settings>();
        EXPECT_EQ(startup_load(*s), 7) << kind;
        EXPECT_EQ(s->live.global.overdrive_db, 10) << kind;
        EXPECT_STREQ(s->live.global.process_name, "DEFAULT");
        EXPECT_EQ(read_bytes(host.path("qv$7.dat")), image_of(*defaults())) << kind;
        EXPECT_EQ(read_bytes(host.path("qv$7.dat.bad")), img) << kind;
        EXPECT_EQ(host.entries(), (std::vector<std::string>{"qv$7.dat", "qv$7.dat.bad", "winamp.ini"}));
    }
}

TEST(Startup, NumberRange) {
    {
        TempHostDir host;
        write_ini_number(host, 100);
        const auto img = image_of(*custom(5));
        write_bytes(host.path("qv$100.dat"), img.data(), img.size());
        auto s = std::make_unique<Settings>();
        EXPECT_EQ(startup_load(*s), 100);
        EXPECT_EQ(s->live.global.overdrive_db, 5);
    }
    for (int n : {101, -1, 2147483647}) {
        // Out of range: the defaults under number 0, a valid file 0 untouched.
        TempHostDir host;
        write_ini_number(host, n);
        const auto img = image_of(*custom(6));
        write_bytes(host.path("qv$0.dat"), img.data(), img.size());
        auto s = std::make_unique<Settings>();
        EXPECT_EQ(startup_load(*s), 0) << n;
        EXPECT_EQ(s->live.global.overdrive_db, 10) << n;
        EXPECT_EQ(read_bytes(host.path("qv$0.dat")), img) << n;
        EXPECT_EQ(host.entries(), (std::vector<std::string>{"qv$0.dat", "winamp.ini"}));
    }
    {
        // Out of range with no file 0: the defaults are written to it.
        TempHostDir host;
        write_ini_number(host, 101);
        auto s = std::make_unique<Settings>();
        EXPECT_EQ(startup_load(*s), 0);
        EXPECT_EQ(read_bytes(host.path("qv$0.dat")), image_of(*defaults()));
    }
}

TEST(Startup, ClampsAndStereoDepth) {
    TempHostDir host;
    write_ini_number(host, 2);
    auto p = custom(1);
    p->section[0][kCompressor].ratio_x10 = 5;
    p->section[1][kExpander].ratio_x10 = 250;
    p->global.stereo_depth_ms = 12;
    const auto img = image_of(*p);
    write_bytes(host.path("qv$2.dat"), img.data(), img.size());
    auto s = std::make_unique<Settings>();
    ASSERT_EQ(startup_load(*s), 2);
    EXPECT_EQ(s->live.section[0][kCompressor].ratio_x10, 10);
    EXPECT_EQ(s->live.section[1][kExpander].ratio_x10, 100);
    EXPECT_DOUBLE_EQ(s->section_coefs[1][kExpander].ratio_exponent, 0.9);
    EXPECT_EQ(read_bytes(host.path("qv$2.dat")), img);  // the file keeps its words
    recompute_all(*s);                                  // as Init does next
    EXPECT_EQ(s->derived.stereo_depth_samples, 529);

    p->global.stereo_depth_ms = 25;
    const auto img25 = image_of(*p);
    write_bytes(host.path("qv$2.dat"), img25.data(), img25.size());
    auto t = std::make_unique<Settings>();
    ASSERT_EQ(startup_load(*t), 2);
    EXPECT_EQ(t->live.global.stereo_depth_ms, 0);
    recompute_all(*t);
    EXPECT_EQ(t->derived.stereo_depth_samples, 0);
}

TEST(Startup, DefaultsPlayWhenTheFileCannotBeWritten) {
    TempHostDir host;
    write_ini_number(host, 3);
    auto s = std::make_unique<Settings>();
    {
        test::FileSizeLimit limit(1000);  // the INI fits, a process file does not
        EXPECT_EQ(startup_load(*s), 3);
    }
    EXPECT_EQ(std::memcmp(&s->live, defaults().get(), sizeof(ProcessParams)), 0);
    EXPECT_FALSE(std::filesystem::exists(host.path("qv$3.dat")));
}

}  // namespace
}  // namespace qv
