#pragma once
// The module's two texts: its description (also the panel title) and the
// wrong-format warning shown in the panel title.

namespace qv {

// "Quorvane 2.0a" padded with blanks to 35 characters: 36 bytes with the NUL.
extern const char module_description[36];
// 45 characters of title and blanks, then the 71-character warning: 116 characters.
extern const char format_message[117];

}  // namespace qv
