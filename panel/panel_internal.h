#pragma once
// Pieces shared by the panel's source files.
#include "panel/panel.h"
#include "settings/derive.h"

namespace qv {

// Control identifiers named by more than one file.
namespace ctl {
constexpr int kGlobal = 1081;     // "GLOBAL": multiband slider moves apply to all five bands
constexpr int kSectionOn = 1112;  // "ON" of the selected multiband section
constexpr int kHighQ = 1138;
constexpr int kTestTone = 1029;
constexpr int kCompressor = 1087;
constexpr int kExpander = 1088;
constexpr int kLimiter = 1089;
constexpr int kProcessName = 1125;  // live name
constexpr int kNameEdit = 1121;     // browsed / typed name
constexpr int kBrowsedNumber = 1123;
constexpr int kPlus = 1127;
constexpr int kMinus = 1128;
constexpr int kSave = 1101;
constexpr int kLoad = 1102;
constexpr int kEditedMark = 1129;  // blinking "E"
constexpr int kGated = 1044;
constexpr int kMaxGainScale = 1065;  // "+25dB"
}  // namespace ctl

// Longest name the edit accepts; Save keeps 19 characters of it.
constexpr int kNameEditLimit = 20;

// CFG (band select) and M (mute) buttons of bands 0..6.
constexpr int kCfgButton[kBands] = {1074, 1075, 1076, 1077, 1078, 1079, 1080};
constexpr int kMuteButton[kBands] = {1108, 1107, 1106, 1105, 1104, 1109, 1110};

inline void mark_modified(PanelContext& ctx) { ctx.settings.selection.process_modified = 1; }

// selected_band of a group and selected_section, kept inside their ranges
// whatever the state holds.
int selected_band_of(const PanelState& st, int group);
int selected_section_of(const PanelState& st);

// High Q switched off: check box and bit; the caller derives the bass EQ.
void clear_high_q(PanelContext& ctx);

// The "+"/"-" auto-repeat of one tick.
void auto_repeat_tick(PanelContext& ctx);
// Meter ranges and steps, set at dialog creation.
void init_meters(PanelContext& ctx);
// A new panel window starts with the normal title: the mark that the format
// warning is shown is cleared, so the next tick shows it again while the
// chain still refuses the format.
void forget_format_warning(PanelContext& ctx);

}  // namespace qv
