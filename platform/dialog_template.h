#pragma once
// Description of a dialog template: the window and every control in it, in
// dialog units. One constant description is the source of both the resource
// script that the Windows build compiles and the headless dialog of the native
// build, so the two can never disagree about a control.
#include <cstdint>

namespace qv::platform {

enum class ControlKind : std::uint8_t {
    group_box,     // framed caption around a group of controls
    trackbar,      // slider; range 0..100 until the panel sets one
    progress,      // meter; smooth
    label,         // static text
    push_button,   // plain push button
    check_box,     // push-like auto check box: toggles itself when clicked
    radio_button,  // push-like auto radio button: checks itself, unchecks its group
    edit,          // one-line edit field: bordered, centred, upper case, scrolls horizontally
    bitmap,        // static showing a bitmap resource at its natural size
};

// Style details beyond the kind.
namespace cf {
constexpr std::uint16_t vertical = 0x01;        // trackbar or progress bar standing upright
constexpr std::uint16_t thumb_left = 0x02;      // trackbar thumb points left instead of both sides
constexpr std::uint16_t sunken = 0x04;          // static with a sunken edge
constexpr std::uint16_t left_aligned = 0x08;    // static text left-aligned (default: centred)
constexpr std::uint16_t multi_line = 0x10;      // button caption wraps
constexpr std::uint16_t first_of_group = 0x20;  // first radio button of its group
}  // namespace cf

// Identifier of a control that nothing addresses.
constexpr int kUnaddressed = -1;

struct DialogRect {
    std::int16_t x, y, width, height;  // dialog units
};

struct ControlDef {
    int id;  // dialog identifier; kUnaddressed when nothing refers to it
    ControlKind kind;
    const char* caption;  // template caption, "" for none
    DialogRect rect;
    std::uint16_t flags;       // cf:: bits
    std::uint8_t radio_group;  // 0: not a radio button; otherwise the group number
    int image_id;              // bitmap resource shown by a bitmap control, else 0
};

struct DialogTemplate {
    int resource_id;
    std::int16_t width, height;  // dialog units
    const char* font_face;
    int font_points;
    bool minimize_box;  // caption bar with a minimise box (both have caption and system menu)
    bool modal_frame;
    bool centred;      // centred on the screen when created
    bool tool_window;  // small caption bar
    const ControlDef* controls;
    int control_count;
};

}  // namespace qv::platform
