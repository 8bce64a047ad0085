#include "settings/startup.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/file_ops.h"
#include "settings/derive.h"
#include "settings/host_ini.h"
#include "settings/process_file.h"

namespace qv {

namespace {

// Default section records, per band: attack1, release1, attack2, release2,
// threshold (0.1 dB below full scale), ratio x10, band gain (0.1 dB).
constexpr std::int32_t kDefaultCompressor[kBands][7] = {
    {40, 1000, 500, 20000, 60, 40, 30}, {30, 1000, 500, 20000, 60, 40, -10}, {20, 1000, 500, 20000, 60, 40, 0},
    {10, 1000, 500, 20000, 60, 40, 30}, {10, 1000, 500, 20000, 60, 40, 30},  {20, 800, 500, 20000, 60, 80, 0},
    {40, 800, 500, 20000, 60, 80, 0},
};
constexpr std::int32_t kDefaultExpander[7] = {3, 200, 10, 100, 60, 25, 0};
constexpr std::int32_t kDefaultMultibandLimiter[7] = {10, 300, 0, 0, 40, 10, 0};
constexpr std::int32_t kDefaultDualBandLimiter[7] = {5, 300, 0, 0, 60, 10, 0};

void set_section(SectionParams& p, const std::int32_t (&v)[7]) {
    p.attack1_ms = v[0];
    p.release1_ms = v[1];
    p.attack2_ms = v[2];
    p.release2_ms = v[3];
    p.threshold_db10 = v[4];
    p.ratio_x10 = v[5];
    p.band_gain_db10 = v[6];
}

// Copies the bytes of an invalid process file to "<path>.bad" (through a
// temporary file), so that replacing it with the defaults loses nothing.
// True when there is nothing to keep or the copy is complete.
bool keep_invalid_file(const char* path) {
    std::FILE* in = std::fopen(path, "rb");
    if (!in) return errno == ENOENT;  // missing: nothing to keep; unreadable: keep it untouched
    std::string bytes;
    char buf[4096];
    std::size_t got;
    while ((got = std::fread(buf, 1, sizeof buf, in)) > 0) bytes.append(buf, got);
    const bool read_ok = !std::ferror(in);
    std::fclose(in);
    char bad[1100];
    if (!read_ok || std::snprintf(bad, sizeof bad, "%s.bad", path) >= static_cast<int>(sizeof bad)) return false;
    return platform::write_file_replacing(bad, bytes.data(), bytes.size());
}

// Writes the live (default) process as process n, keeping an invalid old
// file as ".bad" first; if that copy fails the old file stays untouched.
void save_defaults(Settings& s, int n) {
    char path[1024];
    if (!process_file_path(n, path, sizeof path)) return;
    if (!keep_invalid_file(path)) return;
    write_process_file(path, s.live);
}

}  // namespace

void fill_defaults(ProcessParams& p) {
    std::memset(&p, 0, sizeof p);
    for (int b = 0; b < kBands; ++b) {
        set_section(p.section[b][kCompressor], kDefaultCompressor[b]);
        set_section(p.section[b][kExpander], kDefaultExpander);
        set_section(p.section[b][kLimiter], b < kMultibandBands ? kDefaultMultibandLimiter : kDefaultDualBandLimiter);
    }
    GlobalParams& g = p.global;
    std::memcpy(g.process_name, "DEFAULT", 8);
    g.agc_on = 1;
    g.agc_max_gain_db = 25;
    g.band_link_12 = 50;
    g.overdrive_db = 10;
    g.bass_eq_gain_db = 3;
    g.stereo_level_pct = 0;
    g.stereo_depth_ms = 0;
    g.bypass_all = 0;
    g.bass_clip_threshold = 0;
    g.no_clipper = 0;
    g.no_stereo_exp = 0;
    g.lookahead_ms = 10;
    g.independent_gate = 0;
    g.preemphasis_50us = 1;
    g.width_limiter = 2000;
    g.gate_threshold_db = 40;
    g.hold_ms = 20;
    g.preemphasis_on = 0;
    g.bass_eq_freq_hz = 65;
    g.density_overdrive_db = 0;
    g.output_level_pct = 100;
    g.compressor_on = 1;
    g.expander_on = 0;
    g.limiter_on = 0;
    g.band_link_54 = 20;
    g.band_link_43 = 40;
    g.band_link_32 = 40;
    g.option_flags = option::phase_rotator;
    g.agc_band_link_pct = 50;
    g.clip_drive = 80;
    g.master_release_ms = 4000;
    g.bass_release_ms = 4000;
    g.master_attack_ms = 200;
    g.bass_attack_ms = 500;
    g.master_bass_mix_pct = 50;
    g.multiband_pct = 100;
}

int startup_load(Settings& s) {
    int n = read_int_key(kKeyProcessNumber, 0);
    s.host.panel_visible = read_int_key(kKeyVisible, 1);
    s.host.panel_minimized = read_int_key(kKeyMinimized, 0);

    bool valid = false;
    const bool number_in_range = n >= 0 && n <= kMaxProcessNumber;
    if (number_in_range) {
        valid = load_process_live(s, n);
    } else {
        n = 0;
    }
    if (!valid) {
        fill_defaults(s.live);
        // An out-of-range number plays the defaults under number 0, but a
        // valid file 0 is the user's and stays as it is.
        bool file_zero_valid = false;
        if (!number_in_range) {
            char path[1024];
            ProcessParams scratch;  // only its validity matters
            file_zero_valid = process_file_path(0, path, sizeof path) && read_process_file(path, scratch);
        }
        if (!file_zero_valid) save_defaults(s, n);
    }

    derive_loaded_process(s);
    return n;
}

}  // namespace qv
