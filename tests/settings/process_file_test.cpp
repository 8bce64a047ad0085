#include "settings/process_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <random>

#include "settings/conversions.h"
#include "settings/startup.h"
#include "tests/temp_host_dir.h"

namespace qv {
namespace {

using test::read_bytes;
using test::TempHostDir;
using test::write_bytes;

std::int32_t word_at(const std::vector<unsigned char>& b, std::size_t off) {
    return static_cast<std::int32_t>(b[off] | b[off + 1] << 8 | b[off + 2] << 16 | std::uint32_t{b[off + 3]} << 24);
}

void fill_random(ProcessParams& p, std::uint32_t seed) {
    std::mt19937 rng(seed);
    auto* w = reinterpret_cast<std::uint32_t*>(&p);
    for (std::size_t i = 0; i < sizeof p / 4; ++i) w[i] = rng();
}

TEST(ProcessFile, PathBesideTheHost) {
    TempHostDir host;
    char path[1024];
    ASSERT_TRUE(process_file_path(100, path, sizeof path));
    EXPECT_EQ(std::string(path), host.path("qv$100.dat"));
    ASSERT_TRUE(process_file_path(7, path, sizeof path));
    EXPECT_EQ(std::string(path), host.path("qv$7.dat"));
    ASSERT_TRUE(process_file_path(0, path, sizeof path));
    EXPECT_EQ(std::string(path), host.path("qv$0.dat"));
    EXPECT_FALSE(process_file_path(101, path, sizeof path));
    EXPECT_FALSE(process_file_path(-1, path, sizeof path));
    EXPECT_FALSE(process_file_path(5, path, 8));  // does not fit
}

TEST(ProcessFile, LayoutOfTheDefaultProcess) {
    TempHostDir host;
    auto s = std::make_unique<Settings>();
    fill_defaults(s->live);
    ASSERT_TRUE(save_process(*s, 0));
    const auto b = read_bytes(host.path("qv$0.dat"));
    ASSERT_EQ(b.size(), 18418u);
    const unsigned char head[14] = {0x32, 0x2E, 0x30, 0, 0, 0, 0, 0, 0, 0, 0xB3, 0x5A, 0x07, 0x00};
    EXPECT_EQ(std::memcmp(b.data(), head, 14), 0);
    EXPECT_EQ(std::memcmp(b.data() + 17402, "DEFAULT\0", 8), 0);
    EXPECT_EQ(word_at(b, 14), 40);                                    // band 0 compressor attack1_ms
    EXPECT_EQ(word_at(b, 14 + 3 * 828), 30);                          // band 1 compressor attack1_ms
    EXPECT_EQ(word_at(b, 14 + 828 + 4 * 5), 25);                      // band 0 expander ratio_x10
    EXPECT_EQ(word_at(b, 14 + 20 * 828 + 4 * 4), 60);                 // band 6 limiter threshold_db10
    EXPECT_EQ(word_at(b, 14 + 3 * 828 + 4 * 6), -10);                 // band 1 band_gain_db10
    EXPECT_EQ(word_at(b, 17402 + 4 * 44), 1);                         // option_flags
    EXPECT_EQ(word_at(b, 17402 + 4 * 31), 2000);                      // width_limiter
    EXPECT_EQ(word_at(b, 17402 + 4 * 52), 100);                       // multiband_pct
    EXPECT_EQ(word_at(b, 17402 + 4 * 253), 0);                        // last reserved word
    EXPECT_EQ(host.entries(), std::vector<std::string>{"qv$0.dat"});  // no temporary file left
}

TEST(ProcessFile, RoundTripIsByteIdenticalWithReservedWords) {
    TempHostDir host;
    auto a = std::make_unique<ProcessParams>();
    auto b = std::make_unique<ProcessParams>();
    fill_random(*a, 7);
    const std::string p1 = host.path("one.dat"), p2 = host.path("two.dat");
    ASSERT_TRUE(write_process_file(p1.c_str(), *a));
    ASSERT_TRUE(read_process_file(p1.c_str(), *b));
    EXPECT_EQ(std::memcmp(a.get(), b.get(), sizeof *a), 0);
    ASSERT_TRUE(write_process_file(p2.c_str(), *b));
    EXPECT_EQ(read_bytes(p1), read_bytes(p2));
    // Overwriting an existing file replaces it whole.
    fill_random(*a, 8);
    ASSERT_TRUE(write_process_file(p1.c_str(), *a));
    ASSERT_TRUE(read_process_file(p1.c_str(), *b));
    EXPECT_EQ(std::memcmp(a.get(), b.get(), sizeof *a), 0);
}

TEST(ProcessFile, WhatTheReadersAccept) {
    TempHostDir host;
    auto p = std::make_unique<ProcessParams>();
    fill_defaults(*p);
    unsigned char img[kProcessFileBytes + 100] = {};
    encode_process(*p, reinterpret_cast<unsigned char(&)[kProcessFileBytes]>(img));
    const std::string path = host.path("x.dat");
    auto out = std::make_unique<ProcessParams>();

    write_bytes(path, img, kProcessFileBytes + 100);  // longer: the excess is ignored
    EXPECT_TRUE(read_process_file(path.c_str(), *out));
    EXPECT_EQ(std::memcmp(out.get(), p.get(), sizeof *p), 0);

    write_bytes(path, img, kProcessFileBytes - 1);  // one byte short
    EXPECT_FALSE(read_process_file(path.c_str(), *out));
    write_bytes(path, img, 14);  // header only
    EXPECT_FALSE(read_process_file(path.c_str(), *out));
    write_bytes(path, img, 0);
    EXPECT_FALSE(read_process_file(path.c_str(), *out));

    for (int delta : {1, -1, 256}) {
        const std::int32_t magic = kProcessMagic + delta;
        std::memcpy(img + 10, &magic, 4);
        write_bytes(path, img, kProcessFileBytes);
        EXPECT_FALSE(read_process_file(path.c_str(), *out)) << delta;
    }
    EXPECT_FALSE(read_process_file(host.path("missing.dat").c_str(), *out));
}

TEST(ProcessFile, ShortFileLeavesTheWordsItDoesNotHold) {
    auto p = std::make_unique<ProcessParams>();
    fill_defaults(*p);
    unsigned char img[kProcessFileBytes];
    encode_process(*p, img);
    auto out = std::make_unique<ProcessParams>();
    std::memset(out.get(), 0x5A, sizeof *out);
    EXPECT_FALSE(decode_process(img, 14 + 8 + 2, *out));  // two words and half of a third
    EXPECT_EQ(out->section[0][0].attack1_ms, 40);
    EXPECT_EQ(out->section[0][0].release1_ms, 1000);
    EXPECT_EQ(out->section[0][0].attack2_ms, 0x5A5A5A5A);
}

TEST(ProcessFile, ReadOnlyFileLoads) {
    TempHostDir host;
    auto s = std::make_unique<Settings>();
    fill_defaults(s->live);
    s->live.global.overdrive_db = 17;
    ASSERT_TRUE(save_process(*s, 3));
    std::filesystem::permissions(host.path("qv$3.dat"), std::filesystem::perms::owner_read);
    auto t = std::make_unique<Settings>();
    EXPECT_TRUE(load_process_live(*t, 3));
    EXPECT_EQ(t->live.global.overdrive_db, 17);
    EXPECT_EQ(load_process_staged(*t, 3), 1);
    EXPECT_EQ(t->staged.params.global.overdrive_db, 17);
}

TEST(ProcessFile, FailedSaveKeepsTheOldFileAndSaysSo) {
    TempHostDir host;
    auto s = std::make_unique<Settings>();
    fill_defaults(s->live);
    ASSERT_TRUE(save_process(*s, 4));
    const auto before = read_bytes(host.path("qv$4.dat"));
    s->live.global.overdrive_db = 29;

    // The temporary file cannot be written in full: no trace of it stays.
    {
        test::FileSizeLimit limit(1000);
        EXPECT_FALSE(save_process(*s, 4));
    }
    EXPECT_EQ(read_bytes(host.path("qv$4.dat")), before);
    EXPECT_EQ(host.entries(), std::vector<std::string>{"qv$4.dat"});

    // A link planted where a temporary file of a fixed name would go is not
    // followed: its target keeps its bytes.
    test::write_text(host.path("victim"), "keep");
    std::filesystem::create_symlink(host.path("victim"), host.path("qv$4.dat.tmp"));
    EXPECT_TRUE(save_process(*s, 4));
    EXPECT_EQ(test::read_text(host.path("victim")), "keep");
    std::filesystem::remove(host.path("qv$4.dat.tmp"));

    // The rename cannot replace the target: nothing of the attempt stays.
    std::filesystem::create_directories(host.path("qv$5.dat/inner"));
    EXPECT_FALSE(save_process(*s, 5));
    EXPECT_EQ(host.entries(), (std::vector<std::string>{"qv$4.dat", "qv$5.dat", "victim"}));

    // A directory that does not exist.
    EXPECT_FALSE(write_process_file(host.path("no/such/dir/x.dat").c_str(), s->live));
}

// A write-protected process is the user's way of keeping it: Save fails and
// the file keeps its bytes, although the rename of the temporary file alone
// would be allowed by the directory (and is, for root).
TEST(ProcessFile, SaveRefusesAWriteProtectedFile) {
    TempHostDir host;
    auto s = std::make_unique<Settings>();
    fill_defaults(s->live);
    ASSERT_TRUE(save_process(*s, 6));
    const auto before = read_bytes(host.path("qv$6.dat"));
    std::filesystem::permissions(host.path("qv$6.dat"), std::filesystem::perms::owner_read);
    s->live.global.overdrive_db = 29;
    EXPECT_FALSE(save_process(*s, 6));
    EXPECT_EQ(read_bytes(host.path("qv$6.dat")), before);
    EXPECT_EQ(host.entries(), std::vector<std::string>{"qv$6.dat"});
    // Writable again, the same Save succeeds.
    std::filesystem::permissions(host.path("qv$6.dat"),
                                 std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    EXPECT_TRUE(save_process(*s, 6));
    auto t = std::make_unique<Settings>();
    ASSERT_TRUE(load_process_live(*t, 6));
    EXPECT_EQ(t->live.global.overdrive_db, 29);
}

TEST(ProcessFile, FailedSaveInAnUnwritableDirectory) {
    if (geteuid() == 0) GTEST_SKIP() << "root writes into read-only directories";
    TempHostDir host;
    auto s = std::make_unique<Settings>();
    fill_defaults(s->live);
    ASSERT_TRUE(save_process(*s, 4));
    const auto before = read_bytes(host.path("qv$4.dat"));
    s->live.global.overdrive_db = 29;
    std::filesystem::permissions(host.dir(), std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    EXPECT_FALSE(save_process(*s, 4));
    EXPECT_EQ(read_bytes(host.path("qv$4.dat")), before);
}

TEST(ProcessFile, StagedLoadClampsRatiosAndDerives) {
    TempHostDir host;
    auto s = std::make_unique<Settings>();
    fill_defaults(s->live);
    for (int b = 0; b < kBands; ++b) {
        s->live.section[b][kCompressor].ratio_x10 = 200;
        s->live.section[b][kExpander].ratio_x10 = 200;
        s->live.section[b][kLimiter].ratio_x10 = 0;
    }
    s->live.section[2][kCompressor].band_gain_db10 = 120;
    ASSERT_TRUE(save_process(*s, 9));
    const auto file_before = read_bytes(host.path("qv$9.dat"));

    auto t = std::make_unique<Settings>();
    fill_defaults(t->live);
    ASSERT_EQ(load_process_staged(*t, 9), 1);
    const StagedProcess& st = t->staged;
    for (int b = 0; b < kBands; ++b) {
        EXPECT_EQ(st.params.section[b][kCompressor].ratio_x10, 100);
        EXPECT_EQ(st.params.section[b][kLimiter].ratio_x10, 10);
        EXPECT_DOUBLE_EQ(st.section_coefs[b][kCompressor].ratio_exponent, -0.9);
        EXPECT_DOUBLE_EQ(st.section_coefs[b][kExpander].ratio_exponent, 0.9);
        EXPECT_EQ(st.section_coefs[b][kLimiter].ratio_exponent, 0.0);
        EXPECT_EQ(st.section_coefs[b][kCompressor].threshold_level, 16422);
        EXPECT_EQ(st.section_coefs[b][kCompressor].release2_coef, tc(20000));
    }
    EXPECT_EQ(st.band_gain_level[2], 130447);
    EXPECT_EQ(st.band_gain_level[0], lvl200(30));
    EXPECT_EQ(t->live.section[0][kCompressor].ratio_x10, 40);   // the live process is untouched
    EXPECT_EQ(read_bytes(host.path("qv$9.dat")), file_before);  // the file keeps its words
}

TEST(ProcessFile, StagedLoadOfNothingShowsEmpty) {
    TempHostDir host;
    auto t = std::make_unique<Settings>();
    std::memcpy(t->staged.params.global.process_name, "ABCDEFGHIJKLMNOPQRS", 20);
    EXPECT_EQ(load_process_staged(*t, 12), 0);
    // "EMPTY" and its terminator over the start; the rest stays as it was.
    EXPECT_EQ(std::memcmp(t->staged.params.global.process_name, "EMPTY\0GHIJ", 10), 0);
    EXPECT_EQ(load_process_staged(*t, 101), 0);

    unsigned char junk[kProcessFileBytes] = {};
    write_bytes(host.path("qv$13.dat"), junk, sizeof junk);  // wrong magic
    EXPECT_EQ(load_process_staged(*t, 13), 0);
    EXPECT_STREQ(t->staged.params.global.process_name, "EMPTY");
}

}  // namespace
}  // namespace qv
