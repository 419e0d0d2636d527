#pragma once
// The findings of the host's checks as values (see hostcheck.h): what was
// found and the values involved, for front ends that word them themselves.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace veltrona::diagnosis {

// Skipped: the check could not be made (it needs root or a program that is
// missing); it does not count as a finding of a fault.
enum class Status { Ok, Warning, Problem, Skipped };

// A program that holds the reply port (UDP 32153).
struct PortHolder {
    unsigned uid = 0;
    std::optional<int> pid; // unknown when its descriptors cannot be read
    std::string command;    // printable (passed through the terminal filter)
    std::string userName;   // of uid, when known
};

// A rule or chain of the host firewall that keeps replies out.
struct FirewallBlock {
    std::string family, table, chain;
    std::optional<std::int64_t> handle; // the rule's; none for the chain's policy
    std::string what;                   // "drops UDP to port 32153", ... (English)
    bool partly = false;                // under further conditions: some replies only
};

// One finding, with the values it involves. Which fields are set depends on
// the kind; the others stay empty.
struct HostFinding {
    enum class Kind {
        // No interface is up with an IPv4 address and able to broadcast.
        NoInterface,
        // `address`: the chosen bind address, which no interface of this host holds.
        BindAddressMissing,
        // `interfaceName`, `address`: a scan uses the interface, but it has no link.
        NoLink,
        // `interfaceName`, `network` ("10.78.0.0/16"), `rpAll`, `rpOwn`: strict
        // reverse-path filtering drops replies from devices outside `network`
        // (factory addresses) before a scan can hear them.
        StrictReversePath,
        // `holders`: other programs hold UDP 32153 too (never this process).
        // Broadcast replies reach them as well: status Ok, a note rather than a
        // fault (Problem only where the port could not be opened because of them).
        PortShared,
        // `block`: a firewall rule or policy drops or rejects the replies;
        // block.partly: only some of them (further conditions).
        FirewallBlocks,
        // `unchecked`: a check this process could not make.
        NotChecked,
    };
    enum class Unchecked {
        None,
        FirewallNeedsRoot,     // reading the rule set needs root
        FirewallNoNft,         // nft is not installed
        FirewallUnreadable,    // nft ran but gave no rule set
        ReversePathUnreadable, // `interfaceName`'s (or all's, when empty) rp_filter unreadable
    };

    Kind kind = Kind::NoInterface;
    Status status =
        Status::Problem; // Problem or Warning; Ok for PortShared; Skipped for NotChecked
    std::string interfaceName;
    std::string address;
    std::string network;
    std::int64_t rpAll = 0, rpOwn = 0;
    std::vector<PortHolder> holders;
    FirewallBlock block;
    Unchecked unchecked = Unchecked::None;
};

} // namespace veltrona::diagnosis
