#include "addresscheck.h"

#include <algorithm>
#include <bit>
#include <cctype>
#include <optional>

namespace veltrona::change {

namespace {

bool isControl(std::uint32_t c) {
    return c < 0x20 || (c >= 0x7f && c <= 0x9f);
}

// The code points of a UTF-8 text, or nothing when it is not one.
std::optional<std::vector<std::uint32_t>> decodeUtf8(std::string_view text) {
    std::vector<std::uint32_t> points;
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const int length = lead < 0x80           ? 1
                           : (lead >> 5) == 0x6  ? 2
                           : (lead >> 4) == 0xE  ? 3
                           : (lead >> 3) == 0x1E ? 4
                                                 : 0;
        if (length == 0 || i + static_cast<std::size_t>(length) > text.size())
            return std::nullopt;
        std::uint32_t point = length == 1 ? lead : lead & (0x7F >> length);
        for (int k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
            if ((next & 0xC0) != 0x80)
                return std::nullopt;
            point = (point << 6) | (next & 0x3F);
        }
        static constexpr std::uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (point < kSmallest[length] || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF))
            return std::nullopt;
        points.push_back(point);
        i += static_cast<std::size_t>(length);
    }
    return points;
}

void appendUtf8(std::string &out, std::uint32_t point) {
    if (point < 0x80) {
        out += static_cast<char>(point);
    } else if (point < 0x800) {
        out += static_cast<char>(0xC0 | (point >> 6));
        out += static_cast<char>(0x80 | (point & 0x3F));
    } else if (point < 0x10000) {
        out += static_cast<char>(0xE0 | (point >> 12));
        out += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (point & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (point >> 18));
        out += static_cast<char>(0x80 | ((point >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (point & 0x3F));
    }
}

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

std::string printable(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    if (const auto points = decodeUtf8(text)) {
        for (std::uint32_t point : *points)
            appendUtf8(out, isControl(point) ? '?' : point);
        return out;
    }
    for (char c : text)
        out += isControl(static_cast<unsigned char>(c)) ? '?' : c;
    return out;
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
