#pragma once
// The change engine's problems in the client's English.

#include "addresscheck.h"

#include <string>
#include <vector>

namespace veltrona::cli {

// How settings are named: as set-network's options ("--ip") or as a plan's
// columns ("new_ip"), a plan's row then named before the sentence.
enum class Terms { Options, Columns };

std::string problemText(const change::Problem &problem, Terms terms);

// "10.77.1.4 on vt0, 10.77.1.9 on vt0 and 10.78.1.4 on vt1" from the values
// {address, interface, address, interface, ...} starting at `from`.
std::string placesText(const std::vector<std::string> &values, std::size_t from);

} // namespace veltrona::cli
