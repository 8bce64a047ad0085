// Sliders: the two band groups, GLOBAL propagation, the global sliders,
// show_band, refresh_all_controls and dialog creation.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <limits>

#include "panel/control_table.h"
#include "panel/label_format.h"
#include "panel/panel_internal.h"
#include "panel/slider_tables.h"
#include "panel/texts.h"
#include "settings/derive.h"
#include "settings/param_table.h"

namespace qv {

using platform::get_check;
using platform::get_slider_pos;
using platform::set_check;
using platform::set_control_text;
using platform::set_slider_pos;

int selected_band_of(const PanelState& st, int group) {
    const int b = st.selected_band[group];
    if (group == kMultibandGroup) return b >= 0 && b < kMultibandBands ? b : 0;
    return b >= kMultibandBands && b < kBands ? b : kBands - 1;
}

int selected_section_of(const PanelState& st) {
    const int s = st.selected_section;
    return s >= 0 && s < kSections ? s : kCompressor;
}

void clear_high_q(PanelContext& ctx) {
    set_check(ctx.dialog, ctl::kHighQ, false);
    ctx.settings.live.global.option_flags &= ~option::bass_eq_high_q;
}

namespace {

void set_label(PanelContext& ctx, int id, const LabelText& t) { set_control_text(ctx.dialog, id, t.text); }

// The record whose word a role's slider edits for band b with section s
// shown: the band gain (clip threshold) lives in section 0 whatever section
// is shown.
SectionParams& role_record(Settings& set, int b, int s, int role) {
    return set.live.section[b][role == kBandGain ? kCompressor : s];
}

// The roles in the order a slider message reads them.
constexpr SliderRole kStoreOrder[kSliderRoles] = {kAttack1,   kRelease1, kAttack2, kRelease2,
                                                  kThreshold, kRatio,    kBandGain};

// Reads the seven sliders of a group into band b, section s, rewriting the
// value labels, then derives the section and the band's gain level.
void store_group(PanelContext& ctx, int group) {
    const int b = selected_band_of(ctx.state, group);
    const int s = group == kMultibandGroup ? selected_section_of(ctx.state) : kCompressor;
    const BandSliderRow& row = kBandSliderTable[b];
    for (SliderRole role : kStoreOrder) {
        const ParamInfo& param = *kSliderRoleParam[role];
        const std::int32_t value = get_slider_pos(ctx.dialog, row.slider[role].slider_id);
        section_word(role_record(ctx.settings, b, s, role), param.word) = value;
        set_label(ctx, row.slider[role].label_id, format_value(param.format, value));
    }
    derive_section(ctx.settings, b, s);
    derive_band_gain_level(ctx.settings, b);
}

// With "GLOBAL" checked, the word of the multiband slider that moved goes
// from the selected band to all five multiband bands (selected section; the
// band gain in section 0), and each band is derived again.
void propagate_global(PanelContext& ctx, int id) {
    if (!get_check(ctx.dialog, ctl::kGlobal)) return;
    const BandSliderRow& row = kBandSliderTable[0];
    int role = 0;
    while (role < kSliderRoles && row.slider[role].slider_id != id) ++role;
    if (role == kSliderRoles) return;

    Settings& set = ctx.settings;
    const int b = selected_band_of(ctx.state, kMultibandGroup);
    const int s = selected_section_of(ctx.state);
    const int word = kSliderRoleParam[role]->word;
    const std::int32_t value = section_word(role_record(set, b, s, role), word);
    for (int k = 0; k < kMultibandBands; ++k) {
        section_word(role_record(set, k, s, role), word) = value;
        derive_section(set, k, s);
        derive_band_gain_level(set, k);
    }
}

// Moving the bass EQ gain below 6 dB switches High Q off, before the design
// so that the design and the chain agree on the bit.
constexpr int kBassEqGainSlider = 1007;
constexpr std::int32_t kHighQOffBelowDb = 6;

void apply_global_slider(PanelContext& ctx, const GlobalSlider& row) {
    const int pos = get_slider_pos(ctx.dialog, row.slider_id);
    const std::int32_t value = row.inverted ? row.param->max - pos : pos;
    set_global_word(ctx.settings.live.global, row.param->word, value);
    set_label(ctx, row.label_id, format_value(row.param->format, value));
    if (row.slider_id == kBassEqGainSlider && value < kHighQOffBelowDb) clear_high_q(ctx);
    if (row.derive) row.derive(ctx.settings);
}

}  // namespace

void panel_vscroll(PanelContext& ctx, int id) {
    mark_modified(ctx);
    const std::int32_t remembered_section = ctx.state.selected_section;
    store_group(ctx, kMultibandGroup);
    store_group(ctx, kDualBandGroup);
    ctx.state.selected_section = remembered_section;
    propagate_global(ctx, id);
    if (const GlobalSlider* row = find_global_slider(id)) apply_global_slider(ctx, *row);
}

void panel_hscroll(PanelContext& ctx, int id) {
    if (id != kMultibandPctSlider) return;
    const std::int32_t value = get_slider_pos(ctx.dialog, kMultibandPctSlider);
    ctx.settings.live.global.multiband_pct = value;
    derive_limited_percentages(ctx.settings);
    set_label(ctx, kMultibandPctLabel, format_value(ValueFormat::plain, value));
    mark_modified(ctx);
}

void show_band(PanelContext& ctx, int band, int section) {
    if (band < 0 || band >= kBands) return;
    if (section < 0 || section >= kSections) section = kCompressor;
    const int s = band < kMultibandBands ? section : kCompressor;
    const BandSliderRow& row = kBandSliderTable[band];
    for (SliderRole role : {kAttack2, kRelease2, kAttack1, kRelease1, kThreshold, kRatio, kBandGain}) {
        const ParamInfo& param = *kSliderRoleParam[role];
        const std::int32_t value = section_word(role_record(ctx.settings, band, s, role), param.word);
        set_slider_pos(ctx.dialog, row.slider[role].slider_id, value);
        set_label(ctx, row.slider[role].label_id, format_value(param.format, value));
    }
    if (band < kMultibandBands)
        set_check(ctx.dialog, ctl::kSectionOn, section_enable(ctx.settings.live.global, section) != 0);
}

namespace {

// Check boxes that show an option bit, in the order refresh_all_controls sets them.
struct OptionCheck {
    int id;
    std::int32_t bit;
};
constexpr OptionCheck kOptionChecks[] = {
    {1138, option::bass_eq_high_q},   {1139, option::spare_option}, {1175, option::mono},
    {1177, option::multiband_bypass}, {1183, option::am_filter},    {1099, option::phase_rotator},
    {1113, option::show_composite},   {1100, option::four_bands},   {1114, option::track_rms},
    {1103, option::input_lpf_15k},
};

// Check boxes that show a 0/1 word.
struct FieldCheck {
    int id;
    std::int32_t GlobalParams::*field;
};
constexpr FieldCheck kFieldChecks[] = {
    {1041, &GlobalParams::bypass_all},       {1030, &GlobalParams::no_clipper},
    {1033, &GlobalParams::no_stereo_exp},    {1047, &GlobalParams::preemphasis_on},
    {1034, &GlobalParams::independent_gate}, {1038, &GlobalParams::agc_on},
};

// Slider positions set by refresh_all_controls, in its order.
constexpr int kRefreshSliders[] = {1000, 1083, 1141, 1006, 1096, 1150, 1154, 1156, 1160, 1163, 1166, 1169, 1172,
                                   1180, 1111, 1007, 1008, 1021, 1003, 1070, 1067, 1048, 1134, 1086, 1094};

constexpr int kWide = 1185, kNarrow = 1186, k50us = 1115, k75us = 1116, kPeaking = 1135, kShelving = 1136;
constexpr int kOutLevelLabel = 1093;

}  // namespace

void refresh_all_controls(PanelContext& ctx) {
    const GlobalParams& g = ctx.settings.live.global;
    void* dlg = ctx.dialog;

    for (int id : kRefreshSliders) {
        std::int32_t pos;
        if (id == kMultibandPctSlider) {
            pos = g.multiband_pct;
        } else {
            const GlobalSlider& row = *find_global_slider(id);
            const std::int32_t word = global_word(g, row.param->word);
            // 64-bit: a stored word far outside the slider's range must not overflow.
            const std::int64_t p = row.inverted ? std::int64_t{row.param->max} - word : word;
            pos = static_cast<std::int32_t>(std::clamp<std::int64_t>(p, std::numeric_limits<std::int32_t>::min(),
                                                                     std::numeric_limits<std::int32_t>::max()));
        }
        set_slider_pos(dlg, id, pos);
    }

    const bool wide = has_option(g, option::am_filter_wide);
    set_check(dlg, kWide, wide);
    set_check(dlg, kNarrow, !wide);
    set_check(dlg, k50us, g.preemphasis_50us != 0);
    set_check(dlg, k75us, g.preemphasis_50us == 0);
    const bool shelving = has_option(g, option::bass_eq_shelving);
    set_check(dlg, kShelving, shelving);
    set_check(dlg, kPeaking, !shelving);

    set_check(dlg, ctl::kSectionOn, section_enable(ctx.settings.live.global, selected_section_of(ctx.state)) != 0);
    for (const FieldCheck& c : kFieldChecks) set_check(dlg, c.id, g.*c.field != 0);
    for (const OptionCheck& c : kOptionChecks) set_check(dlg, c.id, has_option(g, c.bit));

    for (const GlobalSlider& row : kGlobalSliderTable) {
        // Max Gain shows the stored value, not the position.
        const std::int32_t value = global_word(g, row.param->word);
        set_label(ctx, row.label_id,
                  row.label_id == kOutLevelLabel ? format_percent(value) : format_value(row.param->format, value));
    }
    // "Multiband %" is not a global-slider row, but its label must not keep the
    // template's placeholder.
    set_label(ctx, kMultibandPctLabel, format_value(ValueFormat::plain, g.multiband_pct));

    char name[20];
    copy_process_name(name, g.process_name);
    set_control_text(dlg, ctl::kProcessName, name);
    set_label(ctx, ctl::kBrowsedNumber, format_value(ValueFormat::plain, ctx.settings.selection.browsed_process));
    set_control_text(dlg, ctl::kNameEdit, name);
}

void panel_init_dialog(PanelContext& ctx) {
    // Title: the description followed by 50 blanks.
    char title[sizeof module_description + 50];
    std::memcpy(title, module_description, sizeof module_description - 1);
    std::memset(title + sizeof module_description - 1, ' ', 50);
    title[sizeof title - 1] = '\0';
    platform::set_window_text(ctx.dialog, title);
    forget_format_warning(ctx);

    const int section = selected_section_of(ctx.state);
    for (int group : {kMultibandGroup, kDualBandGroup}) {
        const int b = selected_band_of(ctx.state, group);
        for (int role = 0; role < kSliderRoles; ++role) {
            const int id = kBandSliderTable[b].slider[role].slider_id;
            platform::set_slider_range_max(ctx.dialog, id, kSliderRoleParam[role]->max);
            platform::set_slider_range_min(ctx.dialog, id, section_param_min(*kSliderRoleParam[role], b));
        }
        show_band(ctx, b, section);
    }

    platform::start_timer(ctx.dialog, kPanelTimerId, kPanelTimerPeriodMs);

    for (const GlobalSlider& row : kGlobalSliderTable) {
        if (!row.explicit_range) continue;
        platform::set_slider_range_max(ctx.dialog, row.slider_id, row.param->max);
        platform::set_slider_range_min(ctx.dialog, row.slider_id, row.param->min);
    }

    char scale[16];
    std::snprintf(scale, sizeof scale, "+%ddB", 25);
    set_control_text(ctx.dialog, ctl::kMaxGainScale, scale);

    platform::limit_edit_text(ctx.dialog, ctl::kNameEdit, kNameEditLimit);
    init_meters(ctx);
    refresh_all_controls(ctx);

    set_check(ctx.dialog, kCfgButton[0], true);
    set_check(ctx.dialog, ctl::kCompressor, true);
    set_check(ctx.dialog, kCfgButton[6], true);
}

namespace {

PanelContext context_of(void* binding, void* dialog) {
    auto* b = static_cast<PanelBinding*>(binding);
    return PanelContext{*b->settings, *b->readings, *b->state, dialog};
}

// Whatever a notification changed reaches the chain as one whole set.
void publish_edits(void* binding) {
    auto* b = static_cast<PanelBinding*>(binding);
    if (b->channel) publish_params(*b->channel, *b->settings);
}

}  // namespace

platform::DialogCallbacks panel_dialog_callbacks(PanelBinding* binding) {
    platform::DialogCallbacks cb{};
    cb.context = binding;
    cb.init = [](void* c, void* dlg) {
        PanelContext ctx = context_of(c, dlg);
        panel_init_dialog(ctx);
    };
    cb.vscroll = [](void* c, void* dlg, int id) {
        PanelContext ctx = context_of(c, dlg);
        panel_vscroll(ctx, id);
        publish_edits(c);
    };
    cb.hscroll = [](void* c, void* dlg, int id) {
        PanelContext ctx = context_of(c, dlg);
        panel_hscroll(ctx, id);
        publish_edits(c);
    };
    cb.command = [](void* c, void* dlg, int id) {
        PanelContext ctx = context_of(c, dlg);
        panel_command(ctx, id);
        publish_edits(c);
    };
    cb.timer = [](void* c, void* dlg, int timer_id) {
        if (timer_id != kPanelTimerId) return;
        PanelContext ctx = context_of(c, dlg);
        panel_timer(ctx);
    };
    return cb;
}

}  // namespace qv
