// The process file and the INI as the module meets them at Init: the bytes
// are written into a private host directory, then the module is driven
// through its export as a player drives it (Init, a block of programme,
// Quit).
//
// Input: byte 0 picks the process number N (mod 101) whose file is written;
// bytes 1-2 (little-endian) the length of the INI text that follows; the
// rest is the process file: after a 0 byte, its raw bytes; otherwise 6-byte
// patches (word index, 32-bit value, little-endian) over the default
// process, so that most inputs are well-formed files with odd values.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "host/dsp_records.h"

extern "C" DspHeader* winampDSPGetHeader2(void);

namespace {

namespace fs = std::filesystem;

fs::path g_dir;
std::string g_default_image;  // qv$0.dat as Init writes it into an empty directory

void clear_dir() {
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(g_dir, ec)) fs::remove_all(e.path(), ec);
}

void write_file(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void run_module() {
    DspModule* m = winampDSPGetHeader2()->get_module(0);
    if (m == nullptr || m->Init(m) != 0) return;
    // 23 ms of loud stereo programme, a low and a high tone: longer than the
    // look-ahead rings (884 frames), so every stage's output is reached.
    constexpr int kFrames = 1024;
    static short block[kFrames * 2];
    for (int i = 0; i < kFrames; ++i) {
        block[2 * i] = static_cast<short>((i * 97 % 200 - 100) * 250);
        block[2 * i + 1] = static_cast<short>((i * 13 % 600 - 300) * 90);
    }
    if (m->ModifySamples(m, block, kFrames, 16, 2, 44100) != kFrames) std::abort();
    m->Quit(m);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // A file system in memory where there is one: the module commits each
    // file it writes to the disk.
    std::string pattern = (fs::is_directory("/dev/shm") ? "/dev/shm" : "/tmp") + std::string("/qv-fuzz-XXXXXX");
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    g_dir = pattern;
    setenv("QUORVANE_HOST_DIR", g_dir.c_str(), 1);
    run_module();
    std::ifstream f(g_dir / "qv$0.dat", std::ios::binary);
    g_default_image.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    if (g_default_image.size() < 14) std::abort();
    std::atexit([] {
        std::error_code ec;
        fs::remove_all(g_dir, ec);
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    const int number = data[0] % 101;
    std::size_t ini_len = static_cast<std::size_t>(data[1] | (data[2] << 8));
    data += 3;
    size -= 3;
    if (ini_len > size) ini_len = size;
    const std::string ini(reinterpret_cast<const char*>(data), ini_len);
    data += ini_len;
    size -= ini_len;
    std::string image;
    if (size > 0 && data[0] == 0) {
        image.assign(reinterpret_cast<const char*>(data + 1), size - 1);
    } else {
        image = g_default_image;
        const std::size_t words = (image.size() - 14) / 4;
        for (std::size_t at = 0; at + 6 <= size; at += 6) {
            const std::size_t word = static_cast<std::size_t>(data[at] | (data[at + 1] << 8)) % words;
            std::memcpy(&image[14 + 4 * word], data + at + 2, 4);
        }
    }
    clear_dir();
    char name[32];
    std::snprintf(name, sizeof name, "qv$%d.dat", number);
    write_file(g_dir / name, image);
    write_file(g_dir / "winamp.ini", ini);
    run_module();
    return 0;
}
