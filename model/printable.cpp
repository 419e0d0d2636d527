#include "printable.h"

#include <algorithm>
#include <cstdint>

namespace veltrona {

namespace {

// Control characters, and the invisible ones that move or reorder what
// follows on a terminal: bidirectional embeddings, overrides and isolates
// (U+202A to U+202E, U+2066 to U+2069) and marks (U+200E, U+200F, U+061C),
// zero-width characters (U+200B to U+200D, U+2060, U+FEFF), and the line and
// paragraph separators (U+2028, U+2029).
bool isControl(char32_t code) {
    return code < 0x20 || (code >= 0x7F && code <= 0x9F) || code == 0x061C ||
           (code >= 0x200B && code <= 0x200F) || (code >= 0x2028 && code <= 0x202E) ||
           (code >= 0x2060 && code <= 0x2069) || code == 0xFEFF;
}

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool isUtf8(std::string_view text) {
    for (char32_t code = 0; !text.empty();) {
        const std::size_t length = utf8Sequence(text, code);
        if (length == 0)
            return false;
        text.remove_prefix(length);
    }
    return true;
}

} // namespace

std::string_view withoutByteOrderMark(std::string_view text) {
    return text.substr(0, 3) == kByteOrderMark ? text.substr(3) : text;
}

std::size_t utf8Sequence(std::string_view text, char32_t &code) {
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
    const std::uint8_t lead = byte(0);
    std::size_t length = 0;
    char32_t lowest = 0;
    if (lead < 0x80) {
        code = lead;
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2, lowest = 0x80, code = lead & 0x1Fu;
    else if (lead >= 0xE0 && lead <= 0xEF)
        length = 3, lowest = 0x800, code = lead & 0x0Fu;
    else if (lead >= 0xF0 && lead <= 0xF4)
        length = 4, lowest = 0x10000, code = lead & 0x07u;
    else
        return 0;
    if (text.size() < length)
        return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0u) != 0x80u)
            return 0;
        code = code << 6 | (byte(i) & 0x3Fu);
    }
    if (code < lowest || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    return length;
}

void appendUtf8(std::string &out, char32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | code >> 6);
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | code >> 12);
        out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | code >> 18);
        out += static_cast<char>(0x80 | (code >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

std::string printable(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    while (!text.empty()) {
        char32_t code = 0;
        std::size_t length = utf8Sequence(text, code);
        if (length == 0) { // a Latin-1 byte
            code = static_cast<std::uint8_t>(text.front());
            length = 1;
        }
        if (isControl(code))
            out += '?';
        else
            appendUtf8(out, code);
        text.remove_prefix(length);
    }
    return out;
}

std::string latin1ToUtf8(std::string_view latin1) {
    std::string out;
    out.reserve(latin1.size());
    for (char c : latin1)
        appendUtf8(out, static_cast<std::uint8_t>(c));
    return out;
}

std::string deviceTextUtf8(std::string_view bytes) {
    return isUtf8(bytes) ? std::string(bytes) : latin1ToUtf8(bytes);
}

std::string utf8OrLatin1(std::string_view bytes) {
    return isUtf8(bytes) ? std::string(withoutByteOrderMark(bytes)) : latin1ToUtf8(bytes);
}

std::string wellFormedUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (std::string_view rest = withoutByteOrderMark(bytes); !rest.empty();) {
        char32_t code = 0;
        const std::size_t length = utf8Sequence(rest, code);
        if (length == 0)
            appendUtf8(out, 0xFFFD);
        else
            out.append(rest.substr(0, length));
        rest.remove_prefix(length == 0 ? 1 : length);
    }
    return out;
}

std::optional<std::string> latin1Of(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (std::string_view rest = utf8; !rest.empty();) {
        char32_t code = 0;
        const std::size_t length = utf8Sequence(rest, code);
        if (length == 0 || code > 0xFF)
            return std::nullopt;
        out += static_cast<char>(code);
        rest.remove_prefix(length);
    }
    return out;
}

std::size_t displayWidth(std::string_view utf8) {
    return static_cast<std::size_t>(std::count_if(utf8.begin(), utf8.end(), [](char c) {
        return (static_cast<std::uint8_t>(c) & 0xC0u) != 0x80u;
    }));
}

} // namespace veltrona
