#pragma once
// Hosts that are not KOVA devices but hold an address: this host's own
// addresses, and addresses on a network this host is on that answer the
// kernel's neighbour resolution (no privilege, no raw socket: an empty UDP
// datagram to the discard port makes the kernel resolve the address, and its
// neighbour table then tells whether a host answered).

#include "addresscheck.h"
#include "changeengine.h"

#include <chrono>
#include <cstdint>
#include <unordered_map>
#include <vector>

namespace veltrona::change {

// How long the neighbour table is given to resolve a probed address.
constexpr std::chrono::milliseconds kNeighbourWait{1000};

// Probes of the neighbour table, sent as soon as the caller knows (or can
// guess) the addresses, so that the kernel resolves them while the caller does
// something else: apply sends them in the last second of its scan.
class NeighbourProbes {
public:
    // Probes the addresses among `addresses` on a network this host is on,
    // other than its own; each address is probed once.
    void send(const std::vector<std::uint32_t> &addresses);

    // The holders among `addresses` that no device in `heard` holds: each as
    // a heard device named by its hardware address, with "this host" or "not
    // a KOVA device" as its host name. An address not probed yet is probed
    // now; the neighbour table is awaited until every probed address has
    // answered or `wait` has passed since the latest of their probes.
    std::vector<HeardDevice> holders(const std::vector<std::uint32_t> &addresses,
                                     const std::vector<HeardDevice> &heard,
                                     std::chrono::milliseconds wait);

private:
    std::unordered_map<std::uint32_t, std::chrono::steady_clock::time_point> probedAt_;
};

// NeighbourProbes::holders with nothing probed beforehand.
std::vector<HeardDevice> liveHolders(const std::vector<std::uint32_t> &addresses,
                                     const std::vector<HeardDevice> &heard,
                                     std::chrono::milliseconds wait);

// Whether liveHolders has anything to look up: one of `addresses` that no
// device in `heard` holds is on a network this host has an address on (its
// own addresses included). Otherwise it finds no holder and does not wait.
bool mayHaveLiveHolders(const std::vector<std::uint32_t> &addresses,
                        const std::vector<HeardDevice> &heard);

// Every holder new addresses are checked against: the devices heard in the
// scan at every address they hold and the live hosts above (waiting at most
// kNeighbourWait after their probes; `early` holds the probes sent before, if
// any).
std::vector<HeardDevice> holdersFor(const std::vector<DeviceChange> &changes,
                                    const ScanResult &scanned, NeighbourProbes *early = nullptr);

// This host's IPv4 networks, by interface (up, not loopback).
std::vector<LocalNetwork> localNetworks();

} // namespace veltrona::change
