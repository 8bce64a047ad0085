#include "settings/process_file.h"

#include <bit>
#include <cstdio>
#include <cstring>

#include "platform/file_ops.h"
#include "platform/host_path.h"
#include "settings/derive.h"

namespace qv {

namespace {

// The records are copied word for word; process_name's bytes keep their order
// only because every target stores words little-endian.
static_assert(std::endian::native == std::endian::little);

constexpr char kVersionText[kProcessVersionBytes] = {'2', '.', '0', 0, 0, 0, 0, 0, 0, 0};

void put_word(unsigned char* at, std::int32_t v) {
    const auto u = static_cast<std::uint32_t>(v);
    at[0] = static_cast<unsigned char>(u);
    at[1] = static_cast<unsigned char>(u >> 8);
    at[2] = static_cast<unsigned char>(u >> 16);
    at[3] = static_cast<unsigned char>(u >> 24);
}

std::int32_t get_word(const unsigned char* at) {
    const std::uint32_t u =
        std::uint32_t{at[0]} | std::uint32_t{at[1]} << 8 | std::uint32_t{at[2]} << 16 | std::uint32_t{at[3]} << 24;
    return static_cast<std::int32_t>(u);
}

// The records as the flat sequence of words that the file stores: 21 x 207
// section words, then 254 global words (process_name as raw bytes).
constexpr int kRecordWords = kBands * kSections * kSectionWords + kGlobalWords;
static_assert(kProcessSectionsOffset + 4 * kRecordWords == kProcessFileBytes);
static_assert(sizeof(ProcessParams) == 4 * kRecordWords);

std::int32_t record_word(const ProcessParams& p, int i) {
    std::int32_t v;
    std::memcpy(&v, reinterpret_cast<const unsigned char*>(&p) + 4 * i, 4);
    return v;
}

void set_record_word(ProcessParams& p, int i, std::int32_t v) {
    std::memcpy(reinterpret_cast<unsigned char*>(&p) + 4 * i, &v, 4);
}

// Writes the whole image to tmp_path; every write, the flush and the close checked.
bool write_image(const char* tmp_path, const unsigned char* bytes, std::size_t len) {
    std::FILE* f = std::fopen(tmp_path, "wb");
    if (!f) return false;
    bool ok = std::fwrite(bytes, 1, len, f) == len;
    ok = platform::commit_file(f) && ok;
    ok = std::fclose(f) == 0 && ok;
    return ok;
}

}  // namespace

bool process_file_name(int n, char (&name)[16]) {
    if (n < 0 || n > kMaxProcessNumber) return false;
    std::snprintf(name, sizeof name, "qv$%d.dat", n);
    return true;
}

bool process_file_path(int n, char* out, std::size_t cap) {
    char name[16];
    if (!process_file_name(n, name)) {
        if (out && cap) out[0] = '\0';
        return false;
    }
    return platform::host_file_path(name, out, cap);
}

void encode_process(const ProcessParams& p, unsigned char (&bytes)[kProcessFileBytes]) {
    std::memcpy(bytes, kVersionText, kProcessVersionBytes);
    put_word(bytes + kProcessVersionBytes, kProcessMagic);
    for (int i = 0; i < kRecordWords; ++i) put_word(bytes + kProcessSectionsOffset + 4 * i, record_word(p, i));
}

bool decode_process(const unsigned char* bytes, std::size_t len, ProcessParams& p) {
    if (len < kProcessSectionsOffset) return false;
    const std::int32_t magic = get_word(bytes + kProcessVersionBytes);
    const std::size_t words = (len - kProcessSectionsOffset) / 4;
    const int n = words < static_cast<std::size_t>(kRecordWords) ? static_cast<int>(words) : kRecordWords;
    for (int i = 0; i < n; ++i) set_record_word(p, i, get_word(bytes + kProcessSectionsOffset + 4 * i));
    return len >= kProcessFileBytes && magic == kProcessMagic;
}

bool write_process_file(const char* path, const ProcessParams& p) {
    if (!path || !path[0]) return false;
    char tmp_path[1100];
    if (std::snprintf(tmp_path, sizeof tmp_path, "%s.tmp", path) >= static_cast<int>(sizeof tmp_path)) return false;
    static_assert(kProcessFileBytes < 32768, "the image lives on the caller's stack");
    unsigned char bytes[kProcessFileBytes];
    encode_process(p, bytes);
    if (!write_image(tmp_path, bytes, sizeof bytes) || !platform::replace_file(tmp_path, path)) {
        std::remove(tmp_path);
        return false;
    }
    return true;
}

bool read_process_file(const char* path, ProcessParams& out) {
    if (!path || !path[0]) return false;
    // Read-only: a write-protected process loads like any other.
    std::FILE* f = std::fopen(path, "rb");
    if (!f) return false;
    unsigned char bytes[kProcessFileBytes];
    std::size_t len = 0;
    while (len < sizeof bytes) {
        const std::size_t got = std::fread(bytes + len, 1, sizeof bytes - len, f);
        if (got == 0) break;
        len += got;
    }
    std::fclose(f);
    return decode_process(bytes, len, out);
}

bool save_process(Settings& s, int n) {
    char path[1024];
    return process_file_path(n, path, sizeof path) && write_process_file(path, s.live);
}

bool load_process_live(Settings& s, int n) {
    char path[1024];
    return process_file_path(n, path, sizeof path) && read_process_file(path, s.live);
}

int load_process_staged(Settings& s, int n) {
    StagedProcess& st = s.staged;
    char path[1024];
    if (!process_file_path(n, path, sizeof path) || !read_process_file(path, st.params)) {
        std::memcpy(st.params.global.process_name, "EMPTY", 6);
        return 0;
    }
    clamp_ratios(st.params);
    derive_all_sections(st.params, st.section_coefs, st.band_gain_level);
    return 1;
}

}  // namespace qv
