#pragma once
// The one rule for passwords, wherever they come from (a file, the
// environment, a prompt, a secrets file). No Qt here.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace veltrona {

// Longest administrator ID and password a request can carry, in bytes.
inline constexpr std::size_t kMaxUserId = 8;
inline constexpr std::size_t kMaxPassword = 16;

// A password as devices take it: `bytes` decoded from the character set of
// the locale (LC_CTYPE, as set by setlocale), each character then one
// Latin-1 byte, at most `maxLength` of them. Nothing when a byte does not
// decode, a character is beyond Latin-1 or a zero, or the text is too long;
// `problem` then says why, finishing "the password ..." without repeating it.
// The result is sized once, so no partial copy is left in freed memory.
std::optional<std::string> passwordFromLocale(std::string_view bytes, std::size_t maxLength,
                                              std::string &problem);

} // namespace veltrona
