#pragma once
// The output of `process`: 44.1 kHz 16-bit, to a file that appears complete
// or not at all, or "-" for a WAV stream on standard output.
#include <sndfile.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "cli/audio/wav_stream.h"
#include "platform/posix/temp_file.h"

namespace qv::cli {

struct AudioOutput {
    std::string name;  // the path, or "standard output"
    bool to_stdout = false;
    int container = 0;  // SF_FORMAT_WAV, _FLAC or _AIFF
    int channels = 0;
    std::uint64_t frames = 0;  // written so far
    platform::PendingFile pending;
    SNDFILE* file = nullptr;
    WavStreamWriter stream;
    std::vector<int> tags_written;  // SF_STR_* the output format took
};

// The container for OUT by its extension ("-": WAV). False when there is
// none the tool writes (a usage error).
bool output_container(const std::string& path, int& container);

// Starts the output; tags are set where the format holds them.
bool output_open(AudioOutput& out, const std::string& path, int channels,
                 const std::vector<std::pair<int, std::string>>& tags, std::string& error);

bool output_write(AudioOutput& out, const std::int16_t* samples, std::size_t frames, std::string& error);

// Completes the header, reads it back to check that it describes every frame
// written, and makes the file ready to take OUT's place (platform::
// pending_ready; platform::pending_commit on out.pending puts it there).
// Standard output: patches the header when it is a regular file. False with
// the cause in error; nothing is left behind then.
bool output_finish(AudioOutput& out, platform::ReplacePolicy policy, std::string& error);

// Drops an unfinished output. False when its temporary name could not be
// removed, appending why to *error when given. Safe to call more than once.
bool output_discard(AudioOutput& out, std::string* error = nullptr);

}  // namespace qv::cli
