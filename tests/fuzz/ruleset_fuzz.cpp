// Fuzz target: arbitrary text as the output of `nft -j list ruleset` goes
// through the JSON reader and the judging of the rule set.
#include "json.h"
#include "ruleset.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

void Require(bool condition) {
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    const auto value = veltrona::json::Value::parse(text);
    const auto ruleSet = veltrona::diagnosis::readRuleSet(text);
    // Only a JSON object with a list "nftables" is a rule set.
    Require(!ruleSet || (value && value->isObject() && (*value)["nftables"].isArray()));
    if (!ruleSet)
        return 0;
    for (const veltrona::diagnosis::FirewallBlock &block : ruleSet->blocks)
        Require(!block.partly || block.what.find(" under further conditions") != std::string::npos);
    return 0;
}
