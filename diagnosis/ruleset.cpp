#include "ruleset.h"

#include "json.h"
#include "kova.h"

#include <algorithm>
#include <functional>
#include <map>

namespace veltrona::diagnosis {

namespace {

using json::Value;

const std::string kPortText = std::to_string(KOVA_LOCAL_PORT);

enum class Applies { No, Partly, Yes };

// The named sets and maps of the rule set: "family table name" -> elements.
using Named = std::map<std::string, const Value *>;

struct Lookup {
    const Named &named;
    std::string tablePrefix; // "family table "
    const Value *find(const Value &reference) const {
        const std::string &text = reference.text();
        if (text.size() < 2 || text[0] != '@')
            return nullptr;
        const auto found = named.find(tablePrefix + text.substr(1));
        return found == named.end() ? nullptr : found->second;
    }
};

// Whether an element or the right side of a match holds `port`; none when it
// cannot be told.
std::optional<bool> holdsPort(const Value &right, std::int64_t port, const Lookup &lookup,
                              int depth = 0) {
    if (depth > 8)
        return std::nullopt;
    if (right.isNumber())
        return right.integer() == port;
    auto anyOf = [&](const Value &list) -> std::optional<bool> {
        bool unknown = false;
        for (const Value &element : list.elements()) {
            const std::optional<bool> held = holdsPort(element, port, lookup, depth + 1);
            if (held.value_or(false))
                return true;
            unknown = unknown || !held;
        }
        return unknown ? std::nullopt : std::optional<bool>(false);
    };
    if (right.isString()) {
        const Value *elements = lookup.find(right);
        return elements ? anyOf(*elements) : std::nullopt;
    }
    if (right.contains("range")) {
        const std::vector<Value> &range = right["range"].elements();
        if (range.size() != 2 || !range[0].integer() || !range[1].integer())
            return std::nullopt;
        return *range[0].integer() <= port && port <= *range[1].integer();
    }
    if (right.contains("set"))
        return anyOf(right["set"]);
    if (right.contains("elem")) // an element with a timeout or a counter
        return holdsPort(right["elem"]["val"], port, lookup, depth + 1);
    return std::nullopt;
}

// Whether the right side of a protocol match holds `word`.
bool holdsWord(const Value &right, const std::string &word, const Lookup &lookup) {
    if (right.isString()) {
        if (const Value *elements = lookup.find(right))
            return holdsWord(*elements, word, lookup);
        return right.text() == word;
    }
    const Value &list = right.isArray() ? right : right["set"];
    const std::vector<Value> &elements = list.elements();
    return std::any_of(elements.begin(), elements.end(),
                       [&](const Value &v) { return v.text() == word; });
}

// How a port match names what it matches.
std::string portWords(const Value &right) {
    if (right.isString())
        return "the set of ports " + right.text() + ", which holds " + kPortText;
    if (right.contains("set"))
        return "a set of ports that holds " + kPortText;
    return "port " + kPortText;
}

// The name of a match's left side, for a condition that cannot be judged.
std::string conditionName(const Value &left) {
    if (left.contains("payload"))
        return left["payload"]["protocol"].text() + " " + left["payload"]["field"].text();
    for (const char *selector : {"meta", "ct", "rt", "socket", "fib"})
        if (left.contains(selector))
            return std::string(selector) + " " + left[selector]["key"].text();
    return left.keys().empty() ? "?" : left.keys().front();
}

struct Verdict {
    std::string word; // accept, drop, reject, jump, goto, return, queue; empty for none
    std::string target;
};

Verdict verdictOf(const Value &expression) {
    for (const char *word : {"accept", "drop", "reject", "jump", "goto", "return", "queue"})
        if (expression.contains(word))
            return {word, expression[word]["target"].text()};
    return {};
}

struct RuleMatch {
    Applies applies = Applies::Yes;
    std::string port;      // how it names the port; empty when it does not
    bool protocol = false; // it names UDP
    std::vector<std::string> unjudged;
    Verdict verdict;
};

// What a field of a match or map key says of a reply: the port or protocol
// value a reply has there, or none when it cannot be judged.
struct Field {
    enum { Port, Protocol, Family, Foreign, Unknown } kind = Unknown;
    std::int64_t port = 0;
    std::string word;
};

Field fieldOf(const Value &left) {
    const Value &payload = left["payload"];
    const std::string &protocol = payload["protocol"].text();
    const std::string &field = payload["field"].text();
    const std::string &meta = left["meta"]["key"].text();
    if ((protocol == "udp" || protocol == "th") && (field == "dport" || field == "sport"))
        // Replies come from the device port to the local port.
        return {Field::Port, field == "dport" ? KOVA_LOCAL_PORT : KOVA_DEVICE_PORT, ""};
    if (meta == "l4proto" || (protocol == "ip" && field == "protocol"))
        return {Field::Protocol, 0, "udp"};
    if (meta == "nfproto")
        return {Field::Family, 0, "ipv4"};
    if (!protocol.empty() && protocol != "ip" && protocol != "udp" && protocol != "th")
        return {Field::Foreign, 0, ""}; // a field of another protocol: no UDP datagram has it
    return {};
}

// How far one rule's matches cover the replies (UDP over IPv4 from the device
// port to the local port) and its verdict, a verdict map's included.
RuleMatch matchRule(const Value &expressions, const Lookup &lookup) {
    RuleMatch result;
    auto weaken = [&](Applies to) { result.applies = std::min(result.applies, to); };
    for (const Value &e : expressions.elements()) {
        if (e.contains("vmap")) {
            const Value &map = e["vmap"];
            const Field key = fieldOf(map["key"]);
            const Value *named = lookup.find(map["data"]);
            const Value &entries = named ? *named : map["data"]["set"];
            const std::string by =
                named ? " by the verdict map " + map["data"].text() : " by a verdict map";
            std::optional<Verdict> found, possible;
            bool unknown = key.kind == Field::Unknown || key.kind == Field::Family ||
                           (!named && !map["data"].contains("set"));
            for (const Value &entry : entries.elements()) {
                const std::vector<Value> &pair = entry.elements();
                if (pair.size() != 2)
                    continue;
                std::optional<bool> holds;
                if (key.kind == Field::Port)
                    holds = holdsPort(pair[0], key.port, lookup);
                else if (key.kind == Field::Protocol)
                    holds = holdsWord(pair[0], key.word, lookup);
                else if (key.kind == Field::Foreign)
                    holds = false;
                if (holds.value_or(false) && !found) {
                    found = verdictOf(pair[1]);
                } else if (!holds && key.kind != Field::Foreign) {
                    unknown = true;
                    // An element or key that cannot be judged: its drop may be the one taken.
                    const Verdict v = verdictOf(pair[1]);
                    if (!possible && (v.word == "drop" || v.word == "reject"))
                        possible = v;
                }
            }
            // The elements of a map do not overlap: the one that holds the port decides.
            if (found && key.kind != Field::Unknown && key.kind != Field::Family)
                unknown = false;
            const std::optional<Verdict> chosen = found ? found : possible;
            if (unknown) {
                weaken(Applies::Partly);
                result.unjudged.push_back("verdict map of " + conditionName(map["key"]));
            } else if (!chosen) {
                weaken(Applies::No);
                continue;
            }
            if (chosen)
                result.verdict = *chosen;
            if (key.kind == Field::Port)
                result.port = "port " + kPortText + by;
            if (key.kind == Field::Protocol)
                result.protocol = true;
            continue;
        }
        const Verdict verdict = verdictOf(e);
        if (!verdict.word.empty() && result.verdict.word.empty())
            result.verdict = verdict;
        const Value &match = e["match"];
        if (!match.isObject())
            continue; // another statement
        const std::string &op = match["op"].text();
        const bool negated = op == "!=";
        const Value &left = match["left"];
        const Value &right = match["right"];
        if (!negated && op != "==" && op != "in") {
            weaken(Applies::Partly);
            result.unjudged.push_back(conditionName(left) + " " + op);
            continue;
        }
        const Field field = fieldOf(left);
        bool holds = false;
        if (field.kind == Field::Port) {
            const std::optional<bool> held = holdsPort(right, field.port, lookup);
            if (!held) {
                weaken(Applies::Partly);
                result.unjudged.push_back(conditionName(left) + " " +
                                          (right.isString() ? right.text() : "set"));
                continue;
            }
            result.port = portWords(right);
            holds = *held;
        } else if (field.kind == Field::Protocol) {
            result.protocol = true;
            holds = holdsWord(right, field.word, lookup);
        } else if (field.kind == Field::Family) {
            holds = holdsWord(right, field.word, lookup);
        } else if (field.kind == Field::Foreign) {
            holds = false;
            result.protocol = true;
        } else {
            weaken(Applies::Partly);
            result.unjudged.push_back(conditionName(left));
            continue;
        }
        if (holds == negated)
            weaken(Applies::No);
    }
    return result;
}

struct Chain {
    std::string family, table, name;
    bool judged = false;
    bool dropByPolicy = false;
    std::vector<const Value *> rules;
};

bool judgedHook(const std::string &family, const std::string &hook) {
    if (family == "ip" || family == "inet")
        if (hook == "prerouting" || hook == "input")
            return true;
    return (family == "netdev" || family == "inet") && hook == "ingress";
}

} // namespace

std::optional<RuleSet> readRuleSet(std::string_view nftJson) {
    const std::optional<Value> document = Value::parse(nftJson);
    if (!document || !document->isObject() || !(*document)["nftables"].isArray())
        return std::nullopt;
    RuleSet result;
    std::vector<Chain> chains;
    std::map<std::string, std::size_t> byKey;
    Named named;
    auto key = [](const Value &o, const char *nameKey) {
        return o["family"].text() + " " + o["table"].text() + " " + o[nameKey].text();
    };
    for (const Value &item : (*document)["nftables"].elements()) {
        for (const char *kind : {"set", "map"}) {
            const Value &set = item[kind];
            if (set.isObject())
                named[key(set, "name")] = &set["elem"];
        }
        const Value &chain = item["chain"];
        if (chain.isObject()) {
            const std::string &family = chain["family"].text();
            const std::string &hook = chain["hook"].text();
            byKey[key(chain, "name")] = chains.size();
            chains.push_back({family,
                              chain["table"].text(),
                              chain["name"].text(),
                              judgedHook(family, hook),
                              chain["policy"].text() == "drop",
                              {}});
            if (family == "bridge" && (hook == "prerouting" || hook == "input"))
                result.unread.push_back(key(chain, "name"));
        }
        const Value &rule = item["rule"];
        const auto found = byKey.find(key(rule, "chain"));
        if (rule.isObject() && found != byKey.end())
            chains[found->second].rules.push_back(&rule);
    }
    // What reaches a chain: all replies or some, and what the rules that led
    // there matched (a jump under "udp dport 32153" makes a bare drop in the
    // chain it reaches a drop of that port).
    struct Reach {
        bool all = true;
        std::string port;
        bool protocol = false;
        std::vector<std::string> unjudged;
    };
    enum class Flow { Continue, Settled, Return };
    // Chains reached by several jumps are walked once for each; a bound on
    // the rules looked at keeps a made-up rule set from taking exponential time.
    constexpr std::size_t kMaxSteps = 200000;
    std::size_t steps = 0;
    std::function<Flow(const Chain &, const Reach &, int)> walk = [&](const Chain &chain,
                                                                      const Reach &reach,
                                                                      int depth) {
        const Lookup lookup{named, chain.family + " " + chain.table + " "};
        for (const Value *rule : chain.rules) {
            ++steps;
            const RuleMatch match = matchRule((*rule)["expr"], lookup);
            if (match.applies == Applies::No)
                continue;
            // A rule that every reply reaching it matches ends the chain for all.
            const bool own = match.applies == Applies::Yes;
            Reach here{reach.all && own, match.port.empty() ? reach.port : match.port,
                       reach.protocol || match.protocol, reach.unjudged};
            here.unjudged.insert(here.unjudged.end(), match.unjudged.begin(), match.unjudged.end());
            const std::string &verdict = match.verdict.word;
            if (verdict == "accept" && own)
                return Flow::Settled;
            if (verdict == "return" && own)
                return Flow::Return;
            if (verdict == "drop" || verdict == "reject") {
                std::string what = verdict == "drop" ? "drops" : "rejects";
                what += !here.port.empty() ? " UDP to " + here.port
                        : here.protocol    ? " all UDP"
                                           : " all input";
                if (!here.all) {
                    what += " under further conditions";
                    if (!here.unjudged.empty()) {
                        std::string names;
                        for (const std::string &n : here.unjudged)
                            if (names.find(n) == std::string::npos)
                                names += (names.empty() ? "" : ", ") + n;
                        what += " not judged here (" + names + ")";
                    }
                }
                result.blocks.push_back({chain.family, chain.table, chain.name,
                                         (*rule)["handle"].integer(), what, !here.all});
                if (own)
                    return Flow::Settled;
                continue;
            }
            if (verdict != "jump" && verdict != "goto")
                continue;
            const auto found =
                byKey.find(chain.family + " " + chain.table + " " + match.verdict.target);
            if (found == byKey.end() || depth >= 16) // the kernel refuses deeper nesting
                continue;
            if (steps > kMaxSteps) {
                result.jumpsCut = true;
                continue;
            }
            const Flow flow = walk(chains[found->second], here, depth + 1);
            if (own && flow == Flow::Settled)
                return Flow::Settled;
            if (own && verdict == "goto")
                return Flow::Return; // a goto never comes back to this chain
        }
        return Flow::Continue;
    };
    for (const Chain &chain : chains) {
        if (!chain.judged)
            continue;
        if (walk(chain, Reach{}, 0) != Flow::Settled && chain.dropByPolicy)
            result.blocks.push_back(
                {chain.family, chain.table, chain.name, std::nullopt,
                 "drops by its policy what no rule accepts, UDP to port " + kPortText + " included",
                 false});
    }
    return result;
}

} // namespace veltrona::diagnosis
