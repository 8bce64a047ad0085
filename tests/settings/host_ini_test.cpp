#include "settings/host_ini.h"

#include <gtest/gtest.h>

#include <memory>

#include "platform/posix/posix_window.h"
#include "tests/temp_host_dir.h"

namespace qv {
namespace {

using platform::PosixWindow;
using platform::ScreenRect;
using test::read_text;
using test::TempHostDir;
using test::write_text;

class HostIni : public ::testing::Test {
protected:
    void SetUp() override { platform::set_posix_desktop_rect(ScreenRect{0, 0, 1024, 768}); }
    void TearDown() override { platform::set_posix_desktop_rect(ScreenRect{0, 0, 1024, 768}); }
    void store_position(int x, int y) {
        write_text(host.path("winamp.ini"),
                   "[Quorvane2]\r\npos_x=" + std::to_string(x) + "\r\npos_y=" + std::to_string(y) + "\r\n");
    }
    TempHostDir host;
    std::unique_ptr<Settings> s = std::make_unique<Settings>();
};

TEST_F(HostIni, PathBesideTheHost) {
    char path[1024];
    ASSERT_TRUE(ini_path(path, sizeof path));
    EXPECT_EQ(std::string(path), host.path("winamp.ini"));
}

TEST_F(HostIni, HostKeysExactText) {
    s->selection.on_air_process = 7;
    s->host.panel_visible = 0;
    s->host.panel_minimized = 1;
    save_host_keys(*s);
    EXPECT_EQ(read_text(host.path("winamp.ini")), "[Quorvane2]\r\nProcessNumber=7\r\nVisible=0\r\nMinimized=1\r\n");
    EXPECT_EQ(read_int_key(kKeyProcessNumber, 0), 7);
    s->selection.on_air_process = 100;
    save_host_keys(*s);
    EXPECT_EQ(read_text(host.path("winamp.ini")), "[Quorvane2]\r\nProcessNumber=100\r\nVisible=0\r\nMinimized=1\r\n");
}

TEST_F(HostIni, OtherSectionsOfTheHostFileArePreserved) {
    const std::string before =
        "; host settings\n[Winamp]\nvolume=200\n  skin = Base "
        "\n\n[Quorvane2]\nVisible=1\n\n[Other]\nProcessNumber=55\n";
    write_text(host.path("winamp.ini"), before);
    s->selection.on_air_process = 3;
    s->host.panel_visible = 0;
    save_host_keys(*s);
    EXPECT_EQ(read_text(host.path("winamp.ini")),
              "; host settings\n[Winamp]\nvolume=200\n  skin = Base \n\n[Quorvane2]\nVisible=0\nProcessNumber=3\n"
              "Minimized=0\n\n[Other]\nProcessNumber=55\n");
}

TEST_F(HostIni, MissingKeysReadTheirDefaults) {
    s->host.panel_visible = 7;
    EXPECT_EQ(read_int_key(kKeyVisible, 1), 1);
    write_text(host.path("winamp.ini"), "[Winamp]\nVisible=0\n");
    EXPECT_EQ(read_int_key(kKeyVisible, 1), 1);
}

TEST_F(HostIni, PositionClampedToTheDesktop) {
    PosixWindow w{10, 10, 400, 300};
    store_position(2000, 900);
    restore_panel_position(*s, &w);
    EXPECT_EQ(w.x, 992);
    EXPECT_EQ(w.y, 736);
    EXPECT_EQ(w.width, 400);
    EXPECT_EQ(s->host.panel_pos_x, 992);
    EXPECT_EQ(s->host.panel_pos_y, 736);
    save_panel_position(*s);
    EXPECT_EQ(read_text(host.path("winamp.ini")), "[Quorvane2]\r\npos_x=992\r\npos_y=736\r\n");

    store_position(-100, -100);
    restore_panel_position(*s, &w);
    EXPECT_EQ(w.x, -64);
    EXPECT_EQ(w.y, -32);
}

TEST_F(HostIni, MissingPositionOpensAtMinusOne) {
    PosixWindow w{10, 10, 400, 300};
    restore_panel_position(*s, &w);
    EXPECT_EQ(w.x, -1);
    EXPECT_EQ(w.y, -1);
}

TEST_F(HostIni, SaveClampsInPlace) {
    s->host.panel_pos_x = 500;
    s->host.panel_pos_y = 300;
    save_panel_position(*s);
    EXPECT_EQ(read_text(host.path("winamp.ini")), "[Quorvane2]\r\npos_x=500\r\npos_y=300\r\n");
    platform::set_posix_desktop_rect(ScreenRect{100, 50, 1124, 818});
    s->host.panel_pos_x = 0;
    s->host.panel_pos_y = 9000;
    save_panel_position(*s);
    EXPECT_EQ(s->host.panel_pos_x, 36);
    EXPECT_EQ(s->host.panel_pos_y, 786);
}

TEST_F(HostIni, DegenerateDesktop) {
    for (ScreenRect d : {ScreenRect{0, 0, 0, 0}, ScreenRect{-10, 0, 1024, 768}, ScreenRect{0, -1, 1024, 768},
                         ScreenRect{0, 0, 1024, 0}}) {
        platform::set_posix_desktop_rect(d);
        PosixWindow w{10, 20, 400, 300};
        s->host.panel_pos_x = 10;
        s->host.panel_pos_y = 10;
        store_position(8000, 5);  // outside -31..7999: the window stays put
        restore_panel_position(*s, &w);
        EXPECT_EQ(w.x, 10);
        EXPECT_EQ(w.y, 20);
        EXPECT_EQ(s->host.panel_pos_x, 10);
        store_position(7999, -31);  // inside: taken unclamped
        restore_panel_position(*s, &w);
        EXPECT_EQ(w.x, 7999);
        EXPECT_EQ(w.y, -31);

        std::filesystem::remove(host.path("winamp.ini"));
        s->host.panel_pos_x = -32;
        save_panel_position(*s);  // nothing written
        EXPECT_FALSE(std::filesystem::exists(host.path("winamp.ini")));
        s->host.panel_pos_x = 5000;
        s->host.panel_pos_y = 7000;
        save_panel_position(*s);
        EXPECT_EQ(read_text(host.path("winamp.ini")), "[Quorvane2]\r\npos_x=5000\r\npos_y=7000\r\n");
    }
}

}  // namespace
}  // namespace qv
