#pragma once
// Programme made here from oscillators and noise, stereo 44.1 kHz 16-bit
// interleaved: the demo of scripts/run-demo.sh and a dense, loud programme
// for the chain's benchmark. Only the standard library, so that the tools and
// the benchmark can both use it.
#include <cstdint>
#include <vector>

namespace qv::demo {

constexpr int kProgrammeRate = 44100;

// 32 seconds with the contrasts a broadcast processor is there to even out:
//   0-6 s    quiet speech-like voice (pulse train through two formants)
//   6-8 s    pause
//   8-18 s   loud band: kick drum, bass line, chord pad, hi-hats
//   18-24 s  quiet treble: high string notes and cymbal shimmer
//   24-26 s  pause
//   26-32 s  loud, bass-heavy: deep bass and kick under the voice
std::vector<std::int16_t> demo_programme();

// Every instrument of the demo at once, in 8-second sections that change the
// arrangement (band and voice; everything with the deep bass; voice, pad and
// treble over the kick), mixed as loud as mastered pop reaches the air:
// about -12 dBFS RMS with the few higher peaks clipped at full scale. Every
// band of the chain is busy on every frame, as on loud real material.
std::vector<std::int16_t> dense_programme(double seconds);

}  // namespace qv::demo
