#include "cli/audio/audio_input.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/posix/interrupt.h"

namespace qv::cli {

bool input_open(AudioInput& in, const std::string& path, std::string& error) {
    input_close(in);
    in.info = SF_INFO{};
    if (path != "-") {
        in.name = path;
        in.file = sf_open(path.c_str(), SFM_READ, &in.info);
        if (in.file == nullptr) {
            error = path + ": " + sf_strerror(nullptr);
            return false;
        }
        return true;
    }
    in.name = "standard input";
    in.from_stdin = true;
    WavStreamFormat format;
    if (read_wav_header(STDIN_FILENO, format, error) != WavHeaderStatus::ok) {
        error = in.name + ": " + error;
        return false;
    }
    in.info.channels = format.channels;
    in.info.samplerate = format.rate;
    in.info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    in.open_ended = format.until_eof;
    in.left = format.data_bytes;
    return true;
}

void input_close(AudioInput& in) {
    if (in.file != nullptr) sf_close(in.file);
    in.file = nullptr;
}

bool input_is_narrow(const AudioInput& in) {
    switch (in.info.format & SF_FORMAT_SUBMASK) {
        case SF_FORMAT_PCM_S8:
        case SF_FORMAT_PCM_U8:
        case SF_FORMAT_PCM_16:
        case SF_FORMAT_ULAW:
        case SF_FORMAT_ALAW:
        case SF_FORMAT_IMA_ADPCM:
        case SF_FORMAT_MS_ADPCM:
        case SF_FORMAT_GSM610:
        case SF_FORMAT_DWVW_12:
        case SF_FORMAT_DWVW_16:
        case SF_FORMAT_DPCM_8:
        case SF_FORMAT_DPCM_16:
        case SF_FORMAT_ALAC_16:
            return true;
        default:
            return false;
    }
}

namespace {

// Whole frames of 16-bit PCM from standard input; a partial frame at the
// end of the stream cannot be processed and is dropped.
long read_stdin(AudioInput& in, std::int16_t* out, std::size_t frames, std::string& error) {
    const std::size_t frame_bytes = 2 * static_cast<std::size_t>(in.info.channels);
    std::size_t want = frames * frame_bytes;
    if (!in.open_ended && in.left < want) want = static_cast<std::size_t>(in.left - in.left % frame_bytes);
    in.bytes.resize(want);
    std::size_t have = 0;
    while (have < want) {
        const ssize_t got = read(STDIN_FILENO, in.bytes.data() + have, want - have);
        if (platform::interrupted_signal) return -1;
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            error = in.name + ": " + std::strerror(errno);
            return -1;
        }
        if (got == 0) break;
        have += static_cast<std::size_t>(got);
    }
    if (!in.open_ended) in.left -= have;
    const std::size_t n = have / frame_bytes;
    for (std::size_t i = 0; i < n * static_cast<std::size_t>(in.info.channels); ++i)
        out[i] = static_cast<std::int16_t>(
            static_cast<std::uint16_t>(in.bytes[2 * i] | (static_cast<unsigned>(in.bytes[2 * i + 1]) << 8)));
    in.info.frames += static_cast<sf_count_t>(n);
    return static_cast<long>(n);
}

template <class Sample, class ReadFn>
long read_file(AudioInput& in, Sample* out, std::size_t frames, std::string& error, ReadFn read_fn) {
    if (platform::interrupted_signal) return -1;
    const sf_count_t got = read_fn(in.file, out, static_cast<sf_count_t>(frames));
    if (got < 0 || (got == 0 && sf_error(in.file) != SF_ERR_NO_ERROR)) {
        error = in.name + ": " + sf_strerror(in.file);
        return -1;
    }
    return static_cast<long>(got);
}

}  // namespace

long input_read(AudioInput& in, std::int16_t* out, std::size_t frames, std::string& error) {
    if (in.from_stdin) return read_stdin(in, out, frames, error);
    return read_file(in, out, frames, error, sf_readf_short);
}

long input_read(AudioInput& in, float* out, std::size_t frames, std::string& error) {
    if (!in.from_stdin) return read_file(in, out, frames, error, sf_readf_float);
    // Standard input is 16-bit: the float scale of libsndfile (1.0 = 32768).
    std::vector<std::int16_t> shorts(frames * static_cast<std::size_t>(in.info.channels));
    const long n = read_stdin(in, shorts.data(), frames, error);
    for (long i = 0; i < n * in.info.channels; ++i)
        out[i] = static_cast<float>(shorts[static_cast<std::size_t>(i)]) / 32768.0f;
    return n;
}

std::vector<std::pair<int, std::string>> input_tags(const AudioInput& in) {
    std::vector<std::pair<int, std::string>> tags;
    if (in.file == nullptr) return tags;
    for (int t = SF_STR_FIRST; t <= SF_STR_LAST; ++t) {
        const char* v = sf_get_string(in.file, t);
        if (v != nullptr && v[0] != '\0') tags.emplace_back(t, v);
    }
    return tags;
}

std::vector<int> input_channel_positions(const AudioInput& in) {
    std::vector<int> map(static_cast<std::size_t>(in.info.channels > 0 ? in.info.channels : 0));
    if (in.file == nullptr || map.empty() ||
        sf_command(in.file, SFC_GET_CHANNEL_MAP_INFO, map.data(), static_cast<int>(map.size() * sizeof(int))) !=
            SF_TRUE)
        return {};
    return map;
}

}  // namespace qv::cli
