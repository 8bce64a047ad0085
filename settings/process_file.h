#pragma once
// Process files: one binary file "qv$N.dat" per process number 0..100 in the
// host's directory, 18,418 bytes little-endian:
//   0      10     version text "2.0" and seven zero bytes (never compared)
//   10     4      magic 481971
//   14     17388  21 SectionParams records of 207 words, band-major
//   17402  1016   GlobalParams, 254 words (process_name as raw bytes)
#include <cstddef>
#include <cstdint>

#include "settings/records.h"
#include "settings/settings.h"

namespace qv {

constexpr std::size_t kProcessFileBytes = 18418;
constexpr std::int32_t kProcessMagic = 481971;
constexpr std::size_t kProcessVersionBytes = 10;
constexpr std::size_t kProcessSectionsOffset = 14;
constexpr std::size_t kProcessGlobalOffset = 17402;
constexpr int kMaxProcessNumber = 100;

// The file name of process n (0..100), "qv$N.dat". False when n is out of range.
bool process_file_name(int n, char (&name)[16]);

// The full path of process file n (0..100) beside the host executable.
// False when n is out of range or the path does not fit.
bool process_file_path(int n, char* out, std::size_t cap);

// Encodes p into the 18,418-byte file image.
void encode_process(const ProcessParams& p, unsigned char (&bytes)[kProcessFileBytes]);
// Decodes the first len bytes of a file image into p (whole words only; the
// words the image does not hold are left as they were). True when the image
// is complete (len >= 18,418) and its magic is 481971.
bool decode_process(const unsigned char* bytes, std::size_t len, ProcessParams& p);

// Writes p to path through a temporary file in the same directory and one
// rename over the target; every write and the close are checked. On failure
// the old file is untouched and the result is false.
bool write_process_file(const char* path, const ProcessParams& p);

// Reads path (opened read-only) into out. True when the file holds at least
// 18,418 bytes and its magic is 481971; otherwise whatever was read is left
// in out. Extra bytes beyond 18,418 are ignored.
bool read_process_file(const char* path, ProcessParams& out);

// Writes the live process under number n. True on success.
bool save_process(Settings& s, int n);

// Reads process n straight into the live records. True when valid.
bool load_process_live(Settings& s, int n);

// Reads process n into the staged copy and derives its section coefficients
// and band_gain_level 0..4. Returns 1 when valid; otherwise the staged name
// reads "EMPTY" and the result is 0.
int load_process_staged(Settings& s, int n);

}  // namespace qv
