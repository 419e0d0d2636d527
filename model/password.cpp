#include "password.h"

#include <string.h> // explicit_bzero

#include <cstdint>
#include <cwchar>

namespace veltrona {

std::optional<std::string> passwordFromLocale(std::string_view bytes, std::size_t maxLength,
                                              std::string &problem) {
    std::optional<std::string> result(std::in_place);
    std::string &latin1 = *result;
    latin1.reserve(bytes.size());
    std::mbstate_t state{};
    std::size_t at = 0;
    while (at < bytes.size() && problem.empty()) {
        wchar_t c = 0;
        const std::size_t n = std::mbrtowc(&c, bytes.data() + at, bytes.size() - at, &state);
        if (n == static_cast<std::size_t>(-1) || n == static_cast<std::size_t>(-2))
            problem = "holds bytes that are not text in the locale's character set";
        else if (n == 0)
            problem = "holds a zero byte";
        else if (static_cast<std::uint32_t>(c) > 0xFF)
            problem = "holds a character that cannot be sent (devices take Latin-1 characters "
                      "only)";
        else
            latin1 += static_cast<char>(c), at += n;
    }
    if (problem.empty() && latin1.size() > maxLength)
        problem = "is longer than " + std::to_string(maxLength) + " characters";
    if (problem.empty())
        return result;
    explicit_bzero(latin1.data(), latin1.capacity());
    return std::nullopt;
}

} // namespace veltrona
