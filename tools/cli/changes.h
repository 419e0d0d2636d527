#pragma once
// Turning the command line's changes and a device's current settings into the
// values of a configuration request.

#include "commandline.h"
#include "kova.h"

#include <optional>
#include <string>

namespace veltrona::cli {

// Refuses an option whose value a request in the resulting mode (the given
// one, else the device's) does not send: static addresses outside static mode,
// PPPoE values outside PPPoE mode. Returns an empty text or the problem.
std::string checkModeOptions(const NetworkChanges &changes, bool pppoePasswordGiven,
                             std::int32_t deviceMode);

// Writes the given changes (and a new PPPoE password, when given) over the
// device's current settings. Returns an empty text, or why the request would
// not do what was asked (see checkModeOptions), or that a kept static address
// is not an address.
std::string applyNetworkChanges(const NetworkChanges &changes,
                                const std::optional<std::string> &pppoePassword,
                                KOVA_NETWORK_SETTINGS &settings);

// The host and domain name to send: the given ones, else the device's. Returns
// an empty text, or why a kept name cannot be sent back.
std::string resolveHostNames(const std::optional<std::string> &hostName,
                             const std::optional<std::string> &domainName,
                             const KOVA_DEVICE_INFO &info, std::string &hostOut,
                             std::string &domainOut);

// The exit code for a reply event.
int exitCodeForEvent(std::int32_t event);

} // namespace veltrona::cli
