// INI files with the semantics of the Windows profile functions, for hosts
// and tools that run without Windows. Only the text of the key written
// changes; every other line keeps its bytes, its order and its line end.
#include <strings.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/file_ops.h"
#include "platform/profile.h"

namespace qv::platform {

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::string_view trim(std::string_view s) {
    while (!s.empty() && is_blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && is_blank(s.back())) s.remove_suffix(1);
    return s;
}

bool same_name(std::string_view a, const char* b) {
    const std::string_view bv = trim(std::string_view(b));
    return a.size() == bv.size() && strncasecmp(a.data(), bv.data(), a.size()) == 0;
}

// What a search for section/key found in the text of a file.
struct Lookup {
    bool section_found = false;
    std::size_t insert_at = 0;  // where a new key of the section goes: after its last non-blank line
    bool key_found = false;
    std::size_t key_line_begin = 0;  // the key's line, without its line end
    std::size_t key_line_end = 0;
    std::string_view key_name;  // as written in the file
    std::string_view value;     // trimmed; empty when the line has no '='
};

Lookup find_key(std::string_view text, const char* section, const char* key) {
    Lookup r;
    bool in_section = false;
    bool done_section = false;  // only the first section of that name counts
    std::size_t pos = 0;
    // A UTF-8 byte order mark is not part of the first line.
    if (text.substr(0, 3) == "\xEF\xBB\xBF") pos = 3;
    while (pos < text.size()) {
        std::size_t nl = text.find('\n', pos);
        const std::size_t end = nl == std::string_view::npos ? text.size() : nl;
        const std::size_t next = nl == std::string_view::npos ? text.size() : nl + 1;
        const std::string_view line = trim(text.substr(pos, end - pos));
        if (!line.empty() && line.front() == '[' && line.find(']') != std::string_view::npos) {
            if (in_section) done_section = true;
            in_section = false;
            const std::string_view name = trim(line.substr(1, line.find(']') - 1));
            if (!done_section && same_name(name, section)) {
                in_section = true;
                r.section_found = true;
                r.insert_at = next;
            }
        } else if (in_section && !line.empty()) {
            r.insert_at = next;
            const std::size_t eq = line.find('=');
            const std::string_view name = trim(line.substr(0, eq));
            if (!r.key_found && same_name(name, key)) {
                r.key_found = true;
                r.key_line_begin = pos;
                r.key_line_end = end;
                r.key_name = name;
                r.value = eq == std::string_view::npos ? std::string_view() : trim(line.substr(eq + 1));
            }
        }
        pos = next;
        if (done_section && r.key_found) break;
    }
    return r;
}

// Whole file into out. A missing file reads as empty; false on a read error.
bool read_text(const char* path, std::string& out, bool& exists) {
    out.clear();
    std::FILE* f = std::fopen(path, "rb");
    exists = f != nullptr;
    if (!f) return true;
    char buf[4096];
    std::size_t got;
    while ((got = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, got);
    const bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

// Integer parse of GetPrivateProfileIntA: leading characters up to the space
// skipped, an optional sign, an optional lowercase "0x", "0o" or "0b"
// prefix, then digits of that base up to the first other character,
// accumulated modulo 2^32. The profile reader looks at no more than the
// first 29 characters of the value.
int parse_profile_int(std::string_view s) {
    s = s.substr(0, 29);
    std::size_t i = 0;
    while (i < s.size() && static_cast<unsigned char>(s[i]) <= ' ') ++i;
    bool minus = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) minus = s[i++] == '-';
    std::uint32_t base = 10;
    if (i + 1 < s.size() && s[i] == '0') {
        if (s[i + 1] == 'x') base = 16;
        if (s[i + 1] == 'o') base = 8;
        if (s[i + 1] == 'b') base = 2;
        if (base != 10) i += 2;
    }
    std::uint32_t total = 0;
    for (; i < s.size(); ++i) {
        const char c = s[i];
        std::uint32_t digit;
        if (c >= '0' && c <= '9') {
            digit = static_cast<std::uint32_t>(c - '0');
        } else if (c >= 'a' && c <= 'z') {
            digit = static_cast<std::uint32_t>(c - 'a' + 10);
        } else if (c >= 'A' && c <= 'Z') {
            digit = static_cast<std::uint32_t>(c - 'A' + 10);
        } else {
            break;
        }
        if (digit >= base) break;
        total = total * base + digit;
    }
    if (minus) total = 0u - total;
    return static_cast<int>(total);
}

}  // namespace

int profile_read_int(const char* section, const char* key, int default_value, const char* path) {
    if (!section || !key || !path) return default_value;
    std::string text;
    bool exists;
    if (!read_text(path, text, exists)) return default_value;
    const Lookup r = find_key(text, section, key);
    std::string_view v = r.value;
    // A value in matching quotes reads without them.
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        v = v.substr(1, v.size() - 2);
    if (!r.key_found || v.empty()) return default_value;
    return parse_profile_int(v);
}

bool profile_write_string(const char* section, const char* key, const char* value, const char* path) {
    if (!section || !key || !value || !path || !trim(section).size() || !trim(key).size()) return false;
    if (std::strpbrk(value, "\r\n") || std::strpbrk(key, "\r\n=[") || std::strpbrk(section, "\r\n]")) return false;
    std::string text;
    bool exists;
    if (!read_text(path, text, exists)) return false;
    // New lines take the file's own line end; a new file gets CR LF.
    const std::size_t first_nl = text.find('\n');
    const char* eol = first_nl == std::string::npos || (first_nl > 0 && text[first_nl - 1] == '\r') ? "\r\n" : "\n";

    const Lookup r = find_key(text, section, key);
    std::string out;
    if (r.key_found) {
        std::size_t keep_end = r.key_line_end;  // keep a CR that ends the line
        if (keep_end > r.key_line_begin && text[keep_end - 1] == '\r') --keep_end;
        out.append(text, 0, r.key_line_begin);
        out.append(r.key_name).append("=").append(value);
        out.append(text, keep_end, std::string::npos);
    } else if (r.section_found) {
        out.append(text, 0, r.insert_at);
        // The section's last line may be the file's last, without a line end.
        if (r.insert_at > 0 && text[r.insert_at - 1] != '\n') out.append(eol);
        out.append(trim(key)).append("=").append(value).append(eol);
        out.append(text, r.insert_at, std::string::npos);
    } else {
        out = text;
        if (!out.empty() && out.back() != '\n') out.append(eol);
        out.append("[").append(trim(section)).append("]").append(eol);
        out.append(trim(key)).append("=").append(value).append(eol);
    }

    // Through a temporary file and one rename: an interrupted write never
    // leaves the host's file cut short.
    return write_file_replacing(path, out.data(), out.size());
}

}  // namespace qv::platform
