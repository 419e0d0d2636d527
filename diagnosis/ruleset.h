#pragma once
// The reader of the host firewall's rule set (`nft -j list ruleset`): what in
// it keeps the replies of devices (UDP from port 32154 to port 32153) out.

#include "findings.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace veltrona::diagnosis {

struct RuleSet {
    std::vector<FirewallBlock> blocks;
    // Chains on the replies' way in that are not judged: "bridge br in".
    std::vector<std::string> unread;
    // Jumps were no longer followed after a bound of rules looked at.
    bool jumpsCut = false;
};

// Judged: the base chains of the prerouting and input hooks of the ip and inet
// families, of the ingress hooks of the netdev and inet families, and the
// chains they jump or go to. A drop or reject rule that no earlier rule's
// accept covers blocks, as does a drop policy; anonymous and named sets and
// verdict maps keyed by the port or the protocol are looked up. A rule with a
// condition that cannot be judged here (a source address, an interface)
// counts as a partial block naming the condition, or as no accept. None when
// the text is not such output.
std::optional<RuleSet> readRuleSet(std::string_view nftJson);

} // namespace veltrona::diagnosis
