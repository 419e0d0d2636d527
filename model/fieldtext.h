#pragma once
// The device's fixed-size text fields: zero-terminated when shorter than the
// field, else filling it whole without a terminator (a serial number, the
// PPPoE texts). No Qt here; the pages wrap these in their own text type.

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>

namespace veltrona {

// The bytes of the field up to its terminator, or all of them without one.
template <std::size_t N> std::string_view fieldView(const char (&field)[N]) {
    return std::string_view(field,
                            static_cast<std::size_t>(std::find(field, field + N, '\0') - field));
}

// The same as an owned text.
template <std::size_t N> std::string fieldText(const char (&field)[N]) {
    return std::string(fieldView(field));
}

} // namespace veltrona
