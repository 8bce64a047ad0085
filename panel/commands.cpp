// Buttons: the command table, tested in its order for every notification,
// with the band walk that runs on each one.
#include "panel/panel_internal.h"

namespace qv {

using platform::get_check;
using platform::set_check;

namespace {

enum class Action : std::uint8_t {
    select_section,  // arg: section
    section_on,      // GlobalParams word 38 + selected_section = checked
    band_walk,       // M buttons and CFG buttons; runs on every notification
    set_word,        // field = arg
    word_checked,    // field = checked
    option_checked,  // bit arg of option_flags = checked
    option_set,      // set bit arg
    option_clear,    // clear bit arg
    shape_peaking,   // clear the shelving bit, bass EQ design
    shape_shelving,  // set the shelving bit, bass EQ design
    high_q,
    test_tone,
    about,
    step_up,
    step_down,
    save,
    load,
};

struct CommandRow {
    int id;  // 0 for the band walk, which matches every notification
    Action action;
    std::int32_t arg;
    std::int32_t GlobalParams::*field;
    bool modifies;  // sets process_modified (High Q decides for itself)
};

using A = Action;
using G = GlobalParams;

const CommandRow kCommandTable[] = {
    {1087, A::select_section, kCompressor, nullptr, false},
    {1089, A::select_section, kLimiter, nullptr, false},
    {1088, A::select_section, kExpander, nullptr, false},
    {1112, A::section_on, 0, nullptr, true},
    {0, A::band_walk, 0, nullptr, false},
    {1115, A::set_word, 1, &G::preemphasis_50us, true},
    {1116, A::set_word, 0, &G::preemphasis_50us, true},
    {1135, A::shape_peaking, 0, nullptr, true},
    {1136, A::shape_shelving, 0, nullptr, true},
    {1090, A::about, 0, nullptr, false},
    {1041, A::word_checked, 0, &G::bypass_all, false},
    {1030, A::word_checked, 0, &G::no_clipper, true},
    {1033, A::word_checked, 0, &G::no_stereo_exp, true},
    {1034, A::word_checked, 0, &G::independent_gate, true},
    {1047, A::word_checked, 0, &G::preemphasis_on, true},
    {1038, A::word_checked, 0, &G::agc_on, true},
    {1029, A::test_tone, 0, nullptr, false},
    {1099, A::option_checked, option::phase_rotator, nullptr, true},
    {1113, A::option_checked, option::show_composite, nullptr, false},
    {1100, A::option_checked, option::four_bands, nullptr, true},
    {1114, A::option_checked, option::track_rms, nullptr, true},
    {1127, A::step_up, 0, nullptr, false},
    {1128, A::step_down, 0, nullptr, false},
    {1101, A::save, 0, nullptr, false},
    {1138, A::high_q, 0, nullptr, false},
    {1139, A::option_checked, option::spare_option, nullptr, false},
    {1103, A::option_checked, option::input_lpf_15k, nullptr, true},
    {1175, A::option_checked, option::mono, nullptr, true},
    {1177, A::option_checked, option::multiband_bypass, nullptr, true},
    {1183, A::option_checked, option::am_filter, nullptr, true},
    {1185, A::option_set, option::am_filter_wide, nullptr, true},
    {1186, A::option_clear, option::am_filter_wide, nullptr, true},
    {1102, A::load, 0, nullptr, false},
};

void set_option(GlobalParams& g, std::int32_t bit, bool on) {
    if (on)
        g.option_flags |= bit;
    else
        g.option_flags &= ~bit;
}

// For k = 0..6: a click on band k's M button (un)mutes the band and ends the
// walk; otherwise a checked CFG button selects and shows its band.
void band_walk(PanelContext& ctx, int id) {
    for (int k = 0; k < kBands; ++k) {
        if (id == kMuteButton[k]) {
            ctx.settings.band_active[k] = get_check(ctx.dialog, kMuteButton[k]) ? 0 : 1;
            return;
        }
        if (get_check(ctx.dialog, kCfgButton[k])) {
            show_band(ctx, k, ctx.state.selected_section);
            ctx.state.selected_band[k < kMultibandBands ? 0 : 1] = k;
        }
    }
}

void run(PanelContext& ctx, const CommandRow& row, int id) {
    Settings& s = ctx.settings;
    GlobalParams& g = s.live.global;
    const bool checked = row.id != 0 && get_check(ctx.dialog, row.id);
    switch (row.action) {
        case A::select_section:
            ctx.state.selected_section = row.arg;
            show_band(ctx, selected_band_of(ctx.state, 0), row.arg);
            break;
        case A::section_on:
            section_enable(g, selected_section_of(ctx.state)) = checked ? 1 : 0;
            break;
        case A::band_walk:
            band_walk(ctx, id);
            break;
        case A::set_word:
            g.*row.field = row.arg;
            break;
        case A::word_checked:
            g.*row.field = checked ? 1 : 0;
            break;
        case A::option_checked:
            set_option(g, row.arg, checked);
            break;
        case A::option_set:
            set_option(g, row.arg, true);
            break;
        case A::option_clear:
            set_option(g, row.arg, false);
            break;
        case A::shape_peaking:
            set_option(g, option::bass_eq_shelving, false);
            derive_bass_eq(s);
            break;
        case A::shape_shelving:
            set_option(g, option::bass_eq_shelving, true);
            derive_bass_eq(s);
            break;
        case A::high_q:
            // High Q divides the boost by three over four cascaded sections; at
            // 6 dB or less it is refused and nothing is marked. The chain reads
            // the bit, so a refusal that clears it designs again.
            if (g.bass_eq_gain_db <= 6) {
                clear_high_q(ctx);
                derive_bass_eq(s);
            } else {
                set_option(g, option::bass_eq_high_q, checked);
                derive_bass_eq(s);
                mark_modified(ctx);
            }
            break;
        case A::test_tone:
            s.test_tone_on = checked ? 1 : 0;
            break;
        case A::about:
            if (ctx.state.about_window) platform::show_window(ctx.state.about_window);
            break;
        case A::step_up:
            step_process(ctx, 1, true);
            break;
        case A::step_down:
            step_process(ctx, 1, false);
            break;
        case A::save:
            save_live_process(ctx);
            break;
        case A::load:
            load_staged_process(ctx);
            break;
    }
    if (row.modifies) mark_modified(ctx);
}

}  // namespace

void panel_command(PanelContext& ctx, int id) {
    for (const CommandRow& row : kCommandTable)
        if (row.action == A::band_walk || row.id == id) run(ctx, row, id);
}

}  // namespace qv
