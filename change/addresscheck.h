#pragma once
// Checks of the static settings a device is about to be given, made before
// anything is sent: addresses no device can use, a netmask that is no netmask,
// a gateway it cannot reach, and an address that another device holds.
// Addresses are host-order 32-bit values (10.0.0.1 is 0x0A000001).

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace veltrona::change {

enum class Field { Address, Netmask, Gateway };

// One problem, as one sentence for people that names the address.
struct Problem {
    Field field;
    std::string message;
};

// The static settings a device is about to be given. A gateway of 0 means "none".
std::vector<Problem> checkAddresses(std::uint32_t address, std::uint32_t netmask,
                                    std::uint32_t gateway);

// A device heard in the scan; mac as "02-4B-56-00-00-01".
struct HeardDevice {
    std::string mac;
    std::string hostName;
    std::uint32_t address;
};

// Other devices (mac != ownMac) heard at `address` (and keeping it): one
// problem naming MAC and host name.
std::vector<Problem> checkCollision(std::uint32_t address, std::string_view ownMac,
                                    const std::vector<HeardDevice> &heard);

// The problem for an address held by a device: shared by the scan's collision
// check and the plan's own (an address given twice).
Problem heldBy(std::uint32_t address, std::string_view mac, std::string_view hostName);

// Dotted text of a host-order address.
std::string dotted(std::uint32_t address);

// Device text made safe for a terminal or a message: C0 controls, DEL and C1
// controls become '?', as characters of a UTF-8 text or as bytes of any other.
std::string printable(std::string_view text);

// Same MAC text, whatever the case of its hex digits.
bool sameMac(std::string_view a, std::string_view b);

} // namespace veltrona::change
