#pragma once
// One module instance: every module-wide record. The exported entry points
// use one static instance; tests make fresh ones.
#include "chain/chain_state.h"
#include "host/dsp_records.h"
#include "panel/panel_state.h"
#include "settings/settings.h"

namespace qv {

struct Quorvane {
    Settings settings;
    ChainState chain;
    PanelState panel;
};

int instance_init(Quorvane& q, DspModule* module);
void instance_config(Quorvane& q, DspModule* module);
void instance_quit(Quorvane& q, DspModule* module);

}  // namespace qv
