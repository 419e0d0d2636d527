#pragma once
// Texts from devices, plans and secrets files, made safe for a terminal or a
// message meant for people. No Qt here.

#include <optional>
#include <string>
#include <string_view>

namespace veltrona {

// The text as UTF-8 with every control character shown as '?': C0 (U+0000 to
// U+001F), DEL and C1 (U+0080 to U+009F, which some terminals take for CSI and
// other escapes), and the invisible characters that reorder or shift what
// follows: bidirectional controls (U+202A to U+202E, U+2066 to U+2069, U+200E,
// U+200F, U+061C), zero-width characters (U+200B to U+200D, U+2060, U+FEFF)
// and the line and paragraph separators (U+2028, U+2029). The input is read as UTF-8 where it
// decodes as such; any other byte is a Latin-1 character (device texts are 8-bit), so a raw 0x9B
// byte and the UTF-8 U+009B both become '?', and 0xE9 becomes "é".
std::string printable(std::string_view text);

// Latin-1 bytes (one character each) as UTF-8, exactly, controls included.
std::string latin1ToUtf8(std::string_view latin1);

// A device's 8-bit text as UTF-8: kept as it is when all of it is UTF-8, else
// read as Latin-1. Controls are kept.
std::string deviceTextUtf8(std::string_view bytes);

// A text from a file or a device as UTF-8: when all of it is UTF-8, kept as
// it is less a leading byte-order mark, else read as Latin-1.
std::string utf8OrLatin1(std::string_view bytes);

// `text` less a leading UTF-8 byte-order mark.
std::string_view withoutByteOrderMark(std::string_view text);

// `bytes` as well-formed UTF-8: a leading byte-order mark dropped, and each
// byte that starts no well-formed sequence replaced by U+FFFD.
std::string wellFormedUtf8(std::string_view bytes);

// The Latin-1 bytes of a UTF-8 text, or nothing when it is not UTF-8 or
// holds a character beyond U+00FF.
std::optional<std::string> latin1Of(std::string_view utf8);

// The length of the well-formed UTF-8 sequence at the start of `text` and its
// code point, or 0 when the first byte does not start one (a lone continuation
// byte, an overlong form, a surrogate, beyond U+10FFFF or cut short).
std::size_t utf8Sequence(std::string_view text, char32_t &code);

// Appends the UTF-8 form of `code`.
void appendUtf8(std::string &out, char32_t code);

// The number of characters of a UTF-8 text: what it takes on screen for the
// texts `printable` gives (continuation bytes take no column).
std::size_t displayWidth(std::string_view utf8);

} // namespace veltrona
