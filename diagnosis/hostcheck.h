#pragma once
// What this host's own checks find when a scan hears no device: the interfaces
// a scan uses, reverse-path filtering, other programs on the reply port and,
// where this process may read it, the firewall. Nothing is sent and no socket
// is opened. Standard C++ and POSIX only; the front ends word the findings.

#include "findings.h"

#include <string>
#include <vector>

namespace veltrona::diagnosis {

// Runs the checks above for a scan bound to `bindAddress` (empty: every
// interface) and returns what they found, faults first (problems, then
// warnings, then PortShared, then NotChecked); empty when every check was made
// and found nothing. Without root the firewall cannot be read, so an ordinary
// user's list holds at least NotChecked/FirewallNeedsRoot: a list whose
// statuses are all Ok or Skipped found no fault.
//
// Blocking: it reads /proc of every process to find the port's holders and, as
// root, runs `nft -j list ruleset` (given at most 2 s). Run it off the
// user-interface thread. Safe to call from any thread; it touches no global
// state of the caller's.
std::vector<HostFinding> checkHost(const std::string &bindAddress);

} // namespace veltrona::diagnosis
