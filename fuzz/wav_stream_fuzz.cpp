// The streaming WAV reader: any bytes on standard input, as `process -` and
// `stream` meet them. The header is read, then every frame it announces.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/audio/audio_input.h"
#include "cli/audio/wav_stream.h"
#include "platform/posix/fs_util.h"

namespace {

// What a reader that said yes must have found.
void check_format(const qv::cli::AudioInput& in) {
    const SF_INFO& i = in.info;
    if (i.channels < 1 || i.channels > 2 || i.samplerate < 8000 || i.samplerate > 768000) std::abort();
    if (!in.open_ended && in.left >= qv::cli::kOpenEndedFrom) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const int fd = memfd_create("wav", MFD_CLOEXEC);
    if (fd < 0) return 0;
    if (qv::platform::write_full(fd, data, size) && lseek(fd, 0, SEEK_SET) == 0 && dup2(fd, STDIN_FILENO) == 0) {
        qv::cli::AudioInput in;
        std::string error;
        if (qv::cli::input_open(in, "-", error)) {
            check_format(in);
            std::vector<std::int16_t> shorts(333 * 2);
            std::vector<float> floats(333 * 2);
            std::uint64_t frames = 0;
            for (int turn = 0;; ++turn) {
                const long got = turn % 2 ? qv::cli::input_read(in, shorts.data(), 333, error)
                                          : qv::cli::input_read(in, floats.data(), 333, error);
                if (got <= 0) break;
                frames += static_cast<std::uint64_t>(got);
            }
            // No more frames than bytes that followed the header.
            if (frames * 2 * static_cast<std::uint64_t>(in.info.channels) > size) std::abort();
            qv::cli::input_close(in);
        } else if (error.empty()) {
            std::abort();  // a refusal always says why
        }
    }
    close(fd);
    return 0;
}
