#include "control/access.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/posix/fs_util.h"

namespace qv::control {

namespace {

constexpr std::size_t kMinTokenChars = 32;

bool is_blank(unsigned char c) { return c <= 0x20 || c == 0x7F; }

std::string lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

bool is_ip_literal(const std::string& host) {
    unsigned char buf[16];
    return inet_pton(AF_INET, host.c_str(), buf) == 1 || inet_pton(AF_INET6, host.c_str(), buf) == 1;
}

// The host part of a Host header: "[::1]:8000" -> "::1", "Box:80" -> "box".
std::string host_part(const std::string& header) {
    if (!header.empty() && header[0] == '[') {
        const std::size_t end = header.find(']');
        return end == std::string::npos ? std::string() : lower(header.substr(1, end - 1));
    }
    return lower(header.substr(0, header.find(':')));
}

bool is_loopback(const std::string& host) {
    in_addr v4{};
    in6_addr v6{};
    if (host == "localhost") return true;
    if (inet_pton(AF_INET, host.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
    return inet_pton(AF_INET6, host.c_str(), &v6) == 1 && IN6_IS_ADDR_LOOPBACK(&v6);
}

// A new token file at path holding 256 random bits as hexadecimal.
bool create_token_file(const std::string& option, const std::string& path, std::string& token, std::string& error) {
    unsigned char random[32];
    if (getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) {
        error = option + ": no random numbers: " + std::string(std::strerror(errno));
        return false;
    }
    static const char kHex[] = "0123456789abcdef";
    std::string fresh;
    for (unsigned char b : random) {
        fresh += kHex[b >> 4];
        fresh += kHex[b & 15];
    }
    const int out = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    const std::string line = fresh + "\n";
    const bool written = out >= 0 && platform::write_full(out, line.data(), line.size());
    if (out >= 0 && (close(out) != 0 || !written)) unlink(path.c_str());
    if (out < 0 || !written) {
        error = option + ": " + platform::errno_message(path);
        return false;
    }
    token = fresh;
    return true;
}

// The bytes of the open token file fd: a regular file only its owner may
// read or change, shorter than 512 bytes.
bool read_token_file(const std::string& option, int fd, const std::string& path, std::string& bytes,
                     std::string& error) {
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = option + ": " + path + " is not a regular file";
        return false;
    }
    if ((st.st_mode & 077) != 0) {
        error = option + ": " + path + " may be read or changed by others; chmod 600 it";
        return false;
    }
    char buf[512];
    const long n = platform::read_full(fd, buf, sizeof buf);
    if (n < 0) {
        error = option + ": " + platform::errno_message(path);
        return false;
    }
    if (n == static_cast<long>(sizeof buf)) {
        error = option + ": " + path + " is longer than a token";
        return false;
    }
    bytes.assign(buf, static_cast<std::size_t>(n));
    return true;
}

// The token of a file's bytes: blanks around it dropped, none inside, long enough.
bool token_of(const std::string& option, std::string bytes, const std::string& path, std::string& token,
              std::string& error) {
    while (!bytes.empty() && is_blank(static_cast<unsigned char>(bytes.back()))) bytes.pop_back();
    std::size_t start = 0;
    while (start < bytes.size() && is_blank(static_cast<unsigned char>(bytes[start]))) ++start;
    bytes.erase(0, start);
    for (unsigned char c : bytes)
        if (is_blank(c)) {
            error = option + ": the token in " + path + " holds a blank or control character";
            return false;
        }
    if (bytes.size() < kMinTokenChars) {
        error = option + ": the token in " + path + " is shorter than 32 characters (128 bits as hex)";
        return false;
    }
    token = bytes;
    return true;
}

}  // namespace

bool parse_control_address(const std::string& text, ControlAddress& out, std::string& error) {
    std::string host = "127.0.0.1", port_text = text;
    if (!text.empty() && text[0] == '[') {
        const std::size_t end = text.find("]:");
        if (end == std::string::npos) {
            error = "--control: '" + text + "' is not [ADDRESS]:PORT";
            return false;
        }
        host = text.substr(1, end - 1);
        port_text = text.substr(end + 2);
    } else if (const std::size_t colon = text.rfind(':'); colon != std::string::npos) {
        host = text.substr(0, colon);
        port_text = text.substr(colon + 1);
        if (host.find(':') != std::string::npos) {
            error = "--control: write an IPv6 address in brackets, [ADDRESS]:PORT";
            return false;
        }
    }
    host = lower(host);
    if (host != "localhost" && !is_ip_literal(host)) {
        error = "--control: '" + host + "' is not a numeric address or localhost";
        return false;
    }
    if (port_text.empty() || port_text.size() > 5 || port_text.find_first_not_of("0123456789") != std::string::npos ||
        std::stoi(port_text) > 65535) {
        error = "--control: '" + port_text + "' is not a port 0..65535";
        return false;
    }
    out.host = host;
    out.port = std::stoi(port_text);
    out.wildcard = host == "0.0.0.0" || host == "::";
    out.loopback = is_loopback(host);
    return true;
}

bool load_control_token(const std::string& option, const std::string& path, std::string& token, bool& created,
                        std::string& error, bool& error_is_usage) {
    error_is_usage = true;
    created = false;
    const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) {
        created = create_token_file(option, path, token, error);
        error_is_usage = false;
        return created;
    }
    if (fd < 0) {
        error = option + ": " + platform::errno_message(path);
        return false;
    }
    std::string bytes;
    const bool read = read_token_file(option, fd, path, bytes, error);
    close(fd);
    return read && token_of(option, bytes, path, token, error);
}

bool host_allowed(const ControlAddress& address, const std::string& host_header) {
    const std::string host = host_part(host_header);
    if (host.empty()) return false;
    if (host == "localhost" || host == address.host) return true;
    if (address.loopback && (host == "127.0.0.1" || host == "::1")) return true;
    return address.wildcard && is_ip_literal(host);
}

bool origin_allowed(const std::string& origin, const std::string& host_header) {
    return lower(origin) == "http://" + lower(host_header);
}

bool bearer_matches(const std::string& authorization, const std::string& token) {
    const std::string expected = "Bearer " + token;
    // Every byte of the expected text is visited whatever the given one holds.
    unsigned diff = authorization.size() == expected.size() ? 0u : 1u;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const unsigned char g = i < authorization.size() ? static_cast<unsigned char>(authorization[i]) : 0;
        diff |= g ^ static_cast<unsigned char>(expected[i]);
    }
    return diff == 0;
}

bool json_content_type(const std::string& content_type) {
    const std::string type = lower(content_type);
    return type == "application/json" || type.rfind("application/json;", 0) == 0;
}

}  // namespace qv::control
