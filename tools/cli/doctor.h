#pragma once
// `veltrona-cli doctor`: why a scan may find no device. The readers of the
// host's state (/proc, sysctl values, the nftables rule set) and the judging
// of what they read are pure functions here; doctorrun.cpp gathers the state.

#include "kova.h"

#include <QByteArray>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace veltrona::cli::doctor {

// Skipped: the check could not be made (it needs root or a program that is
// missing); it does not count as a finding.
enum class Status { Ok, Warning, Problem, Skipped };

struct Check {
    std::string area;    // what was looked at: "interface", "port", ...
    std::string subject; // which one: an interface name, "32153/udp"; may be empty
    Status status = Status::Ok;
    std::string finding;
    std::string fix; // empty when there is nothing to do
};

const char *statusWord(Status status);

// 0 when every check is ok or skipped, 1 when one found a warning or problem.
int exitCode(const std::vector<Check> &checks);

// One line per check, aligned.
std::string formatTable(const std::vector<Check> &checks);
QByteArray formatJson(const std::vector<Check> &checks);

// ---- readers ----

// One socket of /proc/net/udp.
struct UdpSocket {
    std::string localAddress; // dotted
    std::uint16_t localPort = 0;
    unsigned uid = 0;
    std::uint64_t inode = 0;
};

// The sockets of /proc/net/udp; lines that do not parse are left out.
std::vector<UdpSocket> parseProcNetUdp(const std::string &text);

// The inode of a socket from the target of a /proc/PID/fd link ("socket:[123]").
std::optional<std::uint64_t> socketInode(const std::string &linkTarget);

// A process's command line from /proc/PID/cmdline (arguments separated by NUL
// bytes), as one printable line.
std::string commandText(const std::string &cmdline);

// A sysctl file's whole-number value ("2\n").
std::optional<std::int64_t> sysctlValue(const std::string &text);

// The effective capability set from /proc/self/status ("CapEff:\t...").
std::optional<std::uint64_t> effectiveCapabilities(const std::string &status);

// ---- judges ----

// One address of a host interface and what else is known of the interface.
struct HostInterface {
    KOVA_INTERFACE entry{};
    bool bridge = false;                  // /sys/class/net/NAME/bridge exists
    bool tunTap = false;                  // /sys/class/net/NAME/tun_flags exists
    int hardwareType = -1;                // /sys/class/net/NAME/type (ARPHRD_*), -1 unknown
    std::optional<std::int64_t> rpFilter; // net.ipv4.conf.NAME.rp_filter
    bool defaultRoute = false;            // the main table's default route leaves through it
};

// The interfaces that the main routing table's default routes leave through,
// from the text of /proc/net/route.
std::vector<std::string> defaultRouteInterfaces(const std::string &routeTable);

// "container bridge", "bridge", "tunnel", "loopback" or "" for a plain interface.
std::string interfaceKind(const HostInterface &host);

// The network of an address and mask: "10.78.0.0/16".
std::string networkText(const char *address, const char *netMask);

// One line per address: whether a scan uses it and, when not, why. With a bind
// address, only that address's interface is used (a problem when no interface
// holds it).
std::vector<Check> interfaceChecks(const std::vector<HostInterface> &hosts,
                                   const std::string &bindAddress);

// The names of the interfaces a scan uses, each once.
std::vector<std::string> scannedInterfaces(const std::vector<HostInterface> &hosts,
                                           const std::string &bindAddress);

// Reverse-path filtering of each interface a scan uses: the effective value is
// the larger of `all` and the interface's own. Strict filtering drops nothing
// on an interface that holds the default route: the way back to any address
// leads out through it.
std::vector<Check> rpFilterChecks(const std::vector<HostInterface> &hosts,
                                  const std::string &bindAddress, std::optional<std::int64_t> all);

// A program that holds the port.
struct PortHolder {
    unsigned uid = 0;
    std::optional<int> pid; // unknown when its descriptors cannot be read
    std::string command;    // printable
    std::string userName;   // of uid, when known
};

Check portCheck(bool opened, const std::string &refusal, const std::vector<PortHolder> &holders);

// How many replies the receive buffer of a scan holds when they arrive at once.
struct ReceiveBudget {
    std::int64_t bytes = 0; // the buffer the kernel grants
    std::int64_t devices = 0;
};

// The kernel grants twice what a socket asks for, capped by rmem_max unless
// the process holds CAP_NET_ADMIN; each small datagram costs about
// kBytesPerReply of it, and each device answers the scan's two discoveries.
inline constexpr std::int64_t kBytesPerReply = 1280;
ReceiveBudget receiveBudget(std::int64_t rmemMax, std::int64_t requested, bool privileged);

Check receiveBufferCheck(std::optional<std::int64_t> rmemMax, bool privileged);

// A rule or chain of the host firewall that keeps replies out.
struct FirewallBlock {
    std::string family, table, chain;
    std::optional<std::int64_t> handle; // the rule's; none for the chain's policy
    std::string what;                   // "drops UDP to port 32153", ...
    bool partly = false;                // under further conditions: some replies only
};

// What in an `nft -j list ruleset` output keeps the replies (UDP from the
// device port to the local port) out: drop and reject rules of the input
// chains of the ip and inet families, and of the chains they jump or go to,
// that no earlier rule's accept covers, and drop policies. A rule with a condition that cannot be
// judged here (a source address, an interface, a named set) counts as a partial block, or as no
// accept. None when the text is not such output.
std::optional<std::vector<FirewallBlock>> firewallBlocks(const QByteArray &nftJson);

std::vector<Check> firewallChecks(const std::vector<FirewallBlock> &blocks);

// What a probe heard: the number of devices per interface it was sent on.
std::vector<Check> probeChecks(const std::vector<std::string> &scanned,
                               const std::map<std::string, int> &heard, int seconds);

} // namespace veltrona::cli::doctor
