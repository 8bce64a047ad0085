#pragma once
// INI ("profile") files with the semantics of the Windows profile functions:
// section and key names compare case-insensitively, a missing file, section
// or key reads as the default, and a write creates the file, section and key
// as needed while keeping every other section, key and line as it was.

namespace qv::platform {

// The integer value of key in section, parsed as GetPrivateProfileIntA
// parses it: leading blanks, an optional sign, an optional "0x"/"0o"/"0b"
// prefix, digits up to the first non-digit, wrapping modulo 2^32; an absent
// or empty value gives default_value.
int profile_read_int(const char* section, const char* key, int default_value, const char* path);

// Sets key=value in section of the file at path. True on success.
bool profile_write_string(const char* section, const char* key, const char* value, const char* path);

}  // namespace qv::platform
