#pragma once
// The problems that keep a change from being sent, as data: which row and
// device, which field, what kind of problem and the values involved. Each
// front end words them in its own language. And the checks of the static
// settings a device is about to be given: addresses no device can use, a
// netmask that is no netmask, a gateway it cannot reach, and an address that
// another device holds. Addresses are host-order 32-bit values (10.0.0.1 is
// 0x0A000001).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace veltrona::change {

// The setting a problem is about.
enum class Field {
    Device, // the device as a whole (where it answered from)
    Mode,
    Address,
    Netmask,
    Gateway,
    Dns,
    PppoeUser,
    PppoeService,
    PppoePassword,
    Mtu,
    DnsMode,
    PppoeDns,
    HostName,
    DomainName,
};

// What is wrong; the values each code carries are listed with it.
enum class Code {
    NotAnAddress,      // {text}
    ThisNetwork,       // {address}: in 0.0.0.0/8
    LimitedBroadcast,  // {address}: 255.255.255.255
    Loopback,          // {address}
    Multicast,         // {address}
    Reserved,          // {address}: 240.0.0.0/4
    NetworkAddress,    // {address, subnet}: the subnet's own address
    BroadcastAddress,  // {address, subnet}: the subnet's broadcast address
    NotANetmask,       // {netmask}: 0.0.0.0, or its one bits not first without a gap
    GatewayOutside,    // {gateway, subnet}
    GatewayIsAddress,  // {gateway}: the gateway is the device's own new address
    HeldBy,            // {address, mac, host name}: another device or host holds it
    GivenTwice,        // {address, other row, other MAC}
    MoveCycle,         // {row, MAC, address, row, MAC, address, ...}: each takes the next's
    HeardTwice,        // {MAC, place, place, ...}: answered from several places; bind to one
    TwoAddresses,      // {MAC, address, address}: answered from two addresses on one network
    OutsideSegment,    // {address, interface, network, network, ...}: not on the device's networks
    NotSentInMode,     // {mode, "" or "device"}: the field is not sent in that mode ("device":
                       // the device's own mode, none was given)
    CurrentNotAddress, // {}: the device's value of the kept field is not an address
    CurrentTooLong,    // {limit}: the device's value of the kept field is too long
    ControlCharacter,  // {}
    FormulaStart,      // {first character}: spreadsheets would take it for a formula
};

struct Problem {
    Problem(Code code, Field field, std::vector<std::string> values = {}, int row = 0,
            std::string mac = {})
        : code(code), field(field), values(std::move(values)), row(row), mac(std::move(mac)) {}

    Code code;
    Field field;
    std::vector<std::string> values;
    int row = 0;     // the plan's row; 0 when there is one device only
    std::string mac; // the device changed ("02-4B-56-00-00-01"); empty when none
};

// The static settings a device is about to be given. A gateway or DNS server
// of 0 means "none".
std::vector<Problem> checkAddresses(std::uint32_t address, std::uint32_t netmask,
                                    std::uint32_t gateway, std::uint32_t dns = 0);

// A device or host that holds an address; mac as "02-4B-56-00-00-01".
struct HeardDevice {
    std::string mac;
    std::string hostName;
    std::uint32_t address;
};

// Other devices (mac != ownMac) heard at `address` (and keeping it): one
// problem each, naming MAC and host name.
std::vector<Problem> checkCollision(std::uint32_t address, std::string_view ownMac,
                                    const std::vector<HeardDevice> &heard);

// The problem for an address held by a device.
Problem heldBy(std::uint32_t address, std::string_view mac, std::string_view hostName);

// A host or domain name to be sent (Latin-1): a control character never, and a
// host name no formula start either.
std::optional<Problem> checkName(std::string_view latin1, Field field);

// Dotted text of a host-order address, and the value of a dotted text.
std::string dotted(std::uint32_t address);
std::optional<std::uint32_t> parseAddress(std::string_view text);
// A dotted IPv4 address of four decimal numbers 0 to 255, in canonical form.
std::optional<std::string> canonicalIpv4(const std::string &text);
// "10.77.0.0/16".
std::string subnetText(std::uint32_t network, std::uint32_t netmask);

// Same MAC text, whatever the case of its hex digits.
bool sameMac(std::string_view a, std::string_view b);

} // namespace veltrona::change
