#include "addresscheck.h"

#include "printable.h"

#include <arpa/inet.h>

#include <algorithm>
#include <bit>
#include <cctype>
#include <optional>

namespace veltrona::change {

namespace {

bool contiguous(std::uint32_t netmask) {
    return std::countl_one(netmask) + std::countr_zero(netmask) == 32;
}

std::string subnetText(std::uint32_t network, std::uint32_t netmask) {
    return dotted(network) + "/" + std::to_string(std::popcount(netmask));
}

// Network or broadcast address of a subnet that has both (/30 and wider).
std::optional<std::string> reservedInSubnet(std::uint32_t value, std::uint32_t netmask) {
    if (std::popcount(netmask) > 30)
        return std::nullopt;
    const std::uint32_t network = value & netmask;
    if (value == network)
        return "the network address of the subnet " + subnetText(network, netmask);
    if (value == (network | ~netmask))
        return "the broadcast address of the subnet " + subnetText(network, netmask);
    return std::nullopt;
}

} // namespace

std::string dotted(std::uint32_t address) {
    return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xFF) + "." +
           std::to_string((address >> 8) & 0xFF) + "." + std::to_string(address & 0xFF);
}

std::optional<std::uint32_t> parseAddress(std::string_view text) {
    const std::string copy(text);
    in_addr address{};
    if (inet_pton(AF_INET, copy.c_str(), &address) != 1)
        return std::nullopt;
    return ntohl(address.s_addr);
}

bool sameMac(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::toupper(static_cast<unsigned char>(x)) ==
               std::toupper(static_cast<unsigned char>(y));
    });
}

std::vector<Problem> checkAddresses(std::uint32_t address, std::uint32_t netmask,
                                    std::uint32_t gateway) {
    std::vector<Problem> problems;
    const std::string ip = dotted(address);
    if (address == 0)
        problems.push_back({Field::Address, "0.0.0.0 is not a device address."});
    else if (address == 0xFFFFFFFF)
        problems.push_back(
            {Field::Address, "255.255.255.255 is the broadcast address, not a device address."});
    else if ((address >> 24) == 127)
        problems.push_back({Field::Address, ip + " is a loopback address."});
    else if ((address >> 28) == 0xE)
        problems.push_back({Field::Address, ip + " is a multicast address."});
    else if ((address >> 28) == 0xF)
        problems.push_back({Field::Address, ip + " is a reserved address."});

    const bool maskUsable = netmask != 0 && contiguous(netmask);
    if (netmask == 0)
        problems.push_back({Field::Netmask, "0.0.0.0 is not a netmask."});
    else if (!maskUsable)
        problems.push_back({Field::Netmask, dotted(netmask) +
                                                " is not a netmask: its one bits must come "
                                                "first, without a gap."});
    if (!maskUsable)
        return problems;

    if (problems.empty())
        if (const auto what = reservedInSubnet(address, netmask))
            problems.push_back({Field::Address, ip + " is " + *what + "."});
    if (gateway == 0)
        return problems;
    const std::string gw = dotted(gateway);
    if ((gateway & netmask) != (address & netmask))
        problems.push_back({Field::Gateway, "The gateway " + gw + " is outside the subnet " +
                                                subnetText(address & netmask, netmask) + "."});
    else if (const auto what = reservedInSubnet(gateway, netmask))
        problems.push_back({Field::Gateway, "The gateway " + gw + " is " + *what + "."});
    return problems;
}

Problem heldBy(std::uint32_t address, std::string_view mac, std::string_view hostName) {
    std::string holder = printable(mac);
    if (!hostName.empty())
        holder += " (" + printable(hostName) + ")";
    return {Field::Address, dotted(address) + " is held by the device " + holder + "."};
}

std::vector<Problem> checkCollision(std::uint32_t address, std::string_view ownMac,
                                    const std::vector<HeardDevice> &heard) {
    std::vector<Problem> problems;
    for (const HeardDevice &device : heard)
        if (device.address == address && !sameMac(device.mac, ownMac))
            problems.push_back(heldBy(address, device.mac, device.hostName));
    return problems;
}

} // namespace veltrona::change
