#include "cli/audio_output.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "cli/fs_util.h"

namespace qv::cli {

namespace {

std::string cause_of(const std::string& name) { return name + ": " + std::strerror(errno); }

}  // namespace

bool output_container(const std::string& path, int& container) {
    const std::string ext = path == "-" ? "wav" : extension_of(path);
    if (ext == "wav")
        container = SF_FORMAT_WAV;
    else if (ext == "flac")
        container = SF_FORMAT_FLAC;
    else if (ext == "aif" || ext == "aiff")
        container = SF_FORMAT_AIFF;
    else
        return false;
    return true;
}

bool output_open(AudioOutput& out, const std::string& path, int channels,
                 const std::vector<std::pair<int, std::string>>& tags, std::string& error) {
    output_discard(out);
    out.channels = channels;
    out.frames = 0;
    out.tags_written.clear();
    if (!output_container(path, out.container)) {
        error = path + ": unsupported output format";
        return false;
    }
    if (path == "-") {
        out.name = "standard output";
        out.to_stdout = true;
        if (!wav_writer_start(out.stream, STDOUT_FILENO, channels)) {
            error = cause_of(out.name);
            return false;
        }
        return true;
    }
    out.name = path;
    if (!platform::pending_create(out.pending, path, error)) return false;
    SF_INFO info = {};
    info.samplerate = 44100;
    info.channels = channels;
    info.format = out.container | SF_FORMAT_PCM_16;
    out.file = sf_open_fd(out.pending.fd, SFM_WRITE, &info, SF_FALSE);
    if (out.file == nullptr) {
        error = path + ": " + sf_strerror(nullptr);
        output_discard(out);
        return false;
    }
    // Before any audio: some formats keep their tags ahead of the data.
    for (const auto& [type, value] : tags)
        if (sf_set_string(out.file, type, value.c_str()) == 0) out.tags_written.push_back(type);
    return true;
}

bool output_write(AudioOutput& out, const std::int16_t* samples, std::size_t frames, std::string& error) {
    if (out.to_stdout) {
        if (!wav_writer_samples(out.stream, samples, frames * static_cast<std::size_t>(out.channels))) {
            error = cause_of(out.name);
            return false;
        }
    } else if (sf_writef_short(out.file, samples, static_cast<sf_count_t>(frames)) != static_cast<sf_count_t>(frames)) {
        error = out.name + ": cannot write: " + sf_strerror(out.file);
        return false;
    }
    out.frames += frames;
    return true;
}

bool output_finish(AudioOutput& out, platform::ReplacePolicy policy, std::string& error) {
    if (out.to_stdout) {
        if (!wav_writer_finish(out.stream)) {
            error = out.name + ": cannot complete the WAV header: " + std::strerror(errno);
            return false;
        }
        return true;
    }
    // libsndfile writes the final header at close but does not always report
    // a failure of that write, so the header is read back before the file
    // takes OUT's place.
    const int closed = sf_close(out.file);
    out.file = nullptr;
    if (closed != 0) {
        error = out.name + ": cannot write: " + sf_error_number(closed);
        output_discard(out);
        return false;
    }
    SF_INFO info = {};
    SNDFILE* check = nullptr;
    const int fd = lseek(out.pending.fd, 0, SEEK_SET) == 0 ? dup(out.pending.fd) : -1;
    if (fd >= 0) check = sf_open_fd(fd, SFM_READ, &info, SF_TRUE);
    if (fd >= 0 && check == nullptr) close(fd);
    if (check != nullptr) sf_close(check);
    if (check == nullptr || info.frames != static_cast<sf_count_t>(out.frames) || info.channels != out.channels ||
        info.samplerate != 44100) {
        error = out.name + ": the file's header could not be completed (" +
                (check == nullptr ? std::string("unreadable") : std::to_string(info.frames) + " frames of " +
                                                                     std::to_string(out.frames)) +
                ")";
        output_discard(out);
        return false;
    }
    return platform::pending_publish(out.pending, policy, error);
}

void output_discard(AudioOutput& out) {
    if (out.file != nullptr) sf_close(out.file);
    out.file = nullptr;
    platform::pending_discard(out.pending);
}

}  // namespace qv::cli
