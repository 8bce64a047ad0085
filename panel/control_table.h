#pragma once
// The two dialog templates of the module: 104, the control panel, and 112, the
// about window. Every control of the panel is listed once here; the resource
// script and the headless dialog are both made from this table.
#include "platform/dialog_template.h"

namespace qv {

constexpr int kPanelTemplateId = 104;
constexpr int kAboutTemplateId = 112;
constexpr int kAboutBitmapId = 111;  // picture of the about window, 401 x 89 dialog units
constexpr int kLogoBitmapId = 117;   // small logo of the top strip

constexpr int kPanelControlCount = 228;

extern const platform::ControlDef kPanelControls[kPanelControlCount];
extern const platform::DialogTemplate kPanelTemplate;
extern const platform::DialogTemplate kAboutTemplate;

// The control of template 104 with this identifier, or null (also for
// kUnaddressed and 0, which several controls share).
const platform::ControlDef* find_panel_control(int id);

}  // namespace qv
