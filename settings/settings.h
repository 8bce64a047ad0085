#pragma once
// Everything of the settings subsystem that lives for the whole module:
// the live process with its derived values, the staged process, the process
// selection and the host keys. One instance per module instance.
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
};

// Run-time memories of the chain that the full recomputation (and the bass
// EQ design) re-initialise; the chain writes them every frame, the settings
// code only resets them, the panel sets test_tone_on and band_active.
struct ResetMemories {
    BandGains bands;
    double bass_agc_envelope;  // 1.0 after every recompute
    double master_agc_envelope;
    std::int32_t test_tone_on;
    BiquadState bass_eq_state[4];  // [0] is cleared when shelving/peaking changes
    std::int32_t bass_eq_last_shelving;
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

struct Settings {
    ProcessParams live;
    SectionState section_state[kBands][kSections];
    std::int32_t band_gain_level[kBands];  // 0..4 band gain (32767 = 0 dB); 5, 6 clip level - knee
    DerivedValues derived;
    ResetMemories mem;
    StagedProcess staged;
    ProcessSelection selection;
    HostKeys host;
};

}  // namespace qv
