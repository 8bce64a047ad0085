#include "cli/audio/audio_output.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/posix/fs_util.h"

namespace qv::cli {

namespace {

std::string cause_of(const std::string& name) { return name + ": " + std::strerror(errno); }

std::uint32_t le32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
std::uint32_t be32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[3]) | static_cast<std::uint32_t>(p[2]) << 8 |
           static_cast<std::uint32_t>(p[1]) << 16 | static_cast<std::uint32_t>(p[0]) << 24;
}

// The frame count and length fields of the header libsndfile wrote at its
// close, read from the file: libsndfile reads a WAV whose lengths say 0 as
// if they were right, so reading it back through libsndfile proves nothing.
// The counts of -1 mean "not found".
struct HeaderCounts {
    std::int64_t frames = -1;
    std::int64_t form_bytes = -1;  // RIFF/FORM length + 8: the file size it claims
};

HeaderCounts read_header_counts(int fd, int container, int channels) {
    HeaderCounts h;
    unsigned char b[4096];
    const ssize_t n = pread(fd, b, sizeof b, 0);
    if (n < 12) return h;
    const std::size_t len = static_cast<std::size_t>(n);
    if (container == SF_FORMAT_FLAC) {
        // "fLaC", the STREAMINFO block's 4-byte header, then 36 bits of total
        // samples from bit 108 of the block.
        if (len < 8 + 34 || std::memcmp(b, "fLaC", 4) != 0 || (b[4] & 0x7F) != 0) return h;
        const unsigned char* si = b + 8;
        h.frames = static_cast<std::int64_t>(si[13] & 0x0F) << 32 | be32(si + 14);
        // The encoder fills in the largest frame size and the MD5 sum at the
        // same time; either left zero means that part of the rewrite failed.
        const bool sized = (si[7] | si[8] | si[9]) != 0;
        bool summed = false;
        for (int i = 18; i < 34; ++i) summed |= si[i] != 0;
        if (h.frames > 0 && (!sized || !summed)) h.frames = -1;
        return h;
    }
    const bool wav = container == SF_FORMAT_WAV;
    if (std::memcmp(b, wav ? "RIFF" : "FORM", 4) != 0) return h;
    h.form_bytes = static_cast<std::int64_t>(wav ? le32(b + 4) : be32(b + 4)) + 8;
    for (std::size_t at = 12; at + 8 <= len;) {
        const std::uint32_t size = wav ? le32(b + at + 4) : be32(b + at + 4);
        if (wav && std::memcmp(b + at, "data", 4) == 0) {
            h.frames = size / (2 * static_cast<std::uint32_t>(channels));
            return h;
        }
        if (!wav && std::memcmp(b + at, "COMM", 4) == 0 && at + 14 <= len) {
            h.frames = be32(b + at + 10);
            return h;
        }
        at += 8 + static_cast<std::size_t>(size) + (size & 1);
    }
    return h;
}

}  // namespace

bool output_container(const std::string& path, int& container) {
    const std::string ext = path == "-" ? "wav" : platform::extension_of(path);
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
        output_discard(out, &error);
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
        output_discard(out, &error);
        return false;
    }
    const HeaderCounts h = read_header_counts(out.pending.fd, out.container, out.channels);
    struct stat st;
    const bool sized = fstat(out.pending.fd, &st) == 0;
    if (h.frames != static_cast<std::int64_t>(out.frames) ||
        (h.form_bytes >= 0 && (!sized || h.form_bytes != static_cast<std::int64_t>(st.st_size)))) {
        error = out.name + ": the file's header could not be completed (it counts " +
                (h.frames < 0 ? std::string("no") : std::to_string(h.frames)) + " of " + std::to_string(out.frames) +
                " frames)";
        output_discard(out, &error);
        return false;
    }
    return platform::pending_ready(out.pending, policy, error);
}

bool output_discard(AudioOutput& out, std::string* error) {
    if (out.file != nullptr) sf_close(out.file);
    out.file = nullptr;
    return platform::pending_discard(out.pending, error);
}

}  // namespace qv::cli
