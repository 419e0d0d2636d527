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
#include <vector>

namespace veltrona::change {

// The holders among `addresses` that no device in `heard` holds: each as a
// heard device named by its hardware address, with "this host" or "not a KOVA
// device" as its host name. Waits at most `wait` for the neighbour table.
std::vector<HeardDevice> liveHolders(const std::vector<std::uint32_t> &addresses,
                                     const std::vector<HeardDevice> &heard,
                                     std::chrono::milliseconds wait);

// Whether liveHolders has anything to look up: one of `addresses` that no
// device in `heard` holds is on a network this host has an address on (its
// own addresses included). Otherwise it finds no holder and does not wait.
bool mayHaveLiveHolders(const std::vector<std::uint32_t> &addresses,
                        const std::vector<HeardDevice> &heard);

// Every holder a plan's new addresses are checked against: the devices heard
// in the scan and the live hosts above (waiting at most a second for them).
std::vector<HeardDevice> holdersFor(const std::vector<DeviceChange> &changes,
                                    const std::vector<DeviceRecord> &scanned);

} // namespace veltrona::change
