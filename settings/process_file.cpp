#include "settings/process_file.h"

namespace qv {

bool process_file_path(int, char*, std::size_t) { return false; }
void encode_process(const ProcessParams&, unsigned char (&)[kProcessFileBytes]) {}
bool decode_process(const unsigned char*, std::size_t, ProcessParams&) { return false; }
bool write_process_file(const char*, const ProcessParams&) { return false; }
bool read_process_file(const char*, ProcessParams&) { return false; }
bool save_process(Settings&, int) { return false; }
bool load_process_live(Settings&, int) { return false; }
int load_process_staged(Settings&, int) { return 0; }

}  // namespace qv
