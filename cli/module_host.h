#pragma once
// Loads the processing module and drives it through its export exactly as a
// media player does: winampDSPGetHeader2, get_module(0), Init, ModifySamples
// for every block, Quit.
#include <cstdint>
#include <string>

#include "host/dsp_records.h"

namespace qv::cli {

// Native-only extra export of the module: the AGC's master and bass gains
// (linear, 0 under Bypass All) as the last frame left them.
using AgcGainsFn = void (*)(double* master_gain, double* bass_gain);
constexpr char kAgcGainsExport[] = "quorvane_agc_gains";

constexpr int kChainRate = 44100;  // every coefficient of the chain is designed for it
constexpr int kChainBits = 16;

struct ModuleHost {
    void* library = nullptr;
    DspModule* module = nullptr;
    AgcGainsFn agc_gains = nullptr;  // null when the module does not export it
    bool running = false;            // between Init and Quit
};

// The module's path: $QUORVANE_MODULE when set, else the first of
// <exe dir>/libdsp_quorvane.so, <exe dir>/../lib/quorvane/, <exe dir>/../lib/
// that exists. False (with the places looked at in error) when none does.
bool find_module(std::string& path, std::string& error);

// dlopen, header, module 0. The host directory must be set before init_module.
bool open_module(ModuleHost& host, const std::string& path, std::string& error);
bool init_module(ModuleHost& host, std::string& error);

// One block of interleaved 16-bit frames at 44.1 kHz, processed in place.
void process_block(ModuleHost& host, std::int16_t* samples, int frames, int channels);

// Quit when running. The library stays loaded until the process ends.
void quit_module(ModuleHost& host);

}  // namespace qv::cli
