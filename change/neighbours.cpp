#include "neighbours.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>
#include <thread>
#include <unordered_map>
#include <unordered_set>

namespace veltrona::change {

namespace {

struct LocalAddress {
    std::uint32_t address, netmask;
    std::string interfaceName;
};

} // namespace

std::vector<LocalNetwork> localNetworks() {
    std::vector<LocalNetwork> found;
    ifaddrs *list = nullptr;
    if (getifaddrs(&list) != 0)
        return found;
    for (const ifaddrs *i = list; i != nullptr; i = i->ifa_next) {
        if (i->ifa_addr == nullptr || i->ifa_netmask == nullptr ||
            i->ifa_addr->sa_family != AF_INET || (i->ifa_flags & IFF_UP) == 0 ||
            (i->ifa_flags & IFF_LOOPBACK) != 0)
            continue;
        const auto *address = reinterpret_cast<const sockaddr_in *>(i->ifa_addr);
        const auto *netmask = reinterpret_cast<const sockaddr_in *>(i->ifa_netmask);
        found.push_back(
            {i->ifa_name, ntohl(address->sin_addr.s_addr), ntohl(netmask->sin_addr.s_addr)});
    }
    freeifaddrs(list);
    return found;
}

namespace {

std::vector<LocalAddress> localAddresses() {
    std::vector<LocalAddress> found;
    for (LocalNetwork &network : localNetworks())
        found.push_back({network.address, network.netmask, std::move(network.interfaceName)});
    return found;
}

// "02:4b:..." as the MACs are written elsewhere: "02-4B-...".
std::string dashed(std::string hardware) {
    for (char &c : hardware)
        c = c == ':' ? '-' : static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return hardware;
}

std::string interfaceHardware(const std::string &name) {
    std::ifstream file("/sys/class/net/" + name + "/address");
    std::string hardware;
    std::getline(file, hardware);
    return hardware.empty() ? name : dashed(hardware);
}

// The resolved entries of the kernel's neighbour table: address -> hardware.
std::unordered_map<std::uint32_t, std::string> resolvedNeighbours() {
    std::unordered_map<std::uint32_t, std::string> table;
    std::ifstream file("/proc/net/arp");
    std::string line;
    std::getline(file, line); // the titles
    while (std::getline(file, line)) {
        std::istringstream fields(line);
        std::string ip, type, flags, hardware;
        fields >> ip >> type >> flags >> hardware;
        const auto address = parseAddress(ip);
        constexpr unsigned long kComplete = 0x2;
        if (address && (std::stoul(flags, nullptr, 16) & kComplete) != 0)
            table[*address] = dashed(hardware);
    }
    return table;
}

bool attached(const std::vector<LocalAddress> &local, std::uint32_t address) {
    return std::any_of(local.begin(), local.end(), [&](const LocalAddress &l) {
        return (l.address & l.netmask) == (address & l.netmask);
    });
}

} // namespace

bool mayHaveLiveHolders(const std::vector<std::uint32_t> &addresses,
                        const std::vector<HeardDevice> &heard) {
    const std::vector<LocalAddress> local = localAddresses();
    return std::any_of(addresses.begin(), addresses.end(), [&](std::uint32_t address) {
        const bool held = std::any_of(heard.begin(), heard.end(),
                                      [&](const HeardDevice &d) { return d.address == address; });
        return !held && attached(local, address);
    });
}

void NeighbourProbes::send(const std::vector<std::uint32_t> &addresses) {
    const std::vector<LocalAddress> local = localAddresses();
    const int probe = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (probe < 0)
        return;
    const auto now = std::chrono::steady_clock::now();
    for (std::uint32_t address : addresses) {
        if (probedAt_.count(address))
            continue;
        const bool own = std::any_of(local.begin(), local.end(),
                                     [&](const LocalAddress &l) { return l.address == address; });
        if (own || !attached(local, address))
            continue;
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(9); // discard
        to.sin_addr.s_addr = htonl(address);
        sendto(probe, "", 0, MSG_DONTWAIT, reinterpret_cast<const sockaddr *>(&to), sizeof to);
        probedAt_.emplace(address, now);
    }
    close(probe);
}

std::vector<HeardDevice> NeighbourProbes::holders(const std::vector<std::uint32_t> &addresses,
                                                  const std::vector<HeardDevice> &heard,
                                                  std::chrono::milliseconds wait) {
    std::unordered_set<std::uint32_t> held;
    for (const HeardDevice &device : heard)
        held.insert(device.address);
    std::vector<std::uint32_t> unheld;
    for (std::uint32_t address : addresses)
        if (!held.count(address))
            unheld.push_back(address);
    send(unheld);
    const std::vector<LocalAddress> local = localAddresses();
    std::vector<HeardDevice> holders;
    std::vector<std::uint32_t> probed;
    std::chrono::steady_clock::time_point until{};
    for (std::uint32_t address : unheld) {
        const auto own = std::find_if(local.begin(), local.end(),
                                      [&](const LocalAddress &l) { return l.address == address; });
        if (own != local.end()) {
            holders.push_back({interfaceHardware(own->interfaceName), "this host", address});
            continue;
        }
        if (const auto at = probedAt_.find(address); at != probedAt_.end()) {
            probed.push_back(address);
            until = std::max(until, at->second + wait);
        }
    }
    std::unordered_map<std::uint32_t, std::string> table;
    while (!probed.empty()) {
        table = resolvedNeighbours();
        const bool all = std::all_of(probed.begin(), probed.end(),
                                     [&](std::uint32_t a) { return table.count(a) != 0; });
        if (all || std::chrono::steady_clock::now() >= until)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    for (std::uint32_t address : probed)
        if (const auto at = table.find(address); at != table.end())
            holders.push_back({at->second, "not a KOVA device", address});
    return holders;
}

std::vector<HeardDevice> liveHolders(const std::vector<std::uint32_t> &addresses,
                                     const std::vector<HeardDevice> &heard,
                                     std::chrono::milliseconds wait) {
    return NeighbourProbes().holders(addresses, heard, wait);
}

std::vector<HeardDevice> holdersFor(const std::vector<DeviceChange> &changes,
                                    const ScanResult &scanned, NeighbourProbes *early) {
    std::vector<HeardDevice> holders = heardDevices(scanned);
    NeighbourProbes fresh;
    const std::vector<HeardDevice> live =
        (early ? *early : fresh).holders(newAddresses(changes), holders, kNeighbourWait);
    holders.insert(holders.end(), live.begin(), live.end());
    return holders;
}

} // namespace veltrona::change
