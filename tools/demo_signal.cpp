// quorvane_demo_signal OUT.wav: the demo programme of scripts/run-demo.sh
// (tools/demo_programme.h), 32 seconds of stereo 44.1 kHz 16-bit.
#include <sndfile.h>

#include <cstdio>

#include "tools/demo_programme.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: quorvane_demo_signal OUT.wav\n");
        return 2;
    }
    const std::vector<std::int16_t> out = qv::demo::demo_programme();
    const sf_count_t frames = static_cast<sf_count_t>(out.size() / 2);
    SF_INFO info = {};
    info.samplerate = qv::demo::kProgrammeRate;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* f = sf_open(argv[1], SFM_WRITE, &info);
    if (f == nullptr) {
        std::fprintf(stderr, "quorvane_demo_signal: %s: %s\n", argv[1], sf_strerror(nullptr));
        return 1;
    }
    const bool ok = sf_writef_short(f, out.data(), frames) == frames;
    if (sf_close(f) != 0 || !ok) {
        std::fprintf(stderr, "quorvane_demo_signal: %s: write failed\n", argv[1]);
        return 1;
    }
    return 0;
}
