// The exported entry point and the two records the host reads. Everything
// here works on the module's one static instance.
#include "host/dsp_records.h"
#include "host/instance.h"
#include "panel/texts.h"

#if defined(_WIN32)
#include <windows.h>
#define QV_EXPORT extern "C" __declspec(dllexport)
#else
#define QV_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

qv::Quorvane g_instance;

extern "C" {
DspModule* qv_get_module(int index);
void qv_config(DspModule* m) { qv::instance_config(g_instance, m); }
int qv_init(DspModule* m) { return qv::instance_init(g_instance, m); }
void qv_quit(DspModule* m) { qv::instance_quit(g_instance, m); }
int qv_modify_samples(DspModule*, short* samples, int numsamples, int bps, int nch, int srate) {
    return qv::instance_modify_samples(g_instance, samples, numsamples, bps, nch, srate);
}
}

DspModule g_module = {qv::module_description, nullptr, nullptr, qv_config, qv_init,
                      qv_modify_samples,      qv_quit, nullptr};
DspHeader g_header = {QUORVANE_DSP_HEADER_VERSION, qv::module_description, qv_get_module};

extern "C" DspModule* qv_get_module(int index) { return index == 0 ? &g_module : nullptr; }

}  // namespace

QV_EXPORT DspHeader* winampDSPGetHeader2(void) { return &g_header; }

#if defined(_WIN32)
// Load and unload notifications: nothing to do.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
#endif
