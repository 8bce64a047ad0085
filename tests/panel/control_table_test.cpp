// The control table of template 104 against what the panel addresses.
#include "panel/control_table.h"

#include <gtest/gtest.h>

#include <set>

#include "panel/slider_tables.h"

namespace qv {
namespace {

using platform::ControlDef;
using platform::ControlKind;
namespace cf = platform::cf;

const ControlDef& ctl(int id) {
    const ControlDef* c = find_panel_control(id);
    EXPECT_NE(c, nullptr) << id;
    static const ControlDef none{};
    return c ? *c : none;
}

TEST(ControlTable, CountsIdsAndBounds) {
    int group_boxes = 0;
    std::set<int> ids;
    for (const ControlDef& c : kPanelControls) {
        if (c.kind == ControlKind::group_box) ++group_boxes;
        if (c.id > 0) {
            EXPECT_TRUE(ids.insert(c.id).second) << "duplicate " << c.id;
        }
        EXPECT_LE(c.rect.x + c.rect.width, kPanelTemplate.width) << c.id << " " << c.caption;
        EXPECT_LE(c.rect.y + c.rect.height, kPanelTemplate.height) << c.id << " " << c.caption;
        if (c.kind == ControlKind::bitmap) {
            EXPECT_EQ(c.image_id, kLogoBitmapId);
        }
    }
    EXPECT_EQ(group_boxes, 7);
    EXPECT_EQ(kPanelTemplate.control_count, 228);
    EXPECT_EQ(kPanelTemplate.resource_id, 104);
    EXPECT_EQ(kAboutTemplate.resource_id, 112);
    EXPECT_EQ(kAboutTemplate.controls[0].image_id, kAboutBitmapId);
    EXPECT_EQ(find_panel_control(0), nullptr);
    EXPECT_EQ(find_panel_control(platform::kUnaddressed), nullptr);
}

TEST(ControlTable, RadioGroupsAreContiguousWithOneFirst) {
    const std::set<int> groups[6] = {
        {1074, 1075, 1076, 1077, 1078}, {1079, 1080}, {1087, 1088, 1089}, {1115, 1116}, {1135, 1136}, {1185, 1186}};
    for (int g = 0; g < 6; ++g) {
        int first = -1, last = -1, firsts = 0;
        std::set<int> members;
        for (int i = 0; i < kPanelControlCount; ++i) {
            const ControlDef& c = kPanelControls[i];
            if (c.radio_group != g + 1) continue;
            EXPECT_EQ(c.kind, ControlKind::radio_button);
            members.insert(c.id);
            if (first < 0) {
                first = i;
                EXPECT_TRUE(c.flags & cf::first_of_group) << c.id;
            }
            if (c.flags & cf::first_of_group) ++firsts;
            last = i;
        }
        EXPECT_EQ(members, groups[g]) << "group " << g + 1;
        EXPECT_EQ(last - first + 1, static_cast<int>(members.size())) << "group " << g + 1 << " not contiguous";
        EXPECT_EQ(firsts, 1);
    }
    for (const ControlDef& c : kPanelControls)
        if (c.kind == ControlKind::radio_button) {
            EXPECT_NE(c.radio_group, 0) << c.id;
        }
}

TEST(ControlTable, SliderAndLabelIdsOfThePanelTables) {
    for (const BandSliderRow& row : kBandSliderTable)
        for (const BandSlider& s : row.slider) {
            EXPECT_EQ(ctl(s.slider_id).kind, ControlKind::trackbar) << s.slider_id;
            EXPECT_TRUE(ctl(s.slider_id).flags & cf::vertical);
            EXPECT_EQ(ctl(s.label_id).kind, ControlKind::label) << s.label_id;
        }
    for (const GlobalSlider& g : kGlobalSliderTable) {
        EXPECT_EQ(ctl(g.slider_id).kind, ControlKind::trackbar) << g.slider_id;
        EXPECT_TRUE(ctl(g.slider_id).flags & cf::vertical) << g.slider_id;
        EXPECT_EQ(ctl(g.label_id).kind, ControlKind::label) << g.label_id;
        EXPECT_EQ((ctl(g.slider_id).flags & cf::thumb_left) != 0, g.slider_id == 1067);
    }
    EXPECT_EQ(ctl(1180).kind, ControlKind::trackbar);
    EXPECT_FALSE(ctl(1180).flags & cf::vertical);
    EXPECT_EQ(ctl(1094).rect.height, 68);
    EXPECT_EQ(ctl(1121).kind, ControlKind::edit);
    EXPECT_EQ(ctl(1081).flags & cf::multi_line, cf::multi_line);
}

TEST(ControlTable, MeterOrientationAndLabelStyles) {
    for (int id : {1054, 1055, 1056, 1057, 1058, 1066, 1117, 1118, 1119, 1120, 1082, 1122}) {
        EXPECT_EQ(ctl(id).kind, ControlKind::progress) << id;
        EXPECT_FALSE(ctl(id).flags & cf::vertical) << id;
    }
    for (int id : {1036, 1149, 1071, 1072, 1131, 1132, 1031, 1059}) {
        EXPECT_EQ(ctl(id).kind, ControlKind::progress) << id;
        EXPECT_TRUE(ctl(id).flags & cf::vertical) << id;
    }
    for (int id : {1044, 1123, 1125, 1129}) EXPECT_EQ(ctl(id).flags, cf::sunken) << id;
    int sunken_left = 0;
    for (const ControlDef& c : kPanelControls)
        if (c.kind == ControlKind::label && c.flags == (cf::sunken | cf::left_aligned)) ++sunken_left;
    EXPECT_EQ(sunken_left, 2);  // "Mb" and "Bb"
    for (int id : {1074, 1079, 1087, 1115, 1135, 1185}) EXPECT_EQ(ctl(id).kind, ControlKind::radio_button);
    for (int id : {1104, 1105, 1106, 1107, 1108, 1109, 1110, 1029, 1041, 1138, 1112})
        EXPECT_EQ(ctl(id).kind, ControlKind::check_box) << id;
    for (int id : {1101, 1102, 1127, 1128, 1090}) EXPECT_EQ(ctl(id).kind, ControlKind::push_button) << id;
}

}  // namespace
}  // namespace qv
