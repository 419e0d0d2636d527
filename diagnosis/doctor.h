#pragma once
// Why a scan may find no device: the readers of the host's state (/proc,
// sysctl values) and the judging of what they read, as pure functions; the
// rule-set reader is ruleset.h, the gathering of the state hoststate.h. The
// client's `doctor` prints the checks; the window words their findings.

#include "findings.h"
#include "kova.h"
#include "ruleset.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace veltrona::diagnosis {

struct Check {
    std::string area;    // what was looked at: "interface", "port", ...
    std::string subject; // which one: an interface name, "32153/udp"; may be empty
    Status status = Status::Ok;
    std::string finding;
    std::string fix; // empty when there is nothing to do
    // The finding as values, for a front end that words it itself; set on
    // warnings, problems and skipped checks, and on a port that others hold too.
    std::optional<HostFinding> fact;
};

const char *statusWord(Status status);

// 0 when every check is ok or skipped, 1 when one found a warning or problem.
int exitCode(const std::vector<Check> &checks);

// One line per check, aligned, through the terminal filter.
std::string formatTable(const std::vector<Check> &checks);

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

// One line per block, or one saying that nothing blocks; one skipped line
// naming the chains that were not judged.
std::vector<Check> firewallChecks(const RuleSet &ruleSet);

// What a probe heard: the number of devices per interface it was sent on.
std::vector<Check> probeChecks(const std::vector<std::string> &scanned,
                               const std::map<std::string, int> &heard, int seconds);

} // namespace veltrona::diagnosis
