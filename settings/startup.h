#pragma once
// The startup load run first by Init, and the default process.
#include "settings/records.h"
#include "settings/settings.h"

namespace qv {

// Reads "ProcessNumber", "Visible" and "Minimized" from the host INI file,
// brings the on-air process into the live records (its file, or the defaults,
// which are then saved), clamps the ratios, derives the section coefficients
// and band_gain_level 0..4, limits stereo_depth_ms and returns the on-air
// number 0..100. An invalid file is kept as "qv$N.dat.bad" before the
// defaults replace it.
int startup_load(Settings& s);

// Zeroes p and writes the default process "DEFAULT".
void fill_defaults(ProcessParams& p);

}  // namespace qv
