#pragma once
// How the panel writes a stored word in its value labels, and how a value
// written that way (with the panel's unit) reads back into the stored word.
// Tenths are written as |value| / 10 "." |value| mod 10 after a sign chosen
// by the format.
#include <cstdint>
#include <string>

namespace qv {

enum class ValueFormat : std::uint8_t {
    plain,           // "%d"
    minus_unless_0,  // whole dB below full scale as a level: 40 -> "-40", 0 -> "0"
    signed_tenths,   // tenths of a dB, always signed: 3 -> "+0.3", -15 -> "-1.5", 0 -> "+0.0"
    level_tenths,    // tenths of a dB below full scale as a level: 35 -> "-3.5", -120 -> "+12.0", 0 -> "-0.0"
    tenths,          // tenths without a sign: 25 -> "2.5"
    minus_tenths,    // tenths of a dB, "-" only when negative: 15 -> "1.5", -15 -> "-1.5"
};

struct ValueText {
    char text[32];
};

// The text of any stored word in the format.
ValueText format_value(ValueFormat format, std::int32_t value);

// True when the format shows the stored word negated (a larger word is a
// lower shown value).
constexpr bool shows_negated(ValueFormat f) {
    return f == ValueFormat::minus_unless_0 || f == ValueFormat::level_tenths;
}

// Reads a number as the format shows it ("-3.5", "+0.3", "40") into the
// stored word: whole numbers for plain and minus_unless_0, at most one
// decimal for the tenths. False for anything else or a word outside int32.
bool parse_shown_value(ValueFormat format, const std::string& text, std::int32_t& value);

}  // namespace qv
