#pragma once
// The host's plug-in interface: a header record and one module record, read
// field by field (one machine word each). Written from the host's published
// contract: header version 0x20, export "winampDSPGetHeader2", cdecl calls.

#ifdef __cplusplus
extern "C" {
#endif

struct DspModule;

typedef struct DspModule* (*DspGetModule)(int index);

typedef struct DspHeader {
    int version;  // 0x20
    const char* description;
    DspGetModule get_module;
} DspHeader;

typedef struct DspModule {
    const char* description;
    void* parent_window;  // HWND, filled in by the host before Init/Config
    void* instance;       // HINSTANCE, filled in by the host
    void (*Config)(struct DspModule* module);
    int (*Init)(struct DspModule* module);
    int (*ModifySamples)(struct DspModule* module, short* samples, int numsamples, int bps, int nch, int srate);
    void (*Quit)(struct DspModule* module);
    void* user_data;
} DspModule;

typedef DspHeader* (*DspGetHeaderFn)(void);

#define QUORVANE_DSP_HEADER_VERSION 0x20
#define QUORVANE_EXPORT_NAME "winampDSPGetHeader2"

#ifdef __cplusplus
}
#endif
