#include "settings/value_format.h"

#include <cstdint>
#include <cstdio>
#include <limits>

namespace qv {

namespace {

// sign, then |value| / 10 "." |value| mod 10; 64-bit so that any stored word is safe.
ValueText tenths(const char* sign, std::int32_t value) {
    const long long magnitude = value < 0 ? -static_cast<long long>(value) : value;
    ValueText t;
    std::snprintf(t.text, sizeof t.text, "%s%lld.%lld", sign, magnitude / 10, magnitude % 10);
    return t;
}

bool has_tenths(ValueFormat f) { return f != ValueFormat::plain && f != ValueFormat::minus_unless_0; }

}  // namespace

ValueText format_value(ValueFormat format, std::int32_t value) {
    ValueText t;
    switch (format) {
        case ValueFormat::plain:
            break;
        case ValueFormat::minus_unless_0:
            std::snprintf(t.text, sizeof t.text, "%s%d", value != 0 ? "-" : "", static_cast<int>(value));
            return t;
        case ValueFormat::signed_tenths:
            return tenths(value < 0 ? "-" : "+", value);
        case ValueFormat::level_tenths:
            return tenths(value >= 0 ? "-" : "+", value);
        case ValueFormat::tenths:
            return tenths("", value);
        case ValueFormat::minus_tenths:
            return tenths(value >= 0 ? "" : "-", value);
    }
    std::snprintf(t.text, sizeof t.text, "%d", static_cast<int>(value));
    return t;
}

bool parse_shown_value(ValueFormat format, const std::string& text, std::int32_t& value) {
    std::size_t at = 0;
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) negative = text[at++] == '-';
    const auto digit = [&](std::size_t i) { return i < text.size() && text[i] >= '0' && text[i] <= '9'; };
    if (!digit(at)) return false;
    // Ten digits and more cannot be an int32 word; stopping there keeps the sum in range.
    std::int64_t n = 0;
    for (int count = 0; digit(at); ++at, ++count) {
        if (count == 10) return false;
        n = n * 10 + (text[at] - '0');
    }
    if (has_tenths(format)) {
        n *= 10;
        if (at < text.size() && text[at] == '.') {
            if (!digit(at + 1)) return false;
            n += text[at + 1] - '0';
            at += 2;
        }
    }
    if (at != text.size()) return false;
    if (negative) n = -n;
    if (shows_negated(format)) n = -n;
    if (n < std::numeric_limits<std::int32_t>::min() || n > std::numeric_limits<std::int32_t>::max()) return false;
    value = static_cast<std::int32_t>(n);
    return true;
}

}  // namespace qv
