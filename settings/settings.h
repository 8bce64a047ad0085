#pragma once
// The control side's records: the parameter set the chain plays (the live
// process with its derived values and the panel's switches), and what only
// the control side keeps (the staged process, the process selection, the
// host keys). One instance per processor instance.
#include <cstdint>

#include "dsp/filters.h"
#include "dsp/gain_computer.h"
#include "settings/records.h"

namespace qv {

// Values derived from the live parameters; the chain reads them per frame.
struct DerivedValues {
    std::int32_t soft_clip_knee;        // 2148
    double overdrive_gain;              // lvl20(overdrive_db) * 2^-15
    double density_gain;                // lvl20(density_overdrive_db) * 2^-15
    double agc_level_floor;             // lvl20(-agc_max_gain_db) / 2 (integer), >= 1
    std::int32_t gate_level;            // lvl20(-gate_threshold_db)
    std::int32_t bass_clip_level;       // lvl200(bass_clip_threshold)
    std::int32_t lookahead_samples;     // samples(lookahead_ms), 0..4410
    std::int32_t stereo_depth_samples;  // samples(stereo_depth_ms), 0..882
    double bass_attack_coef;
    double bass_release_coef;
    double master_attack_coef;
    double master_release_coef;
    double bass_mix_weight;    // (100 - master_bass_mix_pct) * 0.01
    double master_mix_weight;  // master_bass_mix_pct * 0.01
    BiquadCoefs bass_eq_coefs;
    // Stored percentages as the chain uses them, limited to the panel's ranges.
    std::int32_t agc_band_link_pct;  // 0..100
    std::int32_t band_link_12_pct;   // 0..100 each
    std::int32_t band_link_32_pct;
    std::int32_t band_link_43_pct;
    std::int32_t band_link_54_pct;
    double multiband_depth;         // multiband_pct 0..100, times 0.01
    std::int32_t stereo_level_pct;  // 0..100
    std::int32_t clip_drive_pct;    // 40..100
    std::int32_t output_level_pct;  // 0..100
};

// Panel-side process bookkeeping that belongs with the process.
struct ProcessSelection {
    std::int32_t on_air_process;
    std::int32_t browsed_process;
    std::int32_t staged_process_valid;
    std::int32_t process_modified;
};

// Values kept in the host's INI file.
struct HostKeys {
    std::int32_t panel_visible;
    std::int32_t panel_minimized;
    std::int32_t panel_pos_x = 10;  // screen coordinates of the panel's top-left corner
    std::int32_t panel_pos_y = 10;
};

// One complete parameter set: everything the chain reads. The control side
// edits its working copy (Settings) and publishes whole copies of it; the
// audio thread takes one at the start of each block and only reads it.
struct ChainParams {
    ProcessParams live;
    SectionCoefs section_coefs[kBands][kSections];
    std::int32_t band_gain_level[kBands];  // 0..4 band gain (32767 = 0 dB); 5, 6 clip level - knee
    DerivedValues derived;
    std::int32_t band_active[kBands];  // 0 while the band's M button mutes it
    std::int32_t test_tone_on;
    // Requests to the audio thread, carried out at the block boundary where it
    // first sees a new value. Only ever incremented, so a later publication
    // still carries an earlier request.
    std::uint32_t memory_reset_count;   // detector envelopes, holds, AGC envelopes
    std::uint32_t bass_eq_clear_count;  // the four bass EQ section states
};

// The panel's switches, which no process holds: every band sounds and the
// test tone is off. Init, Config and Load start from here.
inline void reset_switches(ChainParams& p) {
    for (auto& active : p.band_active) active = 1;
    p.test_tone_on = 0;
}

struct Settings : ChainParams {
    StagedProcess staged;
    ProcessSelection selection;
    HostKeys host;
    std::int32_t bass_eq_last_shelving;  // shape of the last bass EQ design
};

}  // namespace qv
