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
    std::uint32_t address, netmask, gateway;
    std::vector<Field> fields; // of the problems found, in order; empty: allowed
    const char *names;         // a text the first message holds
};

} // namespace

TEST(AddressCheck, OneRowPerRule) {
    using enum Field;
    // clang-format off
    const Row rows[] = {
        {"usable",             ip(10, 77, 1, 5),      kMask16, ip(10, 77, 0, 1), {}, ""},
        {"no gateway",         ip(10, 77, 1, 5),      kMask16, 0, {}, ""},
        {"point to point /31", ip(10, 0, 0, 0),       ip(255, 255, 255, 254), 0, {}, ""},
        {"subnet broadcast",   ip(10, 77, 255, 255),  kMask16, 0, {Address}, "10.77.255.255 is the broadcast address of the subnet 10.77.0.0/16"},
        {"network address",    ip(10, 77, 0, 0),      kMask16, 0, {Address}, "network address of the subnet 10.77.0.0/16"},
        {"zero",               0,                     kMask16, 0, {Address}, "0.0.0.0"},
        {"limited broadcast",  ip(255, 255, 255, 255), kMask16, 0, {Address}, "255.255.255.255"},
        {"loopback",           ip(127, 0, 0, 2),      ip(255, 0, 0, 0), 0, {Address}, "127.0.0.2 is a loopback"},
        {"multicast",          ip(224, 0, 0, 1),      kMask16, 0, {Address}, "224.0.0.1 is a multicast"},
        {"reserved",           ip(240, 1, 2, 3),      kMask16, 0, {Address}, "240.1.2.3 is a reserved"},
        {"netmask with a gap", ip(10, 77, 1, 5),      ip(255, 0, 255, 0), ip(10, 77, 0, 1), {Netmask}, "255.0.255.0"},
        {"netmask zero",       ip(10, 77, 1, 5),      0, 0, {Netmask}, "0.0.0.0 is not a netmask"},
        {"gateway outside",    ip(10, 77, 1, 5),      kMask16, ip(192, 168, 99, 1), {Gateway}, "192.168.99.1 is outside the subnet 10.77.0.0/16"},
        {"gateway network",    ip(10, 77, 1, 5),      kMask16, ip(10, 77, 0, 0), {Gateway}, "gateway 10.77.0.0 is the network address"},
        {"gateway broadcast",  ip(10, 77, 1, 5),      kMask16, ip(10, 77, 255, 255), {Gateway}, "gateway 10.77.255.255 is the broadcast address"},
        {"two at once",        ip(224, 0, 0, 1),      kMask16, ip(192, 168, 99, 1), {Address, Gateway}, "multicast"},
    };
    // clang-format on
    for (const Row &row : rows) {
        const auto problems = checkAddresses(row.address, row.netmask, row.gateway);
        std::vector<Field> fields;
        for (const Problem &problem : problems)
            fields.push_back(problem.field);
        EXPECT_EQ(fields, row.fields) << row.rule;
        if (!problems.empty()) {
            EXPECT_NE(problems.front().message.find(row.names), std::string::npos)
                << row.rule << ": " << problems.front().message;
        }
    }
}

TEST(AddressCheck, CollisionNamesTheHolderOnly) {
    const std::vector<HeardDevice> heard = {
        {"02-4B-56-00-00-01", "cam-01", ip(10, 77, 1, 1)},
        {"02-4B-56-00-00-04", "cam-04", ip(10, 77, 1, 4)},
        {"02-4B-56-00-00-09",
         "evil\x1b[2J\xc2\x9b"
         "x",
         ip(10, 77, 1, 9)},
    };
    const auto taken = checkCollision(ip(10, 77, 1, 1), "02-4B-56-00-00-04", heard);
    ASSERT_EQ(taken.size(), 1u);
    EXPECT_EQ(taken[0].field, Field::Address);
    EXPECT_EQ(taken[0].message, "10.77.1.1 is held by the device 02-4B-56-00-00-01 (cam-01).");

    // A device keeping its own address is no collision, whatever the case of its MAC.
    EXPECT_TRUE(checkCollision(ip(10, 77, 1, 4), "02-4b-56-00-00-04", heard).empty());
    EXPECT_TRUE(checkCollision(ip(10, 77, 1, 2), "02-4B-56-00-00-04", heard).empty());

    // The holder's host name cannot drive a terminal: ESC and the C1 CSI become '?'.
    const auto hostile = checkCollision(ip(10, 77, 1, 9), "02-4B-56-00-00-04", heard);
    ASSERT_EQ(hostile.size(), 1u);
    EXPECT_NE(hostile[0].message.find("(evil?[2J?x)"), std::string::npos) << hostile[0].message;
}

TEST(AddressCheck, PrintableKeepsTextAndMasksControls) {
    EXPECT_EQ(printable("caf\xc3\xa9"), "caf\xc3\xa9");   // UTF-8 stays
    EXPECT_EQ(printable("caf\xe9\x9b\x07"), "caf\xe9??"); // Latin-1: bytes masked
    EXPECT_EQ(printable(std::string("a\0b\x7f", 4)), "a?b?");
}
