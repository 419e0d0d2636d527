#pragma once
// Conversions between the device's 8-bit text fields and the pages' texts.
// Texts are 8-bit: one character is one byte (Latin-1), so a cut at a byte
// count is a cut at the same character count.

#include "fieldtext.h"

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstring>

namespace veltrona::settings {

// A fixed-size field that may fill its whole size without a terminator.
template <std::size_t N> QString fieldText(const char (&field)[N]) {
    const std::string_view text = veltrona::fieldView(field);
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

// Writes at most N - 1 characters of `text` and zero-fills the rest.
template <std::size_t N> void setFieldText(char (&field)[N], const QString &text) {
    const QByteArray bytes = text.toLatin1();
    const std::size_t length = std::min<std::size_t>(N - 1, static_cast<std::size_t>(bytes.size()));
    std::memset(field, 0, N);
    std::memcpy(field, bytes.constData(), length);
}

// Writes at most N characters of `text`, zero-filling the rest: a text of N
// characters fills the whole field without a terminator.
template <std::size_t N> void setWholeFieldText(char (&field)[N], const QString &text) {
    const QByteArray bytes = text.toLatin1();
    const std::size_t length = std::min<std::size_t>(N, static_cast<std::size_t>(bytes.size()));
    std::memset(field, 0, N);
    std::memcpy(field, bytes.constData(), length);
}

inline QByteArray bytesOf(const QString &text) {
    return text.toLatin1();
}

} // namespace veltrona::settings
