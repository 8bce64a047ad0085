#include "platform/profile.h"

#include <gtest/gtest.h>

#include "tests/temp_host_dir.h"

namespace qv::platform {
namespace {

using test::read_text;
using test::TempHostDir;
using test::write_text;

class Profile : public ::testing::Test {
protected:
    int read(const char* section, const char* key, int def = -99) {
        return profile_read_int(section, key, def, file.c_str());
    }
    TempHostDir host;
    std::string file = host.path("host.ini");
};

TEST_F(Profile, MissingFileSectionOrKeyGivesTheDefault) {
    EXPECT_EQ(read("S", "k", 5), 5);
    write_text(file, "[S]\nother=1\n[T]\nk=3\n");
    EXPECT_EQ(read("S", "k", 5), 5);
    EXPECT_EQ(read("U", "k", 6), 6);
    EXPECT_EQ(read("T", "k", 6), 3);
}

TEST_F(Profile, NamesCompareWithoutCase) {
    write_text(file, "[Quorvane2]\r\nPOS_X=12\r\n  pos_y  =  -7  \r\n");
    EXPECT_EQ(read("quorvane2", "pos_x"), 12);
    EXPECT_EQ(read("QUORVANE2", "Pos_Y"), -7);
}

TEST_F(Profile, IntegersParseLikeTheWindowsReader) {
    write_text(file,
               "[n]\nplain=42\nplus=+5\nminus=-17\ntrail=12abc\nletters=abc\nhex=0x1F\nhexup=0X1F\noct=0o17\n"
               "bin=0b101\nempty=\nnoeq\nwrap=4294967295\nbig=4294967296\nquoted=\"15\"\nsquote='-3'\n"
               "space=1 2\nsigns=--4\nhexneg=-0x10\n");
    EXPECT_EQ(read("n", "plain"), 42);
    EXPECT_EQ(read("n", "plus"), 5);
    EXPECT_EQ(read("n", "minus"), -17);
    EXPECT_EQ(read("n", "trail"), 12);
    EXPECT_EQ(read("n", "letters"), 0);
    EXPECT_EQ(read("n", "hex"), 31);
    EXPECT_EQ(read("n", "hexup"), 0);  // only a lowercase prefix counts
    EXPECT_EQ(read("n", "oct"), 15);
    EXPECT_EQ(read("n", "bin"), 5);
    EXPECT_EQ(read("n", "empty"), -99);
    EXPECT_EQ(read("n", "noeq"), -99);
    EXPECT_EQ(read("n", "wrap"), -1);  // modulo 2^32
    EXPECT_EQ(read("n", "big"), 0);
    EXPECT_EQ(read("n", "quoted"), 15);
    EXPECT_EQ(read("n", "squote"), -3);
    EXPECT_EQ(read("n", "space"), 1);
    EXPECT_EQ(read("n", "signs"), 0);
    EXPECT_EQ(read("n", "hexneg"), -16);
}

TEST_F(Profile, FirstSectionAndKeyOfAName) {
    write_text(file, "k=1\n[a]\nk=2\nk=3\n[b]\nk=4\n[A]\nk=5\nj=6\n");
    EXPECT_EQ(read("a", "k"), 2);
    EXPECT_EQ(read("a", "j"), -99);  // only the first [a] is searched
    EXPECT_EQ(read("b", "k"), 4);
}

TEST_F(Profile, WriteCreatesFileSectionAndKey) {
    ASSERT_TRUE(profile_write_string("Quorvane2", "pos_x", "5", file.c_str()));
    EXPECT_EQ(read_text(file), "[Quorvane2]\r\npos_x=5\r\n");
    ASSERT_TRUE(profile_write_string("Quorvane2", "pos_y", "-6", file.c_str()));
    ASSERT_TRUE(profile_write_string("Other", "a", "b", file.c_str()));
    EXPECT_EQ(read_text(file), "[Quorvane2]\r\npos_x=5\r\npos_y=-6\r\n[Other]\r\na=b\r\n");
    ASSERT_TRUE(profile_write_string("QUORVANE2", "POS_X", "700", file.c_str()));
    EXPECT_EQ(read_text(file), "[Quorvane2]\r\npos_x=700\r\npos_y=-6\r\n[Other]\r\na=b\r\n");
    EXPECT_EQ(host.entries(), std::vector<std::string>{"host.ini"});
}

TEST_F(Profile, WriteKeepsEveryOtherLine) {
    const std::string head = "\xEF\xBB\xBF; comment\r\n[Winamp]\r\n  volume = 200 ; loud\r\nnoeq\r\n\r\n";
    write_text(file, head + "[q]\r\nx=1\r\n\r\n; trailing comment\r\n[z]\r\ny=2");
    ASSERT_TRUE(profile_write_string("q", "x", "9", file.c_str()));
    ASSERT_TRUE(profile_write_string("q", "w", "3", file.c_str()));
    ASSERT_TRUE(profile_write_string("z", "v", "4", file.c_str()));
    // A comment line counts as a line of its section, as in the Windows reader.
    EXPECT_EQ(read_text(file), head + "[q]\r\nx=9\r\n\r\n; trailing comment\r\nw=3\r\n[z]\r\ny=2\r\nv=4\r\n");
}

TEST_F(Profile, WriteFollowsTheFilesLineEnds) {
    write_text(file, "[a]\nk=1\n");
    ASSERT_TRUE(profile_write_string("b", "k", "2", file.c_str()));
    ASSERT_TRUE(profile_write_string("a", "j", "3", file.c_str()));
    EXPECT_EQ(read_text(file), "[a]\nk=1\nj=3\n[b]\nk=2\n");
    write_text(file, "[a]\nk=1");  // no line end at the end
    ASSERT_TRUE(profile_write_string("a", "j", "3", file.c_str()));
    EXPECT_EQ(read_text(file), "[a]\nk=1\nj=3\n");
}

TEST_F(Profile, WriteFailuresAreReported) {
    EXPECT_FALSE(profile_write_string("a", "k", "1", host.path("no/dir/x.ini").c_str()));
    EXPECT_FALSE(profile_write_string("a", "k", "line\nbreak", file.c_str()));
    EXPECT_FALSE(profile_write_string("", "k", "1", file.c_str()));
    EXPECT_FALSE(std::filesystem::exists(file));

    // A write that fails half way leaves the file and no temporary behind.
    write_text(file, "[a]\nk=1\n");
    {
        test::FileSizeLimit limit(4);
        EXPECT_FALSE(profile_write_string("a", "k", "2", file.c_str()));
    }
    EXPECT_EQ(read_text(file), "[a]\nk=1\n");
    EXPECT_EQ(host.entries(), std::vector<std::string>{"host.ini"});

    // A link planted at a temporary file's fixed name is not followed.
    write_text(host.path("victim"), "keep");
    std::filesystem::create_symlink(host.path("victim"), file + ".qvtmp");
    EXPECT_TRUE(profile_write_string("a", "k", "3", file.c_str()));
    EXPECT_EQ(read_text(host.path("victim")), "keep");
    EXPECT_EQ(read_text(file), "[a]\nk=3\n");
}

TEST_F(Profile, WriteProtectedFileIsLeftAsItIs) {
    write_text(file, "[Quorvane2]\r\nVisible=1\r\n");
    std::filesystem::permissions(file, std::filesystem::perms::owner_read);
    EXPECT_FALSE(profile_write_string("Quorvane2", "Visible", "0", file.c_str()));
    EXPECT_EQ(read_text(file), "[Quorvane2]\r\nVisible=1\r\n");
    EXPECT_EQ(host.entries(), std::vector<std::string>{"host.ini"});
}

}  // namespace
}  // namespace qv::platform
