#pragma once
// A control panel on the headless dialog, over fresh module records holding
// the default process, with the host's directory in a temporary directory.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "chain/readings.h"
#include "panel/control_table.h"
#include "panel/panel.h"
#include "panel/panel_state.h"
#include "platform/dialog.h"
#include "platform/posix/headless_dialog.h"
#include "settings/derive.h"
#include "settings/process_file.h"
#include "settings/settings.h"
#include "settings/startup.h"
#include "tests/temp_host_dir.h"

namespace qv::test {

namespace hd = platform::headless;

struct PanelRig {
    TempHostDir host;
    std::unique_ptr<Settings> settings = std::make_unique<Settings>();
    std::unique_ptr<Readings> readings = std::make_unique<Readings>();
    std::unique_ptr<ParamChannel> channel = std::make_unique<ParamChannel>();
    PanelState state;
    PanelBinding binding{};
    platform::DialogCallbacks callbacks{};
    void* dlg = nullptr;

    explicit PanelRig(bool open = true) {
        fill_defaults(settings->live);
        derive_all_sections(settings->live, settings->section_coefs, settings->band_gain_level);
        recompute_all(*settings);
        reset_switches(*settings);
        binding = PanelBinding{settings.get(), readings.get(), &state, channel.get()};
        callbacks = panel_dialog_callbacks(&binding);
        if (open) this->open();
    }
    ~PanelRig() { close(); }
    PanelRig(const PanelRig&) = delete;
    PanelRig& operator=(const PanelRig&) = delete;

    void open() {
        dlg = platform::create_dialog(kPanelTemplate, nullptr, nullptr, &callbacks);
        state.panel_window = dlg;
        ASSERT_NE(dlg, nullptr);
    }
    void close() {
        if (dlg) {
            EXPECT_EQ(hd::misuse_count(dlg), 0) << "the panel addressed a control it does not have";
            platform::destroy_window(dlg);
        }
        dlg = state.panel_window = nullptr;
    }

    Settings& s() { return *settings; }
    PanelContext ctx() { return PanelContext{*settings, *readings, state, dlg}; }
    GlobalParams& g() { return settings->live.global; }
    SectionParams& sec(int b, int k) { return settings->live.section[b][k]; }
    SectionCoefs& st(int b, int k) { return settings->section_coefs[b][k]; }
    std::int32_t modified() const { return settings->selection.process_modified; }

    std::string text(int id) const { return hd::text(dlg, id); }
    void click(int id) { hd::click(dlg, id); }
    void slide(int id, int pos) { hd::move_slider(dlg, id, pos); }
    void tick(int n = 1) {
        for (int i = 0; i < n; ++i) hd::tick(dlg, kPanelTimerId);
    }
    bool checked(int id) const { return hd::checked(dlg, id); }
    int slider(int id) const { return hd::slider_pos(dlg, id); }
    int meter(int id) const { return hd::meter_pos(dlg, id); }
};

}  // namespace qv::test
