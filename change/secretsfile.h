#pragma once
// The secrets file of `apply --secrets`: one administrator ID and password
// (and optionally a new password) per device, as CSV with a header line.

#include "changeengine.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace veltrona::change {

// The largest secrets file read.
inline constexpr std::size_t kMaxSecretsFileBytes = 1 << 20;

// Reads the file into `out`, keyed by the MAC as a 48-bit number. The file
// must be private to its owner (no access for group or others), its columns
// are mac, user, password and optionally new_password, cells are taken whole
// (RFC 4180 quoting, nothing trimmed) and passwords follow
// veltrona::passwordFromLocale. Returns what is wrong, naming the row and
// column but never a cell's text, or an empty text. Every copy made while
// reading is overwritten.
std::string readSecretsFile(const std::string &path, std::map<std::uint64_t, Credentials> &out);

// The same from the file's bytes, which are overwritten.
std::string parseSecrets(std::string &content, std::map<std::uint64_t, Credentials> &out);

// Overwrites every password of `credentials`.
void wipeCredentials(Credentials &credentials);

} // namespace veltrona::change
