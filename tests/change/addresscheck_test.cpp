// The checks made before a device is given new settings: one row per rule, and
// the device texts that a message names.

#include "addresscheck.h"

#include <gtest/gtest.h>

using namespace veltrona::change;

namespace {

constexpr std::uint32_t ip(unsigned a, unsigned b, unsigned c, unsigned d) {
    return (a << 24) | (b << 16) | (c << 8) | d;
}

constexpr std::uint32_t kMask16 = ip(255, 255, 0, 0);

struct Row {
    const char *rule;
    std::uint32_t address, netmask, gateway, dns;
    std::vector<std::pair<Field, Code>> found; // the problems, in order; empty: allowed
};

} // namespace

TEST(AddressCheck, OneRowPerRule) {
    using enum Field;
    using C = Code;
    const std::uint32_t m30 = ip(255, 255, 255, 252);
    // clang-format off
    const Row rows[] = {
        {"usable",             ip(10, 77, 1, 5),      kMask16, ip(10, 77, 0, 1), 0, {}},
        {"no gateway",         ip(10, 77, 1, 5),      kMask16, 0, 0, {}},
        {"point to point /31", ip(10, 0, 0, 0),       ip(255, 255, 255, 254), 0, 0, {}},
        {"a host of a /30",    ip(10, 77, 1, 5),      m30, ip(10, 77, 1, 6), 0, {}},
        {"/30 network",        ip(10, 77, 1, 4),      m30, ip(10, 77, 1, 6), 0, {{Address, C::NetworkAddress}}},
        {"/30 broadcast",      ip(10, 77, 1, 7),      m30, ip(10, 77, 1, 6), 0, {{Address, C::BroadcastAddress}}},
        {"subnet broadcast",   ip(10, 77, 255, 255),  kMask16, 0, 0, {{Address, C::BroadcastAddress}}},
        {"network address",    ip(10, 77, 0, 0),      kMask16, 0, 0, {{Address, C::NetworkAddress}}},
        {"zero",               0,                     kMask16, 0, 0, {{Address, C::ThisNetwork}}},
        {"in 0.0.0.0/8",       ip(0, 1, 2, 3),        ip(128, 0, 0, 0), ip(127, 0, 0, 1), 0, {{Address, C::ThisNetwork}, {Gateway, C::Loopback}}},
        {"limited broadcast",  ip(255, 255, 255, 255), kMask16, 0, 0, {{Address, C::LimitedBroadcast}}},
        {"loopback",           ip(127, 0, 0, 2),      ip(255, 0, 0, 0), 0, 0, {{Address, C::Loopback}}},
        {"multicast",          ip(224, 0, 0, 1),      kMask16, 0, 0, {{Address, C::Multicast}}},
        {"reserved",           ip(240, 1, 2, 3),      kMask16, 0, 0, {{Address, C::Reserved}}},
        {"netmask with a gap", ip(10, 77, 1, 5),      ip(255, 0, 255, 0), ip(10, 77, 0, 1), 0, {{Netmask, C::NotANetmask}}},
        {"netmask zero",       ip(10, 77, 1, 5),      0, 0, 0, {{Netmask, C::NotANetmask}}},
        {"gateway outside",    ip(10, 77, 1, 5),      kMask16, ip(192, 168, 99, 1), 0, {{Gateway, C::GatewayOutside}}},
        {"gateway network",    ip(10, 77, 1, 5),      kMask16, ip(10, 77, 0, 0), 0, {{Gateway, C::NetworkAddress}}},
        {"gateway broadcast",  ip(10, 77, 1, 5),      kMask16, ip(10, 77, 255, 255), 0, {{Gateway, C::BroadcastAddress}}},
        {"gateway is the address", ip(10, 77, 1, 5),  kMask16, ip(10, 77, 1, 5), 0, {{Gateway, C::GatewayIsAddress}}},
        {"DNS server usable",  ip(10, 77, 1, 5),      kMask16, 0, ip(192, 168, 1, 53), {}},
        {"DNS server multicast", ip(10, 77, 1, 5),    kMask16, 0, ip(224, 0, 0, 251), {{Dns, C::Multicast}}},
        {"two at once",        ip(224, 0, 0, 1),      kMask16, ip(192, 168, 99, 1), 0, {{Address, C::Multicast}, {Gateway, C::GatewayOutside}}},
    };
    // clang-format on
    for (const Row &row : rows) {
        std::vector<std::pair<Field, Code>> found;
        for (const Problem &problem :
             checkAddresses(row.address, row.netmask, row.gateway, row.dns))
            found.emplace_back(problem.field, problem.code);
        EXPECT_EQ(found, row.found) << row.rule;
    }
    const auto subnet = checkAddresses(ip(10, 77, 255, 255), kMask16, 0);
    ASSERT_EQ(subnet.size(), 1u);
    EXPECT_EQ(subnet[0].values, (std::vector<std::string>{"10.77.255.255", "10.77.0.0/16"}));
}

TEST(AddressCheck, CollisionNamesTheHolderOnly) {
    const std::vector<HeardDevice> heard = {
        {"02-4B-56-00-00-01", "cam-01", ip(10, 77, 1, 1)},
        {"02-4B-56-00-00-04", "cam-04", ip(10, 77, 1, 4)},
    };
    const auto taken = checkCollision(ip(10, 77, 1, 1), "02-4B-56-00-00-04", heard);
    ASSERT_EQ(taken.size(), 1u);
    EXPECT_EQ(taken[0].field, Field::Address);
    EXPECT_EQ(taken[0].code, Code::HeldBy);
    EXPECT_EQ(taken[0].values,
              (std::vector<std::string>{"10.77.1.1", "02-4B-56-00-00-01", "cam-01"}));

    // A device keeping its own address is no collision, whatever the case of its MAC.
    EXPECT_TRUE(checkCollision(ip(10, 77, 1, 4), "02-4b-56-00-00-04", heard).empty());
    EXPECT_TRUE(checkCollision(ip(10, 77, 1, 2), "02-4B-56-00-00-04", heard).empty());
}
