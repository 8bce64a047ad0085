// The 100 ms tick: meters, decays, title warning, GATED and the "E" mark.
#include <cmath>
#include <cstring>

#include "engine/meter_feed.h"
#include "panel/texts.h"
#include "tests/panel/panel_rig.h"

namespace qv {
namespace {

using test::PanelRig;
namespace hd = platform::headless;

constexpr int kFirstRow[5] = {1054, 1055, 1056, 1057, 1058};
constexpr int kSecondRow[5] = {1066, 1117, 1118, 1119, 1120};

TEST(PanelMeters, AgcMetersInDecibels) {
    PanelRig rig;
    rig.readings->bass_agc_gain = 10.0;
    rig.readings->master_agc_gain = 1.0;
    rig.tick();
    EXPECT_EQ(rig.meter(1036), 20);
    EXPECT_EQ(rig.meter(1149), 0);
    rig.readings->bass_agc_gain = 0.0;
    rig.readings->master_agc_gain = 17.7;  // 24.96 dB
    rig.tick();
    EXPECT_EQ(rig.meter(1036), 0);
    EXPECT_EQ(rig.meter(1149), 24);
    rig.readings->bass_agc_gain = -3.0;
    rig.readings->master_agc_gain = 0.5;  // -6.02 dB: the bar shows 0
    rig.tick();
    EXPECT_EQ(rig.meter(1036), 0);
    EXPECT_EQ(hd::meter_requested_pos(rig.dlg, 1036), 0);
    EXPECT_EQ(hd::meter_requested_pos(rig.dlg, 1149), -6);
}

void set_band_gains(PanelRig& rig) {
    for (int k = 0; k < 7; ++k) {
        rig.readings->section_gain[k][0] = 0.10 + 0.01 * k;
        rig.readings->section_gain[k][1] = 0.20 + 0.01 * k;
        rig.readings->section_gain[k][2] = 0.30 + 0.01 * k;
        // The slow detector at 2 + k times the threshold; the meter takes its gain.
        rig.readings->band_slow_level[k] = (2.0 + k) * rig.st(k, 0).threshold_level;
        rig.readings->band_composite_gain[k] = 0.50 + 0.01 * k;
    }
}

TEST(PanelMeters, BandMetersFollowTheMode) {
    PanelRig rig;
    set_band_gains(rig);
    rig.tick();  // Compressor: section gain and slow-detector gain
    for (int k = 0; k < 5; ++k) {
        EXPECT_EQ(rig.meter(kFirstRow[k]), static_cast<int>(1000 * (0.10 + 0.01 * k))) << k;
        const double slow_gain = std::pow(2.0 + k, rig.st(k, 0).ratio_exponent);
        EXPECT_NEAR(rig.meter(kSecondRow[k]), 1000 * slow_gain, 1.0) << k;
        EXPECT_LT(rig.meter(kSecondRow[k]), 1000);
    }
    EXPECT_EQ(rig.meter(1071), static_cast<int>(1000 * 0.15));
    EXPECT_EQ(rig.meter(1072), static_cast<int>(1000 * 0.16));

    rig.click(1088);  // Expander: both rows show its gain
    rig.tick();
    for (int k = 0; k < 5; ++k) {
        EXPECT_EQ(rig.meter(kFirstRow[k]), static_cast<int>(1000 * (0.20 + 0.01 * k))) << k;
        EXPECT_EQ(rig.meter(kSecondRow[k]), rig.meter(kFirstRow[k])) << k;
    }
    EXPECT_EQ(rig.meter(1071), static_cast<int>(1000 * 0.15));  // dual band: section 0 whatever the mode

    rig.click(1113);  // Show Composite; a muted band reads 0
    rig.readings->band_composite_gain[3] = 1e-9;
    rig.tick();
    EXPECT_EQ(rig.meter(kFirstRow[3]), 0);
    EXPECT_EQ(rig.meter(kSecondRow[3]), 0);
    EXPECT_EQ(rig.meter(kFirstRow[1]), 510);
    EXPECT_EQ(rig.meter(kSecondRow[1]), 510);
}

TEST(PanelMeters, BypassAllZeroesProcessingMetersWhileLevelsMove) {
    PanelRig rig;
    set_band_gains(rig);
    Readings& r = *rig.readings;
    r.stereo_image_peak = 5000;
    r.stereo_activity = 0.5;
    r.clip_peak_in = 9000;
    r.clip_peak_out = 8000;
    r.bass_clip_peak = 700;
    rig.tick();
    ASSERT_GT(rig.meter(1082), 0);
    ASSERT_GT(rig.meter(1131), 0);
    rig.click(1041);
    r.input_peak = 12000;
    r.output_peak = 11000;
    rig.tick();
    for (int id : {1054, 1055, 1056, 1057, 1058, 1071, 1072, 1066, 1117, 1118, 1119, 1120, 1082, 1122, 1131, 1132})
        EXPECT_EQ(rig.meter(id), 0) << id;
    EXPECT_EQ(rig.meter(1031), 12000);
    EXPECT_EQ(rig.meter(1059), 11000);
    // No decay of the stereo and clip values on such a tick.
    EXPECT_EQ(r.stereo_image_peak, 5000 * 0.95);
    EXPECT_EQ(r.bass_clip_peak, 700 * 0.95);
    EXPECT_EQ(rig.state.clip_depth_hold, 1000 * 0.95);
    EXPECT_EQ(r.input_peak, 12000 * 0.95);
}

TEST(PanelMeters, PeaksClampAndDecay) {
    PanelRig rig;
    Readings& r = *rig.readings;
    r.input_peak = 40000;
    r.output_peak = 40000;
    r.stereo_image_peak = 50000;
    r.stereo_activity = 3.0;
    rig.tick();
    EXPECT_EQ(rig.meter(1031), 32767);
    EXPECT_EQ(r.input_peak, 32767 * 0.95);                     // stored back as 32767 before decaying
    EXPECT_EQ(hd::meter_requested_pos(rig.dlg, 1059), 40000);  // OUT passed unclamped
    EXPECT_EQ(rig.meter(1059), 32767);
    EXPECT_EQ(r.output_peak, 40000 * 0.95);
    EXPECT_EQ(rig.meter(1082), 32767);
    EXPECT_EQ(r.stereo_image_peak, 32767 * 0.95);
    EXPECT_EQ(rig.meter(1122), 1000);
    EXPECT_EQ(r.stereo_activity, 3.0 * 0.95);
    rig.tick();
    EXPECT_EQ(rig.meter(1031), static_cast<int>(32767 * 0.95));
    EXPECT_EQ(r.input_peak, 32767 * 0.95 * 0.95);
}

TEST(PanelMeters, ClipMetersHoldTheDepth) {
    PanelRig rig;
    Readings& r = *rig.readings;
    r.clip_peak_in = 20000;
    r.clip_peak_out = 15000;
    r.bass_clip_peak = 70000;
    rig.tick();
    EXPECT_EQ(rig.meter(1131), 5000);
    EXPECT_EQ(rig.meter(1132), 65535);
    EXPECT_EQ(r.bass_clip_peak, 65535 * 0.95);
    EXPECT_EQ(r.clip_peak_in, 20000 * 0.95);
    EXPECT_EQ(r.clip_peak_out, 15000 * 0.95);
    EXPECT_EQ(rig.state.clip_depth_hold, 5000 * 0.95);
    // A smaller depth does not replace the held one.
    r.clip_peak_in = 1000;
    r.clip_peak_out = 900;
    rig.tick();
    EXPECT_EQ(rig.meter(1131), static_cast<int>(5000 * 0.95));

    rig.click(1030);  // No Clipper: both read 0 while the hold still decays
    rig.tick();
    EXPECT_EQ(rig.meter(1131), 0);
    EXPECT_EQ(rig.meter(1132), 0);
    EXPECT_EQ(rig.state.clip_depth_hold, 5000 * 0.95 * 0.95 * 0.95);
}

TEST(PanelMeters, FormatWarningOnceEachWay) {
    PanelRig rig;
    std::string normal = hd::title(rig.dlg);
    rig.readings->format_status = 0xFF00;  // the chain refuses the format
    rig.tick();
    EXPECT_STREQ(hd::title(rig.dlg), format_message);
    EXPECT_EQ(rig.readings->format_status, 0xFFFF);
    platform::set_window_text(rig.dlg, "other");
    rig.tick();
    EXPECT_STREQ(hd::title(rig.dlg), "other");  // not rewritten while nothing changes
    rig.readings->format_status &= 0xFF;        // the chain accepts again
    rig.tick();
    EXPECT_STREQ(hd::title(rig.dlg), module_description);
    EXPECT_EQ(rig.readings->format_status, 0);
    platform::set_window_text(rig.dlg, normal.c_str());
    rig.tick();
    EXPECT_EQ(hd::title(rig.dlg), normal);
}

TEST(PanelMeters, ReopenedPanelShowsAFormatWarningStillInForce) {
    PanelRig rig;
    rig.readings->format_status = 0xFF00;
    rig.tick();
    ASSERT_STREQ(hd::title(rig.dlg), format_message);
    // Closed and opened again while the chain still refuses the format: the
    // new window starts with the normal title and the next tick warns again.
    rig.close();
    rig.open();
    EXPECT_NE(std::string(hd::title(rig.dlg)), format_message);
    rig.tick();
    EXPECT_STREQ(hd::title(rig.dlg), format_message);
    EXPECT_EQ(rig.readings->format_status, 0xFFFF);

    // Reopened after the format became acceptable again: nothing to show.
    rig.readings->format_status = 0x00FF;  // accepted by the chain, warning not yet withdrawn
    rig.close();
    rig.open();
    const std::string normal = hd::title(rig.dlg);
    rig.tick();
    EXPECT_EQ(hd::title(rig.dlg), normal);
    EXPECT_EQ(rig.readings->format_status, 0);
}

TEST(PanelMeters, GatedIndicator) {
    PanelRig rig;
    rig.readings->agc_gated = 1;
    rig.tick();
    EXPECT_EQ(rig.text(1044), "GATED");
    rig.readings->agc_gated = 0;
    rig.tick();
    EXPECT_EQ(rig.text(1044), "");
}

std::string marks(PanelRig& rig, int ticks) {
    std::string out;
    for (int i = 0; i < ticks; ++i) {
        rig.tick();
        out += rig.text(1129).empty() ? '.' : 'E';
    }
    return out;
}

TEST(PanelMeters, EditedMarkBlinksFourOnFourOff) {
    PanelRig rig;
    EXPECT_EQ(marks(rig, 4), "....");
    rig.slide(1154, 10);
    EXPECT_EQ(marks(rig, 17), ".EEEE....EEEE....");
    rig.click(1101);  // Save stops it on the next tick
    EXPECT_EQ(marks(rig, 3), "...");
}

// The remote panel's feed takes the peaks instead of decaying them in the
// chain's words; fed the same chain activity, it must show what the panel shows.
TEST(PanelMeters, RemoteFeedShowsWhatThePanelShows) {
    PanelRig rig;
    rig.g().option_flags |= option::show_composite;
    ProcessParams defaults;
    fill_defaults(defaults);
    std::unique_ptr<Processor> proc = make_processor(defaults);
    MeterHolds holds;
    Readings& pr = proc->chain.readings;
    Readings& rr = *rig.readings;

    // Per tick: input, output, clip in, clip out, bass clip, image, activity
    // (0: not written), band gain, bypass, no clipper.
    struct Step {
        double in, out, clip_in, clip_out, bass, image, activity, band;
        bool bypass, no_clipper;
    };
    const Step steps[] = {
        {20000, 31000, 30000, 26000, 900, 12000, 0.8, 0.7, false, false},
        {0, 0, 0, 0, 0, 0, 0, 0.6, false, false},
        {40000, 33000, 0, 0, 70000, 40000, 0, 0.9, false, false},
        {1000, 0, 9000, 2000, 0, 100, 0.5, 0.95, false, false},
        {0, 0, 0, 0, 0, 0, 0, 0.9, true, false},
        {5000, 7000, 20000, 1000, 3000, 5000, 0.4, 0.9, true, false},
        {0, 0, 0, 0, 0, 0, 0, 0.8, false, true},
        {0, 0, 0, 0, 0, 0, 0, 0.8, false, false},
        {0, 0, 0, 0, 0, 0, 0.9, 0.8, false, false},
    };
    int tick = 0;
    for (const Step& st : steps) {
        for (Readings* r : {&pr, &rr}) {
            raise_peak(r->input_peak, st.in);
            raise_peak(r->output_peak, st.out);
            raise_peak(r->clip_peak_in, st.clip_in);
            raise_peak(r->clip_peak_out, st.clip_out);
            raise_peak(r->bass_clip_peak, st.bass);
            raise_peak(r->stereo_image_peak, st.image);
            if (st.activity > 0) publish(r->stereo_activity, st.activity);
            for (int k = 0; k < 5; ++k) publish(r->band_composite_gain[k], st.band - 0.1 * k);
            publish(r->master_agc_gain, 3.0 + tick);
            publish(r->bass_agc_gain, 0.5 * tick);
            publish(r->agc_gated, tick & 1);
        }
        rig.g().bypass_all = st.bypass;
        rig.g().no_clipper = st.no_clipper;
        rig.tick();
        const MeterFrame f = meter_feed_tick(*proc, holds, st.bypass, st.no_clipper);
        SCOPED_TRACE(tick);
        EXPECT_EQ(f.input, rig.meter(1031));
        EXPECT_EQ(f.output, rig.meter(1059));
        EXPECT_EQ(f.agc_master_db, rig.meter(1149));
        EXPECT_EQ(f.agc_bass_db, rig.meter(1036));
        EXPECT_EQ(f.agc_gated, rig.text(1044) == "GATED");
        for (int k = 0; k < 5; ++k) EXPECT_EQ(f.band[k], rig.meter(kFirstRow[k])) << k;
        EXPECT_EQ(f.clip_depth, rig.meter(1131));
        EXPECT_EQ(f.bass_clip, rig.meter(1132));
        EXPECT_EQ(f.image, rig.meter(1082));
        EXPECT_EQ(f.activity, rig.meter(1122));
        ++tick;
    }
}

}  // namespace
}  // namespace qv
