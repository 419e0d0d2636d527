#include "addresscheck.h"

#include "csv.h"

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

// Network or broadcast address of a subnet that has both (/30 and wider).
std::optional<Code> reservedInSubnet(std::uint32_t value, std::uint32_t netmask) {
    if (std::popcount(netmask) > 30)
        return std::nullopt;
    const std::uint32_t network = value & netmask;
    if (value == network)
        return Code::NetworkAddress;
    if (value == (network | ~netmask))
        return Code::BroadcastAddress;
    return std::nullopt;
}

// An address no host can have, whatever the subnet.
std::optional<Code> unusable(std::uint32_t address) {
    if ((address >> 24) == 0)
        return Code::ThisNetwork;
    if (address == 0xFFFFFFFF)
        return Code::LimitedBroadcast;
    if ((address >> 24) == 127)
        return Code::Loopback;
    if ((address >> 28) == 0xE)
        return Code::Multicast;
    if ((address >> 28) == 0xF)
        return Code::Reserved;
    return std::nullopt;
}

} // namespace

std::string dotted(std::uint32_t address) {
    return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xFF) + "." +
           std::to_string((address >> 8) & 0xFF) + "." + std::to_string(address & 0xFF);
}

std::string subnetText(std::uint32_t network, std::uint32_t netmask) {
    return dotted(network & netmask) + "/" + std::to_string(std::popcount(netmask));
}

std::optional<std::uint32_t> parseAddress(std::string_view text) {
    const std::string copy(text);
    in_addr address{};
    if (inet_pton(AF_INET, copy.c_str(), &address) != 1)
        return std::nullopt;
    return ntohl(address.s_addr);
}

std::optional<std::string> canonicalIpv4(const std::string &text) {
    std::string canonical;
    std::size_t at = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (at >= text.size() || text[at] != '.')
                return std::nullopt;
            ++at;
        }
        std::size_t digits = 0;
        unsigned value = 0;
        while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])) &&
               digits < 4) {
            value = value * 10 + static_cast<unsigned>(text[at] - '0');
            ++at;
            ++digits;
        }
        if (digits == 0 || digits > 3 || value > 255)
            return std::nullopt;
        canonical += (part > 0 ? "." : "") + std::to_string(value);
    }
    if (at != text.size())
        return std::nullopt;
    return canonical;
}

bool sameMac(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::toupper(static_cast<unsigned char>(x)) ==
               std::toupper(static_cast<unsigned char>(y));
    });
}

std::vector<Problem> checkAddresses(std::uint32_t address, std::uint32_t netmask,
                                    std::uint32_t gateway, std::uint32_t dns) {
    std::vector<Problem> problems;
    if (const auto code = unusable(address))
        problems.push_back({*code, Field::Address, {dotted(address)}});
    // A gateway and a DNS server of 0 are none; any other follows the rules of
    // an address.
    if (gateway != 0)
        if (const auto code = unusable(gateway))
            problems.push_back({*code, Field::Gateway, {dotted(gateway)}});
    if (dns != 0)
        if (const auto code = unusable(dns))
            problems.push_back({*code, Field::Dns, {dotted(dns)}});
    const bool gatewayUsable = gateway != 0 && !unusable(gateway);

    if (netmask == 0 || !contiguous(netmask)) {
        problems.push_back({Code::NotANetmask, Field::Netmask, {dotted(netmask)}});
        return problems;
    }
    const std::string subnet = subnetText(address, netmask);
    if (!unusable(address))
        if (const auto code = reservedInSubnet(address, netmask))
            problems.push_back({*code, Field::Address, {dotted(address), subnet}});
    if (!gatewayUsable)
        return problems;
    if (gateway == address)
        problems.push_back({Code::GatewayIsAddress, Field::Gateway, {dotted(gateway)}});
    else if ((gateway & netmask) != (address & netmask))
        problems.push_back({Code::GatewayOutside, Field::Gateway, {dotted(gateway), subnet}});
    else if (const auto code = reservedInSubnet(gateway, netmask))
        problems.push_back({*code, Field::Gateway, {dotted(gateway), subnet}});
    return problems;
}

Problem heldBy(std::uint32_t address, std::string_view mac, std::string_view hostName) {
    return {
        Code::HeldBy, Field::Address, {dotted(address), std::string(mac), std::string(hostName)}};
}

std::vector<Problem> checkCollision(std::uint32_t address, std::string_view ownMac,
                                    const std::vector<HeardDevice> &heard) {
    std::vector<Problem> problems;
    for (const HeardDevice &device : heard)
        if (device.address == address && !sameMac(device.mac, ownMac))
            problems.push_back(heldBy(address, device.mac, device.hostName));
    return problems;
}

std::optional<Problem> checkName(std::string_view latin1, Field field) {
    for (const char c : latin1) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || (byte >= 0x7f && byte <= 0x9f))
            return Problem{Code::ControlCharacter, field, {}};
    }
    if (field == Field::HostName && !latin1.empty() && isFormulaStart(latin1.front()))
        return Problem{Code::FormulaStart, field, {std::string(latin1.substr(0, 1))}};
    return std::nullopt;
}

} // namespace veltrona::change
