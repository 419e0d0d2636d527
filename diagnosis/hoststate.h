#pragma once
// Gathers what the checks judge from the running host: its interfaces, files
// of /proc and /sys, the holders of the reply port and the nftables rule set.
// Nothing is sent and no socket is opened.

#include "doctor.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace veltrona::diagnosis {

std::optional<std::string> readFile(const std::string &path);
std::optional<std::int64_t> readSysctl(const std::string &path);

// The host's IPv4 addresses with what /sys and /proc tell of their interfaces.
std::vector<HostInterface> hostInterfaces();

// The programs other than this process that hold UDP 32153, as far as this
// process may read the others' descriptors.
std::vector<PortHolder> portHolders();

// Whether this process holds CAP_NET_ADMIN.
bool holdsNetAdmin();

// The firewall's lines: the rule set read with `nft -j list ruleset` (given at
// most `timeout`), or one skipped line saying why it could not be read.
std::vector<Check> firewall(std::chrono::milliseconds timeout);

// What `program` writes on standard output, or nothing when it cannot be
// started, runs longer than `timeout`, writes more than 16 MiB or ends with a
// status other than 0.
std::optional<std::string> commandOutput(const std::string &program,
                                         const std::vector<std::string> &arguments,
                                         std::chrono::milliseconds timeout);

} // namespace veltrona::diagnosis
