#include "platform/host_path.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

#include "platform/posix/posix_window.h"
#include "tests/temp_host_dir.h"

namespace qv::platform {
namespace {

TEST(HostPath, EnvironmentNamesTheHostDirectory) {
    test::TempHostDir host;
    char exe[1024];
    ASSERT_TRUE(host_executable_path(exe, sizeof exe));
    EXPECT_EQ(std::string(exe), host.path("quorvane_platform_tests"));
    setenv("QUORVANE_HOST_DIR", (host.dir().string() + "/").c_str(), 1);
    ASSERT_TRUE(host_file_path("winamp.ini", exe, sizeof exe));
    EXPECT_EQ(std::string(exe), host.path("winamp.ini"));
    EXPECT_FALSE(host_file_path("winamp.ini", exe, host.path("winamp.ini").size()));  // no room for the NUL
    EXPECT_STREQ(exe, "");
}

TEST(HostPath, WithoutTheEnvironmentTheExecutablesOwnPath) {
    unsetenv("QUORVANE_HOST_DIR");
    char exe[1024];
    ASSERT_TRUE(host_executable_path(exe, sizeof exe));
    EXPECT_EQ(exe[0], '/');
    EXPECT_NE(std::string(exe).find("quorvane_platform_tests"), std::string::npos);
}

TEST(HostPath, ReplaceFileName) {
    char out[64];
    ASSERT_TRUE(replace_file_name("/opt/player/player.exe", "qv$7.dat", out, sizeof out));
    EXPECT_STREQ(out, "/opt/player/qv$7.dat");
    ASSERT_TRUE(replace_file_name("player", "winamp.ini", out, sizeof out));
    EXPECT_STREQ(out, "winamp.ini");
    ASSERT_TRUE(replace_file_name("/", "a", out, sizeof out));
    EXPECT_STREQ(out, "/a");
    EXPECT_FALSE(replace_file_name("/opt/p", "abc", out, 7));
    ASSERT_TRUE(replace_file_name("/opt/p", "abc", out, 10));
    EXPECT_STREQ(out, "/opt/abc");
}

TEST(PosixWindow, PlacementAndDesktop) {
    PosixWindow w{1, 2, 300, 200};
    ScreenRect r;
    ASSERT_TRUE(window_rect(&w, r));
    EXPECT_EQ(r.left, 1);
    EXPECT_EQ(r.bottom, 202);
    move_window(&w, 50, 60);
    EXPECT_EQ(w.x, 50);
    EXPECT_EQ(w.width, 300);
    EXPECT_FALSE(window_rect(nullptr, r));
    move_window(nullptr, 1, 1);  // ignored
    ASSERT_TRUE(desktop_rect(r));
    EXPECT_EQ(r.right, 1024);
    set_posix_desktop_rect(ScreenRect{0, 0, 0, 0});
    ASSERT_TRUE(desktop_rect(r));
    EXPECT_EQ(r.right, 0);
    set_posix_desktop_rect(ScreenRect{0, 0, 1024, 768});
}

}  // namespace
}  // namespace qv::platform
