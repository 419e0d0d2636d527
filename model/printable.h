#pragma once
// Texts from devices, plans and secrets files, made safe for a terminal or a
// message meant for people. No Qt here.

#include <string>
#include <string_view>

namespace veltrona {

// The text as UTF-8 with every control character shown as '?': C0 (U+0000 to
// U+001F), DEL and C1 (U+0080 to U+009F, which some terminals take for CSI and
// other escapes). The input is read as UTF-8 where it decodes as such; any
// other byte is a Latin-1 character (device texts are 8-bit), so a raw 0x9B
// byte and the UTF-8 U+009B both become '?', and 0xE9 becomes "é".
std::string printable(std::string_view text);

// Latin-1 bytes (one character each) as UTF-8, exactly, controls included.
std::string latin1ToUtf8(std::string_view latin1);

// The number of characters of a UTF-8 text: what it takes on screen for the
// texts `printable` gives (continuation bytes take no column).
std::size_t displayWidth(std::string_view utf8);

} // namespace veltrona
