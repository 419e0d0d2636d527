#include "doctor.h"

#include "printable.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <arpa/inet.h>
#include <net/if.h>
#include <net/if_arp.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <sstream>

namespace veltrona::cli::doctor {

namespace {

const std::string kPortText = std::to_string(KOVA_LOCAL_PORT);

std::string trimmed(const std::string &text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

template <typename T> std::optional<T> number(const std::string &text, int base = 10) {
    T value{};
    const char *end = text.data() + text.size();
    const auto [at, error] = std::from_chars(text.data(), end, value, base);
    if (text.empty() || error != std::errc() || at != end)
        return std::nullopt;
    return value;
}

std::string name(const KOVA_INTERFACE &entry) {
    return std::string(entry.name, strnlen(entry.name, sizeof entry.name));
}

std::string kib(std::int64_t bytes) {
    return std::to_string(bytes / 1024) + " KiB";
}

bool startsWithAny(const std::string &text, std::initializer_list<const char *> prefixes) {
    return std::any_of(prefixes.begin(), prefixes.end(),
                       [&](const char *p) { return text.rfind(p, 0) == 0; });
}

} // namespace

const char *statusWord(Status status) {
    switch (status) {
    case Status::Ok:
        return "ok";
    case Status::Warning:
        return "warning";
    case Status::Problem:
        return "problem";
    case Status::Skipped:
        break;
    }
    return "skipped";
}

int exitCode(const std::vector<Check> &checks) {
    return std::any_of(checks.begin(), checks.end(),
                       [](const Check &c) {
                           return c.status == Status::Warning || c.status == Status::Problem;
                       })
               ? 1
               : 0;
}

std::string formatTable(const std::vector<Check> &checks) {
    auto label = [](const Check &c) {
        return c.subject.empty() ? c.area : c.area + " " + c.subject;
    };
    std::size_t width = 0;
    for (const Check &c : checks)
        width = std::max(width, label(c).size());
    std::string out;
    for (const Check &c : checks) {
        std::string word = statusWord(c.status);
        std::string line = word + std::string(9 - word.size(), ' ') + label(c);
        line += std::string(width - label(c).size() + 2, ' ') + c.finding;
        if (!c.fix.empty())
            line += "; fix: " + c.fix;
        // Interface names and command lines may hold any byte but '/' and blanks.
        out += printable(line) + '\n';
    }
    return out;
}

QByteArray formatJson(const std::vector<Check> &checks) {
    QJsonArray list;
    for (const Check &c : checks) {
        QJsonObject object;
        object.insert("area", QString::fromStdString(c.area));
        object.insert("subject", QString::fromStdString(c.subject));
        object.insert("status", QString::fromLatin1(statusWord(c.status)));
        object.insert("finding", QString::fromStdString(c.finding));
        object.insert("fix", QString::fromStdString(c.fix));
        list.append(object);
    }
    QJsonObject root;
    root.insert("checks", list);
    root.insert("exitCode", exitCode(checks));
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

// ---- readers ----

std::vector<UdpSocket> parseProcNetUdp(const std::string &text) {
    std::vector<UdpSocket> sockets;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
        if (!(fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >>
              timeout >> inode) ||
            slot.empty() || slot.back() != ':')
            continue;
        const auto colon = local.find(':');
        if (colon != 8 || local.size() != 13)
            continue;
        const auto address = number<std::uint32_t>(local.substr(0, 8), 16);
        const auto port = number<std::uint16_t>(local.substr(9), 16);
        const auto owner = number<unsigned>(uid);
        const auto node = number<std::uint64_t>(inode);
        if (!address || !port || !owner || !node)
            continue;
        // The kernel prints the address as the number its network-order bytes
        // make on this host.
        in_addr in{};
        std::memcpy(&in.s_addr, &*address, 4);
        char dotted[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &in, dotted, sizeof dotted);
        sockets.push_back({dotted, *port, *owner, *node});
    }
    return sockets;
}

std::optional<std::uint64_t> socketInode(const std::string &linkTarget) {
    const std::string prefix = "socket:[";
    if (linkTarget.rfind(prefix, 0) != 0 || linkTarget.back() != ']')
        return std::nullopt;
    return number<std::uint64_t>(
        linkTarget.substr(prefix.size(), linkTarget.size() - prefix.size() - 1));
}

std::string commandText(const std::string &cmdline) {
    std::string text = cmdline;
    while (!text.empty() && text.back() == '\0')
        text.pop_back();
    std::replace(text.begin(), text.end(), '\0', ' ');
    return printable(text);
}

std::optional<std::int64_t> sysctlValue(const std::string &text) {
    return number<std::int64_t>(trimmed(text));
}

std::optional<std::uint64_t> effectiveCapabilities(const std::string &status) {
    std::istringstream lines(status);
    std::string line;
    while (std::getline(lines, line))
        if (line.rfind("CapEff:", 0) == 0)
            return number<std::uint64_t>(trimmed(line.substr(7)), 16);
    return std::nullopt;
}

// ---- judges ----

std::string interfaceKind(const HostInterface &host) {
    const std::string n = name(host.entry);
    if ((host.entry.flags & IFF_LOOPBACK) != 0)
        return "loopback";
    if (host.bridge)
        return startsWithAny(
                   n, {"docker", "br-", "virbr", "cni", "podman", "lxcbr", "lxdbr", "incusbr"})
                   ? "container bridge"
                   : "bridge";
    const int t = host.hardwareType;
    if (host.tunTap || (host.entry.flags & IFF_POINTOPOINT) != 0 || t == ARPHRD_NONE ||
        t == ARPHRD_TUNNEL || t == ARPHRD_TUNNEL6 || t == ARPHRD_SIT || t == ARPHRD_IPGRE ||
        t == ARPHRD_PPP || startsWithAny(n, {"tun", "tap", "wg"}))
        return "tunnel";
    return "";
}

std::string networkText(const char *address, const char *netMask) {
    in_addr a{}, m{};
    if (inet_pton(AF_INET, address, &a) != 1 || inet_pton(AF_INET, netMask, &m) != 1)
        return address;
    in_addr network{};
    network.s_addr = a.s_addr & m.s_addr;
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &network, text, sizeof text);
    const int bits = __builtin_popcount(m.s_addr);
    return std::string(text) + "/" + std::to_string(bits);
}

namespace {

// The interface a bind address belongs to, or empty.
std::string boundInterface(const std::vector<HostInterface> &hosts,
                           const std::string &bindAddress) {
    for (const HostInterface &h : hosts)
        if (bindAddress == h.entry.address)
            return name(h.entry);
    return {};
}

bool usedByScan(const HostInterface &host, const std::string &bound,
                const std::string &bindAddress) {
    return bindAddress.empty() ? host.entry.scanned != 0 : name(host.entry) == bound;
}

} // namespace

std::vector<Check> interfaceChecks(const std::vector<HostInterface> &hosts,
                                   const std::string &bindAddress) {
    std::vector<Check> checks;
    const std::string bound = boundInterface(hosts, bindAddress);
    bool anyUsed = false;
    for (const HostInterface &h : hosts) {
        const KOVA_INTERFACE &e = h.entry;
        const std::string kind = interfaceKind(h);
        Check c{"interface", name(e), Status::Ok, "", ""};
        c.finding = (kind.empty() ? "" : kind + ", ") + e.address + "/" +
                    std::to_string(__builtin_popcount(inet_addr(e.netMask))) +
                    (e.broadcast[0] != '\0' ? std::string(", broadcast ") + e.broadcast : "") +
                    ((e.flags & IFF_UP) != 0 ? ", up" : ", down") + ": ";
        if (usedByScan(h, bound, bindAddress)) {
            anyUsed = true;
            c.finding += "a scan uses it";
            if (kind == "container bridge")
                c.finding += " (devices are seldom on a container bridge)";
            if ((e.flags & IFF_RUNNING) == 0) {
                c.status = Status::Warning;
                c.finding += ", but it has no link";
                c.fix = "connect its cable or network";
            }
        } else if ((e.flags & IFF_LOOPBACK) != 0) {
            c.finding += "skipped: loopback";
        } else if (!bindAddress.empty()) {
            c.finding += "skipped: --bind " + bindAddress + " chooses another interface";
        } else if ((e.flags & IFF_UP) == 0) {
            c.finding += "skipped: down";
        } else {
            c.finding += "skipped: cannot broadcast";
            if (kind == "tunnel")
                c.finding += " (devices behind a tunnel or VPN cannot be found by broadcast)";
        }
        checks.push_back(c);
    }
    if (!bindAddress.empty() && bound.empty()) {
        checks.push_back({"interface", "", Status::Problem,
                          "--bind " + bindAddress + " is not an address of this host",
                          "bind to one of the addresses above, or leave --bind out"});
    } else if (!anyUsed) {
        checks.push_back({"interface", "", Status::Problem,
                          "no interface is up with an IPv4 address and able to broadcast: a "
                          "scan goes only where routing sends it",
                          "connect this host to the network the devices are on"});
    }
    return checks;
}

std::vector<std::string> scannedInterfaces(const std::vector<HostInterface> &hosts,
                                           const std::string &bindAddress) {
    const std::string bound = boundInterface(hosts, bindAddress);
    std::vector<std::string> names;
    for (const HostInterface &h : hosts) {
        const std::string n = name(h.entry);
        if (usedByScan(h, bound, bindAddress) &&
            std::find(names.begin(), names.end(), n) == names.end())
            names.push_back(n);
    }
    return names;
}

std::vector<std::string> defaultRouteInterfaces(const std::string &routeTable) {
    // Iface Destination Gateway Flags RefCnt Use Metric Mask ..., in hexadecimal.
    constexpr unsigned kRouteUp = 0x1;
    std::vector<std::string> names;
    std::istringstream lines(routeTable);
    std::string line;
    std::getline(lines, line); // the column titles
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string name, destination, gateway, flags, refs, use, metric, mask;
        if (!(fields >> name >> destination >> gateway >> flags >> refs >> use >> metric >> mask))
            continue;
        if (destination == "00000000" && mask == "00000000" &&
            (std::strtoul(flags.c_str(), nullptr, 16) & kRouteUp) != 0 &&
            std::find(names.begin(), names.end(), name) == names.end())
            names.push_back(name);
    }
    return names;
}

std::vector<Check> rpFilterChecks(const std::vector<HostInterface> &hosts,
                                  const std::string &bindAddress, std::optional<std::int64_t> all) {
    std::vector<Check> checks;
    for (const std::string &n : scannedInterfaces(hosts, bindAddress)) {
        const HostInterface &h = *std::find_if(
            hosts.begin(), hosts.end(), [&](const HostInterface &x) { return name(x.entry) == n; });
        Check c{"reverse-path filter", n, Status::Ok, "", ""};
        if (!all || !h.rpFilter) {
            c.status = Status::Skipped;
            c.finding =
                "net.ipv4.conf." + std::string(all ? n : "all") + ".rp_filter could not be read";
        } else {
            const std::int64_t effective = std::max(*all, *h.rpFilter);
            const std::string values = " (rp_filter: all " + std::to_string(*all) + ", " + n + " " +
                                       std::to_string(*h.rpFilter) + ")";
            if (effective == 1 && h.defaultRoute) {
                c.finding = "strict" + values + ", but the default route leaves through " + n +
                            ", so replies from any address pass";
            } else if (effective == 1) {
                c.status = Status::Problem;
                c.finding = "strict" + values + ": replies from devices with addresses outside " +
                            networkText(h.entry.address, h.entry.netMask) +
                            " (factory defaults) are dropped before a scan can hear them on " + n;
                c.fix = "sudo sysctl -w net.ipv4.conf." + n + ".rp_filter=2";
            } else {
                c.finding = (effective == 0 ? "off" : "loose") + values;
            }
        }
        checks.push_back(c);
    }
    return checks;
}

Check portCheck(bool opened, const std::string &refusal, const std::vector<PortHolder> &holders) {
    Check c{"port", kPortText + "/udp", Status::Ok, "", ""};
    std::string held;
    for (const PortHolder &h : holders) {
        held += held.empty() ? "" : ", ";
        const std::string user = h.userName.empty() ? "uid " + std::to_string(h.uid) : h.userName;
        held += h.pid ? "PID " + std::to_string(*h.pid) + " (" + h.command + ")"
                      : "another user's program (" + user + ")";
    }
    if (opened) {
        c.finding = "can be opened as a scan opens it";
        if (!held.empty())
            c.finding += "; also open in " + held + ", which the replies reach as well";
        return c;
    }
    c.status = Status::Problem;
    if (held.empty()) {
        c.finding = "cannot be opened: " + refusal;
        return c;
    }
    c.finding = "cannot be opened: held by " + held;
    c.fix = "end that program, or scan once it has ended";
    return c;
}

ReceiveBudget receiveBudget(std::int64_t rmemMax, std::int64_t requested, bool privileged) {
    const std::int64_t granted = privileged ? requested : std::min(requested, rmemMax);
    ReceiveBudget budget;
    budget.bytes = 2 * std::max<std::int64_t>(granted, 0);
    budget.devices = budget.bytes / (2 * kBytesPerReply);
    return budget;
}

Check receiveBufferCheck(std::optional<std::int64_t> rmemMax, bool privileged) {
    Check c{"receive buffer", "", Status::Ok, "", ""};
    if (!rmemMax && !privileged) {
        c.status = Status::Skipped;
        c.finding = "net.core.rmem_max could not be read";
        return c;
    }
    const ReceiveBudget budget =
        receiveBudget(rmemMax.value_or(0), KOVA_RECEIVE_BUFFER, privileged);
    const std::string taken = "about " + std::to_string(budget.devices) +
                              " devices answering at once are taken without loss";
    if (budget.bytes >= 2 * std::int64_t{KOVA_RECEIVE_BUFFER}) {
        c.finding = "a scan asks for " + kib(KOVA_RECEIVE_BUFFER) + " and gets it: " + taken;
        return c;
    }
    c.status = Status::Warning;
    c.finding = "a scan asks for " + kib(KOVA_RECEIVE_BUFFER) + " but gets " +
                kib(budget.bytes / 2) + " (net.core.rmem_max " + std::to_string(*rmemMax) +
                "): " + taken + ", replies beyond that may be lost";
    c.fix = "sudo sysctl -w net.core.rmem_max=" + std::to_string(KOVA_RECEIVE_BUFFER);
    return c;
}

namespace {

enum class Applies { No, Partly, Yes };

// Whether the right side of a port match holds `port`; none when it cannot be
// told (a named set).
std::optional<bool> holdsPort(const QJsonValue &right, int port) {
    if (right.isDouble())
        return right.toInt() == port;
    const QJsonObject object = right.toObject();
    if (object.contains("range")) {
        const QJsonArray range = object["range"].toArray();
        return range.size() == 2 && range[0].toInt() <= port && port <= range[1].toInt();
    }
    if (object.contains("set")) {
        bool unknown = false;
        for (const QJsonValue &element : object["set"].toArray()) {
            const std::optional<bool> held = holdsPort(element, port);
            if (held.value_or(false))
                return true;
            unknown = unknown || !held;
        }
        return unknown ? std::nullopt : std::optional<bool>(false);
    }
    return std::nullopt;
}

// Whether the right side of a protocol match holds `word`.
bool holdsWord(const QJsonValue &right, const QString &word) {
    if (right.isString())
        return right.toString() == word;
    const QJsonValue set = right.isArray() ? right : right.toObject()["set"];
    const QJsonArray list = set.toArray();
    return std::any_of(list.begin(), list.end(),
                       [&](const QJsonValue &v) { return v.toString() == word; });
}

struct RuleMatch {
    Applies applies = Applies::Yes;
    bool port = false;     // it names the port
    bool protocol = false; // it names UDP
};

// How far one rule's matches cover the replies: UDP over IPv4 from the device
// port to the local port.
RuleMatch matchRule(const QJsonArray &expressions) {
    RuleMatch result;
    auto weaken = [&](Applies to) { result.applies = std::min(result.applies, to); };
    for (const QJsonValue &e : expressions) {
        const QJsonObject match = e.toObject()["match"].toObject();
        if (match.isEmpty())
            continue; // a statement or a verdict
        const QString op = match["op"].toString();
        const bool negated = op == QLatin1String("!=");
        if (!negated && op != QLatin1String("==") && op != QLatin1String("in")) {
            weaken(Applies::Partly);
            continue;
        }
        const QJsonObject left = match["left"].toObject();
        const QJsonValue right = match["right"];
        const QJsonObject payload = left["payload"].toObject();
        const QString meta = left["meta"].toObject()["key"].toString();
        const QString protocol = payload["protocol"].toString();
        const QString field = payload["field"].toString();
        bool holds = false;
        const bool udpPort = protocol == QLatin1String("udp") || protocol == QLatin1String("th");
        if (udpPort && (field == QLatin1String("dport") || field == QLatin1String("sport"))) {
            // Replies come from the device port to the local port.
            const std::optional<bool> held = holdsPort(
                right, field == QLatin1String("dport") ? KOVA_LOCAL_PORT : KOVA_DEVICE_PORT);
            if (!held) {
                weaken(Applies::Partly);
                continue;
            }
            result.port = true;
            holds = *held;
        } else if (meta == QLatin1String("l4proto") ||
                   (protocol == QLatin1String("ip") && field == QLatin1String("protocol"))) {
            result.protocol = true;
            holds = holdsWord(right, QStringLiteral("udp"));
        } else if (meta == QLatin1String("nfproto")) {
            holds = holdsWord(right, QStringLiteral("ipv4"));
        } else if (!protocol.isEmpty() && protocol != QLatin1String("ip") &&
                   protocol != QLatin1String("udp") && protocol != QLatin1String("th")) {
            holds = false; // a field of another protocol: no UDP datagram matches
            result.protocol = true;
        } else {
            weaken(Applies::Partly);
            continue;
        }
        if (holds == negated)
            weaken(Applies::No);
    }
    return result;
}

QString verdictOf(const QJsonArray &expressions) {
    for (const QJsonValue &e : expressions)
        for (const char *word : {"accept", "drop", "reject", "jump", "goto", "return", "queue"})
            if (e.toObject().contains(QLatin1String(word)))
                return QString::fromLatin1(word);
    return {};
}

} // namespace

std::optional<std::vector<FirewallBlock>> firewallBlocks(const QByteArray &nftJson) {
    const QJsonDocument document = QJsonDocument::fromJson(nftJson);
    if (!document.isObject() || !document.object()["nftables"].isArray())
        return std::nullopt;
    struct Chain {
        std::string family, table, name;
        bool input = false;
        bool dropByPolicy = false;
        std::vector<QJsonObject> rules;
    };
    std::vector<Chain> chains;
    auto key = [](const QJsonObject &o, const char *nameKey) {
        return o["family"].toString().toStdString() + " " + o["table"].toString().toStdString() +
               " " + o[QLatin1String(nameKey)].toString().toStdString();
    };
    std::map<std::string, std::size_t> byKey;
    for (const QJsonValue &item : document.object()["nftables"].toArray()) {
        const QJsonObject chain = item.toObject()["chain"].toObject();
        if (!chain.isEmpty()) {
            byKey[key(chain, "name")] = chains.size();
            const QString family = chain["family"].toString();
            chains.push_back(
                {family.toStdString(),
                 chain["table"].toString().toStdString(),
                 chain["name"].toString().toStdString(),
                 chain["hook"].toString() == QLatin1String("input") &&
                     (family == QLatin1String("ip") || family == QLatin1String("inet")),
                 chain["policy"].toString() == QLatin1String("drop"),
                 {}});
        }
        const QJsonObject rule = item.toObject()["rule"].toObject();
        const auto found = byKey.find(key(rule, "chain"));
        if (!rule.isEmpty() && found != byKey.end())
            chains[found->second].rules.push_back(rule);
    }
    std::vector<FirewallBlock> blocks;
    // What reaches a chain: all replies or some, and what the rules that led
    // there matched (a jump under "udp dport 32153" makes a bare drop in the
    // chain it reaches a drop of that port).
    struct Reach {
        bool all = true;
        bool port = false;
        bool protocol = false;
    };
    enum class Flow { Continue, Settled, Return };
    std::function<Flow(const Chain &, Reach, int)> walk = [&](const Chain &chain, Reach reach,
                                                              int depth) {
        for (const QJsonObject &rule : chain.rules) {
            const QJsonArray expressions = rule["expr"].toArray();
            const QString verdict = verdictOf(expressions);
            const RuleMatch match = matchRule(expressions);
            if (match.applies == Applies::No)
                continue;
            // A rule that every reply reaching it matches ends the chain for all.
            const bool own = match.applies == Applies::Yes;
            const Reach here{reach.all && own, reach.port || match.port,
                             reach.protocol || match.protocol};
            if (verdict == QLatin1String("accept") && own)
                return Flow::Settled;
            if (verdict == QLatin1String("return") && own)
                return Flow::Return;
            if (verdict == QLatin1String("drop") || verdict == QLatin1String("reject")) {
                std::string what = verdict == QLatin1String("drop") ? "drops" : "rejects";
                what += here.port       ? " UDP to port " + kPortText
                        : here.protocol ? " all UDP"
                                        : " all input";
                if (!here.all)
                    what += " under further conditions";
                blocks.push_back({chain.family, chain.table, chain.name, rule["handle"].toInteger(),
                                  what, !here.all});
                if (own)
                    return Flow::Settled;
                continue;
            }
            if (verdict != QLatin1String("jump") && verdict != QLatin1String("goto"))
                continue;
            QString target;
            for (const QJsonValue &e : expressions)
                target = e.toObject()[verdict].toObject()["target"].toString(target);
            const auto found =
                byKey.find(chain.family + " " + chain.table + " " + target.toStdString());
            if (found == byKey.end() || depth >= 16) // the kernel refuses deeper nesting
                continue;
            const Flow flow = walk(chains[found->second], here, depth + 1);
            if (own && flow == Flow::Settled)
                return Flow::Settled;
            if (own && verdict == QLatin1String("goto"))
                return Flow::Return; // a goto never comes back to this chain
        }
        return Flow::Continue;
    };
    for (const Chain &chain : chains) {
        if (!chain.input)
            continue;
        if (walk(chain, Reach{}, 0) != Flow::Settled && chain.dropByPolicy)
            blocks.push_back(
                {chain.family, chain.table, chain.name, std::nullopt,
                 "drops by its policy what no rule accepts, UDP to port " + kPortText + " included",
                 false});
    }
    return blocks;
}

std::vector<Check> firewallChecks(const std::vector<FirewallBlock> &blocks) {
    std::vector<Check> checks;
    for (const FirewallBlock &b : blocks) {
        const std::string chain = b.family + " " + b.table + " " + b.chain;
        checks.push_back(
            {"firewall", "nftables", b.partly ? Status::Warning : Status::Problem,
             "chain " + chain +
                 (b.handle ? ", rule " + std::to_string(*b.handle) : std::string(", policy")) +
                 ": " + b.what,
             "let the replies in: sudo nft insert rule " + chain + " udp dport " + kPortText +
                 " accept"});
    }
    if (checks.empty())
        checks.push_back({"firewall", "nftables", Status::Ok,
                          "no input rule drops UDP to port " + kPortText, ""});
    return checks;
}

std::vector<Check> probeChecks(const std::vector<std::string> &scanned,
                               const std::map<std::string, int> &heard, int seconds) {
    std::vector<Check> checks;
    const std::string within = " answered within " + std::to_string(seconds) + " s";
    int total = 0;
    for (const std::string &n : scanned) {
        const auto found = heard.find(n);
        const int count = found == heard.end() ? 0 : found->second;
        total += count;
        checks.push_back({"probe", n, Status::Ok,
                          std::to_string(count) + (count == 1 ? " device" : " devices") + within,
                          ""});
    }
    if (total == 0)
        checks.push_back({"probe", "", Status::Warning, "no device" + within,
                          "check that the devices are on and on one of the networks above"});
    return checks;
}

} // namespace veltrona::cli::doctor
