// Process selector: browsing, auto-repeat, Save and Load.
#include <stdlib.h>

#include <cstring>

#include "panel/texts.h"
#include "settings/conversions.h"
#include "tests/panel/panel_rig.h"

namespace qv {
namespace {

using test::PanelRig;
namespace hd = platform::headless;

// Writes a default process named `name` under number n, changed by `edit`.
template <typename Edit>
void write_process(int n, const char* name, Edit edit) {
    auto p = std::make_unique<ProcessParams>();
    fill_defaults(*p);
    std::memset(p->global.process_name, 0, sizeof p->global.process_name);
    std::memcpy(p->global.process_name, name, std::strlen(name) < 20 ? std::strlen(name) : 20);
    edit(*p);
    char path[1024];
    ASSERT_TRUE(process_file_path(n, path, sizeof path));
    ASSERT_TRUE(write_process_file(path, *p));
}
void write_process(int n, const char* name) {
    write_process(n, name, [](ProcessParams&) {});
}

TEST(PanelSelector, StepsClampAndStageEveryTime) {
    PanelRig rig;
    write_process(100, "HUNDRED");
    rig.s().selection.browsed_process = 99;
    rig.click(1127);
    EXPECT_EQ(rig.text(1123), "100");
    EXPECT_EQ(rig.text(1121), "HUNDRED");
    EXPECT_EQ(rig.s().selection.staged_process_valid, 1);
    write_process(100, "AGAIN");
    rig.click(1127);  // stays at 100, stages it again
    EXPECT_EQ(rig.s().selection.browsed_process, 100);
    EXPECT_EQ(rig.text(1121), "AGAIN");

    rig.s().selection.browsed_process = 0;
    rig.click(1128);
    EXPECT_EQ(rig.s().selection.browsed_process, 0);
    EXPECT_EQ(rig.text(1123), "0");
    // Browsing changes nothing on air.
    EXPECT_EQ(rig.s().selection.on_air_process, 0);
    EXPECT_EQ(rig.text(1125), "DEFAULT");
    EXPECT_EQ(rig.modified(), 0);
}

TEST(PanelSelector, MissingFileShowsEmptyAndLoadDoesNothing) {
    PanelRig rig;
    rig.slide(1154, 12);  // an edit: the "E" blinks
    rig.click(1127);      // process 1 has no file
    EXPECT_EQ(rig.text(1121), "EMPTY");
    EXPECT_EQ(rig.s().selection.staged_process_valid, 0);
    auto before = std::make_unique<ProcessParams>(rig.s().live);
    rig.click(1102);
    EXPECT_EQ(std::memcmp(before.get(), &rig.s().live, sizeof *before), 0);
    EXPECT_EQ(rig.s().selection.on_air_process, 0);
    EXPECT_EQ(rig.modified(), 1);
    std::string marks;
    for (int i = 0; i < 8; ++i) {
        rig.tick();
        marks += rig.text(1129);
    }
    EXPECT_EQ(marks, "EEEE");
}

TEST(PanelSelector, HoldingPlusRepeatsAfterSixTicks) {
    PanelRig rig;
    rig.s().selection.browsed_process = 0;
    rig.tick();  // nothing held: counter 20
    hd::hold_button(rig.dlg, 1127, true);
    rig.tick(6);
    EXPECT_EQ(rig.s().selection.browsed_process, 0);
    const int expected[14] = {1, 3, 5, 8, 11, 15, 19, 24, 29, 35, 41, 48, 55, 63};
    for (int i = 0; i < 14; ++i) {
        rig.tick();
        EXPECT_EQ(rig.s().selection.browsed_process, expected[i]) << "tick " << i;
    }
    EXPECT_EQ(rig.text(1123), "63");
    EXPECT_EQ(rig.text(1121), "EMPTY");
    rig.tick();
    EXPECT_EQ(rig.s().selection.browsed_process, 71);
    rig.tick(5);
    EXPECT_EQ(rig.s().selection.browsed_process, 100);  // clamped, no wrap

    // Release (the click's own step comes with it) and hold "-": the delay starts over.
    hd::hold_button(rig.dlg, 1127, false);
    rig.click(1128);
    EXPECT_EQ(rig.s().selection.browsed_process, 99);
    rig.tick();
    hd::hold_button(rig.dlg, 1128, true);
    rig.tick(6);
    EXPECT_EQ(rig.s().selection.browsed_process, 99);
    rig.tick(2);
    EXPECT_EQ(rig.s().selection.browsed_process, 96);
    // Both held: "+" wins.
    hd::hold_button(rig.dlg, 1127, true);
    rig.tick();
    EXPECT_EQ(rig.s().selection.browsed_process, 98);
    hd::hold_button(rig.dlg, 1127, false);
    hd::hold_button(rig.dlg, 1128, false);
    rig.tick(3);
    EXPECT_EQ(rig.s().selection.browsed_process, 98);
    EXPECT_EQ(rig.state.repeat_counter, 20);
}

TEST(PanelSelector, SaveStoresTheTypedNameAndPutsTheNumberOnAir) {
    PanelRig rig;
    rig.slide(1154, 12);
    rig.click(1127);
    rig.click(1127);  // browse to 2
    hd::type_text(rig.dlg, 1121, "rock 24");
    EXPECT_EQ(rig.text(1121), "ROCK 24");
    rig.click(1101);
    EXPECT_EQ(rig.text(1125), "ROCK 24");
    EXPECT_EQ(rig.s().selection.on_air_process, 2);
    EXPECT_EQ(rig.modified(), 0);
    EXPECT_EQ(rig.text(1123), "2");
    EXPECT_EQ(std::strcmp(rig.g().process_name, "ROCK 24"), 0);

    auto back = std::make_unique<ProcessParams>();
    ASSERT_TRUE(read_process_file(rig.host.path("qv$2.dat").c_str(), *back));
    EXPECT_EQ(std::strcmp(back->global.process_name, "ROCK 24"), 0);
    EXPECT_EQ(back->global.agc_band_link_pct, 12);

    rig.click(1128);
    rig.click(1127);  // the staged load of 2 shows the saved name
    EXPECT_EQ(rig.text(1121), "ROCK 24");
}

TEST(PanelSelector, SaveKeepsNineteenCharactersOfALongName) {
    PanelRig rig;
    hd::type_text(rig.dlg, 1121, "abcdefghijklmnopqrstuvwxyz");
    EXPECT_EQ(rig.text(1121), "ABCDEFGHIJKLMNOPQRST");  // the edit takes 20
    rig.click(1101);
    EXPECT_EQ(std::string(rig.g().process_name), "ABCDEFGHIJKLMNOPQRS");
    EXPECT_EQ(rig.text(1125), "ABCDEFGHIJKLMNOPQRS");
}

TEST(PanelSelector, FailedSaveKeepsTheOldNumberAndSaysSo) {
    PanelRig rig;
    rig.click(1127);  // browse to 1
    rig.s().selection.process_modified = 0;
    // The host's directory cannot take files.
    setenv("QUORVANE_HOST_DIR", rig.host.path("missing/dir").c_str(), 1);
    rig.click(1101);
    EXPECT_EQ(rig.s().selection.on_air_process, 0);
    EXPECT_EQ(rig.modified(), 1);
    EXPECT_STREQ(hd::title(rig.dlg), "Could not save process 1");
    std::string marks;
    for (int i = 0; i < 29; ++i) {
        rig.tick();
        marks += rig.text(1129).empty() ? '.' : 'E';
    }
    EXPECT_STREQ(hd::title(rig.dlg), "Could not save process 1");
    EXPECT_EQ(marks.substr(0, 9), ".EEEE....");
    rig.tick();  // 3 s later
    EXPECT_STREQ(hd::title(rig.dlg), module_description);
}

TEST(PanelSelector, LoadTakesTheStagedProcessOnAir) {
    PanelRig rig;
    write_process(5, "LOUD", [](ProcessParams& p) {
        p.section[3][2].threshold_db10 = 45;
        p.section[3][2].attack1_ms = 3;
        p.section[3][0].band_gain_db10 = 20;
        p.section[6][0].band_gain_db10 = 10;
        p.global.agc_band_link_pct = 77;
        p.global.stereo_depth_ms = 12;
        p.global.option_flags |= option::mono;
    });
    rig.click(1089);  // Limiter
    rig.click(1077);  // band 3
    rig.click(1106);  // mute band 2
    rig.click(1029);  // test tone
    rig.slide(1154, 12);
    rig.s().selection.browsed_process = 4;
    rig.click(1127);
    ASSERT_EQ(rig.text(1121), "LOUD");
    rig.click(1102);

    EXPECT_EQ(rig.s().selection.on_air_process, 5);
    EXPECT_EQ(rig.modified(), 0);
    EXPECT_EQ(rig.sec(3, 2).threshold_db10, 45);
    EXPECT_EQ(rig.slider(1024), 45);  // band 3's loaded limiter values are on the sliders
    EXPECT_EQ(rig.slider(1001), 3);
    EXPECT_EQ(rig.text(1026), "-4.5");
    EXPECT_EQ(rig.st(3, 2).threshold_level, lvl200(-45));
    EXPECT_EQ(rig.s().band_gain_level[3], lvl200(20));
    EXPECT_EQ(rig.s().band_gain_level[6], lvl200(10) - 2148);
    EXPECT_EQ(rig.s().derived.stereo_depth_samples, 529);
    EXPECT_EQ(rig.g().agc_band_link_pct, 77);
    EXPECT_EQ(rig.slider(1154), 77);
    EXPECT_TRUE(rig.checked(1175));
    EXPECT_EQ(rig.text(1125), "LOUD");
    // The chain made every band active and stopped the tone; the buttons follow.
    EXPECT_EQ(rig.s().band_active[2], 1);
    EXPECT_FALSE(rig.checked(1106));
    EXPECT_EQ(rig.s().test_tone_on, 0);
    EXPECT_FALSE(rig.checked(1029));

    // A second Load re-applies the staged copy without reading the file again.
    write_process(5, "CHANGED");
    rig.slide(1154, 30);
    rig.click(1102);
    EXPECT_EQ(rig.g().agc_band_link_pct, 77);
    EXPECT_EQ(rig.text(1125), "LOUD");
}

TEST(PanelSelector, NamesAreShownAtMostNineteenCharacters) {
    PanelRig rig;
    write_process(1, "ABCDEFGHIJKLMNOPQRSTU");  // 20 bytes, no terminator
    rig.click(1127);
    EXPECT_EQ(rig.text(1121), "ABCDEFGHIJKLMNOPQRS");
    rig.click(1102);
    EXPECT_EQ(rig.text(1125), "ABCDEFGHIJKLMNOPQRS");
    EXPECT_EQ(rig.text(1121), "ABCDEFGHIJKLMNOPQRS");
}

}  // namespace
}  // namespace qv
