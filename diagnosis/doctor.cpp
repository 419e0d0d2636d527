#include "doctor.h"

#include "printable.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <net/if_arp.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>

namespace veltrona::diagnosis {

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
        Check c{"interface", name(e), Status::Ok, "", "", {}};
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
                c.fact = HostFinding{};
                c.fact->kind = HostFinding::Kind::NoLink;
                c.fact->status = Status::Warning;
                c.fact->interfaceName = name(e);
                c.fact->address = e.address;
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
    HostFinding fact;
    if (!bindAddress.empty() && bound.empty()) {
        fact.kind = HostFinding::Kind::BindAddressMissing;
        fact.address = bindAddress;
        checks.push_back({"interface", "", Status::Problem,
                          "--bind " + bindAddress + " is not an address of this host",
                          "bind to one of the addresses above, or leave --bind out", fact});
    } else if (!anyUsed) {
        fact.kind = HostFinding::Kind::NoInterface;
        checks.push_back({"interface", "", Status::Problem,
                          "no interface is up with an IPv4 address and able to broadcast: a "
                          "scan goes only where routing sends it",
                          "connect this host to the network the devices are on", fact});
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
        Check c{"reverse-path filter", n, Status::Ok, "", "", {}};
        if (!all || !h.rpFilter) {
            c.status = Status::Skipped;
            c.finding =
                "net.ipv4.conf." + std::string(all ? n : "all") + ".rp_filter could not be read";
            c.fact = HostFinding{};
            c.fact->kind = HostFinding::Kind::NotChecked;
            c.fact->status = Status::Skipped;
            c.fact->unchecked = HostFinding::Unchecked::ReversePathUnreadable;
            c.fact->interfaceName = all ? n : "";
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
                c.fact = HostFinding{};
                c.fact->kind = HostFinding::Kind::StrictReversePath;
                c.fact->interfaceName = n;
                c.fact->address = h.entry.address;
                c.fact->network = networkText(h.entry.address, h.entry.netMask);
                c.fact->rpAll = *all;
                c.fact->rpOwn = *h.rpFilter;
            } else {
                c.finding = (effective == 0 ? "off" : "loose") + values;
            }
        }
        checks.push_back(c);
    }
    return checks;
}

Check portCheck(bool opened, const std::string &refusal, const std::vector<PortHolder> &holders) {
    Check c{"port", kPortText + "/udp", Status::Ok, "", "", {}};
    std::string held;
    for (const PortHolder &h : holders) {
        held += held.empty() ? "" : ", ";
        const std::string user = h.userName.empty() ? "uid " + std::to_string(h.uid) : h.userName;
        held += h.pid ? "PID " + std::to_string(*h.pid) + " (" + h.command + ")"
                      : "another user's program (" + user + ")";
    }
    if (!holders.empty()) {
        c.fact = HostFinding{};
        c.fact->kind = HostFinding::Kind::PortShared;
        c.fact->status = opened ? Status::Ok : Status::Problem;
        c.fact->holders = holders;
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
    Check c{"receive buffer", "", Status::Ok, "", "", {}};
    if (!rmemMax && !privileged) {
        c.status = Status::Skipped;
        c.finding = "net.core.rmem_max could not be read";
        return c;
    }
    // With the privilege to pass the cap, the library asks for more.
    const std::int64_t asked = privileged ? KOVA_RECEIVE_BUFFER_PRIVILEGED : KOVA_RECEIVE_BUFFER;
    const ReceiveBudget budget = receiveBudget(rmemMax.value_or(0), asked, privileged);
    const std::string taken = "about " + std::to_string(budget.devices) +
                              " devices answering at once are taken without loss";
    if (budget.bytes >= 2 * asked) {
        c.finding = "a scan asks for " + kib(asked) + " and gets it: " + taken;
        return c;
    }
    c.status = Status::Warning;
    c.finding = "a scan asks for " + kib(KOVA_RECEIVE_BUFFER) + " but gets " +
                kib(budget.bytes / 2) + " (net.core.rmem_max " + std::to_string(*rmemMax) +
                "): " + taken + ", replies beyond that may be lost";
    c.fix = "sudo sysctl -w net.core.rmem_max=" + std::to_string(KOVA_RECEIVE_BUFFER);
    return c;
}

std::vector<Check> firewallChecks(const RuleSet &ruleSet) {
    std::vector<Check> checks;
    for (const FirewallBlock &b : ruleSet.blocks) {
        const std::string chain = b.family + " " + b.table + " " + b.chain;
        HostFinding fact;
        fact.kind = HostFinding::Kind::FirewallBlocks;
        fact.status = b.partly ? Status::Warning : Status::Problem;
        fact.block = b;
        checks.push_back(
            {"firewall", "nftables", fact.status,
             "chain " + chain +
                 (b.handle ? ", rule " + std::to_string(*b.handle) : std::string(", policy")) +
                 ": " + b.what,
             "let the replies in: sudo nft insert rule " + chain + " udp dport " + kPortText +
                 " accept",
             fact});
    }
    if (checks.empty())
        checks.push_back({"firewall",
                          "nftables",
                          Status::Ok,
                          "no input, prerouting or ingress rule drops UDP to port " + kPortText,
                          "",
                          {}});
    if (!ruleSet.unread.empty()) {
        std::string chains;
        for (const std::string &c : ruleSet.unread)
            chains += (chains.empty() ? "" : ", ") + c;
        checks.push_back({"firewall",
                          "nftables",
                          Status::Skipped,
                          "not looked at: the bridge chains " + chains +
                              " (they see replies that reach this host through a bridge)",
                          "",
                          {}});
    }
    if (ruleSet.jumpsCut)
        checks.push_back({"firewall",
                          "nftables",
                          Status::Skipped,
                          "not looked at: some chains that jumps reach (too many rules to follow)",
                          "",
                          {}});
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
        Check c{"probe",    n,
                Status::Ok, std::to_string(count) + (count == 1 ? " device" : " devices") + within,
                "",         {}};
        if (count == 0) {
            c.status = Status::Warning;
            c.fix = "if devices should be on its network, check that they are on and connected";
        }
        checks.push_back(c);
    }
    if (total == 0)
        checks.push_back({"probe",
                          "",
                          Status::Warning,
                          "no device" + within,
                          "check that the devices are on and on one of the networks above",
                          {}});
    return checks;
}

} // namespace veltrona::diagnosis
