// Byte-exact request layouts, the credential block and the reply decoders.
#include "reply_builder.h"
#include "wire.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace kova;
using kova::test::BuildReply;
using kova::test::ReplySpec;
using Bytes = std::vector<uint8_t>;

namespace {

const wire::BlockRandom kMask5A = [] { return std::array<uint8_t, 5>{0x5A, 1, 2, 3, 4}; };

KOVA_ITEM ItemFrom(const Bytes &reply) {
    KOVA_ITEM item{};
    std::memcpy(item.datagram, reply.data(), std::min<size_t>(reply.size(), KOVA_MAX_DATAGRAM));
    item.storedLength = static_cast<uint16_t>(std::min<size_t>(reply.size(), KOVA_MAX_DATAGRAM));
    item.version = reply.size() > 4 ? reply[4] : 0;
    std::copy(wire::kTrailer.begin(), wire::kTrailer.end(), item.trailer);
    return item;
}

Bytes Sent(const KOVA_ITEM &item, const Bytes &request) {
    return wire::Finish(request, item.version, std::span<const uint8_t, 3>(item.trailer, 3));
}

KOVA_NETWORK_SETTINGS Settings(int32_t mode) {
    KOVA_NETWORK_SETTINGS s{};
    s.mode = mode;
    std::strcpy(s.ipAddress, "10.1.2.3");
    std::strcpy(s.netMask, "255.255.0.0");
    std::strcpy(s.gateway, "10.1.0.1");
    std::strcpy(s.dnsServer, "not an address");
    std::strcpy(s.pppoeUserName, "a");
    std::strcpy(s.pppoeServiceName, "isp");
    s.mtu = 1492;
    s.dnsMode = 1;
    std::strcpy(s.pppoeDnsServer, "8.8.4.4");
    return s;
}

} // namespace

TEST(Requests, DiscoveryIsByteExactWithAndWithoutTrailer) {
    EXPECT_EQ(wire::BuildDiscovery(5),
              (Bytes{0x41, 0x44, 0x43, 0x54, 5, 0x0C, 0, 3, 0xFF, 0xE0, 0, 0}));
    EXPECT_EQ(wire::BuildDiscovery(3), (Bytes{0x41, 0x44, 0x43, 0x54, 3, 0x09, 0, 3, 0xFF}));
    EXPECT_EQ(wire::BuildDiscovery(4).size(), 12u);
    EXPECT_EQ(wire::ProtocolVersionForType(1), 2);
    EXPECT_EQ(wire::ProtocolVersionForType(2), 3);
    EXPECT_EQ(wire::ProtocolVersionForType(3), 4);
    EXPECT_EQ(wire::ProtocolVersionForType(0), 5);
    EXPECT_EQ(wire::ProtocolVersionForType(-7), 5);
}

TEST(Credential, MasksPadsAndReversesThePassword) {
    std::array<uint8_t, 31> block{};
    block.fill(0xCC);
    ASSERT_EQ(wire::FillCredential(block, "admin", "abc", kMask5A), KOVA_OK);
    EXPECT_EQ(block[0], 0xCC) << "the selector belongs to the request";
    EXPECT_EQ(Bytes(block.begin() + 1, block.begin() + 9),
              (Bytes{'a', 'd', 'm', 'i', 'n', 0, 0, 0}));
    Bytes password(13, 0x5A);
    password.insert(password.end(), {'c' ^ 0x5A, 'b' ^ 0x5A, 'a' ^ 0x5A});
    EXPECT_EQ(Bytes(block.begin() + 9, block.begin() + 25), password);
    EXPECT_EQ(block[25], 0x59);
    EXPECT_EQ(Bytes(block.begin() + 26, block.begin() + 30), (Bytes{1, 2, 3, 4}));
    EXPECT_EQ(block[30], 0x5A);

    ASSERT_EQ(wire::FillCredential(block, "", "", kMask5A), KOVA_OK);
    EXPECT_EQ(Bytes(block.begin() + 9, block.begin() + 25), Bytes(16, 0x5A));
    EXPECT_EQ(Bytes(block.begin() + 1, block.begin() + 9), Bytes(8, 0));

    ASSERT_EQ(wire::FillCredential(block, "12345678", "0123456789abcdef", kMask5A), KOVA_OK);
    EXPECT_EQ(Bytes(block.begin() + 1, block.begin() + 9),
              Bytes({'1', '2', '3', '4', '5', '6', '7', '8'}));
    EXPECT_EQ(block[9], 'f' ^ 0x5A);
    EXPECT_EQ(block[24], '0' ^ 0x5A);

    const auto before = block;
    EXPECT_EQ(wire::FillCredential(block, "123456789", "", kMask5A), KOVA_ERR_INVALID_ARG);
    EXPECT_EQ(wire::FillCredential(block, "id", "0123456789abcdefg", kMask5A),
              KOVA_ERR_INVALID_ARG);
    EXPECT_EQ(wire::FillCredential(block, nullptr, "", kMask5A), KOVA_ERR_INVALID_ARG);
    EXPECT_EQ(wire::FillCredential(block, "", nullptr, kMask5A), KOVA_ERR_INVALID_ARG);
    EXPECT_EQ(block, before) << "a refused block is left as it was";

    const wire::BlockRandom zero = [] { return std::array<uint8_t, 5>{0, 9, 9, 9, 9}; };
    ASSERT_EQ(wire::FillCredential(block, "a", "x", zero), KOVA_OK);
    EXPECT_EQ(block[25], 0xFF);
    EXPECT_EQ(block[24], 'x');
}

TEST(Requests, SetNetworkLayoutsAndTrailer) {
    ReplySpec spec;
    const KOVA_ITEM v5 = ItemFrom(BuildReply(spec));
    spec.version = 3;
    const KOVA_ITEM v3 = ItemFrom(BuildReply(spec));
    Bytes request;

    KOVA_NETWORK_SETTINGS s = Settings(KOVA_MODE_DHCP);
    ASSERT_EQ(wire::BuildSetNetwork(v5, "admin", "pw", &s, kMask5A, request), KOVA_OK);
    Bytes sent = Sent(v5, request);
    ASSERT_EQ(sent.size(), 49u);
    EXPECT_EQ(Bytes(sent.begin(), sent.begin() + 9),
              (Bytes{'A', 'D', 'C', 'T', 5, 0x31, 0, 4, 0x11}));
    EXPECT_EQ(Bytes(sent.begin() + 9, sent.begin() + 15), Bytes(spec.mac.begin(), spec.mac.end()));
    EXPECT_EQ(sent[15], 0) << "DHCP travels as wire mode 0";
    EXPECT_EQ(Bytes(sent.end() - 3, sent.end()), (Bytes{0xE0, 0, 0}));
    ASSERT_EQ(wire::BuildSetNetwork(v3, "admin", "pw", &s, kMask5A, request), KOVA_OK);
    sent = Sent(v3, request);
    ASSERT_EQ(sent.size(), 46u);
    EXPECT_EQ(sent[5], 0x2E);
    EXPECT_EQ(sent[4], 3);

    s = Settings(KOVA_MODE_STATIC);
    ASSERT_EQ(wire::BuildSetNetwork(v3, "admin", "pw", &s, kMask5A, request), KOVA_OK);
    ASSERT_EQ(request.size(), 62u);
    EXPECT_EQ(request[15], 1);
    EXPECT_EQ(Bytes(request.begin() + 46, request.end()),
              (Bytes{10, 1, 2, 3, 255, 255, 0, 0, 10, 1, 0, 1, 0xFF, 0xFF, 0xFF, 0xFF}));

    s = Settings(KOVA_MODE_PPPOE);
    ASSERT_EQ(wire::BuildSetNetwork(v3, "admin", "pw", &s, kMask5A, request), KOVA_OK);
    ASSERT_EQ(request.size(), 62u);
    EXPECT_EQ(request[15], 2);
    EXPECT_EQ(Bytes(request.begin() + 46, request.end()),
              (Bytes{1, 'a', 0, 3, 'i', 's', 'p', 0xD4, 0x05, 0, 0, 1, 8, 8, 4, 4}));

    s.mode = 7;
    ASSERT_EQ(wire::BuildSetNetwork(v3, "admin", "pw", &s, kMask5A, request), KOVA_OK);
    EXPECT_EQ(request.size(), 46u);
    EXPECT_EQ(request[15], 7);
}

TEST(Requests, SetNetworkChecksInOrder) {
    const KOVA_ITEM good = ItemFrom(BuildReply({}));
    KOVA_ITEM foreign = good;
    std::memcpy(foreign.datagram, "XOVA", 4);
    KOVA_NETWORK_SETTINGS s = Settings(KOVA_MODE_PPPOE);
    Bytes r;
    // Argument faults come before the magic check.
    EXPECT_EQ(wire::BuildSetNetwork(foreign, "admin", "pw", nullptr, kMask5A, r),
              KOVA_ERR_INVALID_ARG);
    EXPECT_EQ(wire::BuildSetNetwork(foreign, "", "pw", &s, kMask5A, r), KOVA_ERR_INVALID_ARG);
    EXPECT_EQ(wire::BuildSetNetwork(foreign, "123456789", "pw", &s, kMask5A, r),
              KOVA_ERR_INVALID_ARG);
    EXPECT_EQ(wire::BuildSetNetwork(foreign, "a", "0123456789abcdefg", &s, kMask5A, r),
              KOVA_ERR_INVALID_ARG);
    EXPECT_EQ(wire::BuildSetNetwork(foreign, "a", "pw", &s, kMask5A, r), KOVA_ERR_BAD_HANDLE);
    // PPPoE texts that fill their fields are at their limits and accepted.
    std::memset(s.pppoeUserName, 'u', 16);
    std::memset(s.pppoePassword, 'p', 32);
    std::memset(s.pppoeServiceName, 's', 32);
    ASSERT_EQ(wire::BuildSetNetwork(good, "a", "pw", &s, kMask5A, r), KOVA_OK);
    EXPECT_EQ(r.size(), 58u + 16 + 32 + 32);
    EXPECT_EQ(r[46 + 1 + 16 + 1 + 32 + 1 + 32], 0xD4)
        << "MTU follows the texts, not the next field";
}

TEST(Requests, HostNameAndAccount) {
    KOVA_ITEM item = ItemFrom(BuildReply({}));
    std::memcpy(item.datagram, "JUNK", 4); // only set-network looks at the magic
    const std::string host(32, 'h'), domain(64, 'd');
    Bytes r;
    ASSERT_EQ(wire::BuildSetHostName(item, "", "", host.c_str(), domain.c_str(), kMask5A, r),
              KOVA_OK);
    ASSERT_EQ(r.size(), 144u);
    EXPECT_EQ(r[15], 3);
    EXPECT_EQ(r[46], 32);
    EXPECT_EQ(r[79], 64);
    EXPECT_EQ(Sent(item, r).size(), 147u);
    EXPECT_EQ(
        wire::BuildSetHostName(item, "a", "b", (host + "h").c_str(), domain.c_str(), kMask5A, r),
        KOVA_ERR_INVALID_ARG);
    EXPECT_EQ(
        wire::BuildSetHostName(item, "a", "b", host.c_str(), (domain + "d").c_str(), kMask5A, r),
        KOVA_ERR_INVALID_ARG);
    EXPECT_EQ(wire::BuildSetHostName(item, "a", "b", nullptr, "", kMask5A, r),
              KOVA_ERR_INVALID_ARG);
    EXPECT_EQ(wire::BuildSetHostName(item, "123456789", "", "h", "", kMask5A, r),
              KOVA_ERR_INVALID_ARG);

    const int32_t five = 5, zero = 0;
    ASSERT_EQ(wire::BuildSetAccount(item, "admin", "old", "new", &five, kMask5A, r), KOVA_OK);
    ASSERT_EQ(r.size(), 69u);
    EXPECT_EQ(Bytes(r.begin(), r.begin() + 8), (Bytes{'A', 'D', 'C', 'T', 5, 69, 0, 5}));
    EXPECT_EQ(r[15], 1);
    EXPECT_EQ(r[46], 1);
    std::array<uint8_t, 31> second{};
    wire::FillCredential(second, "admin", "new", kMask5A);
    EXPECT_EQ(Bytes(r.begin() + 47, r.end()), Bytes(second.begin() + 9, second.end()));
    EXPECT_EQ(r[24 + 15], 'o' ^ 0x5A) << "first block carries the old password";
    ASSERT_EQ(wire::BuildSetAccount(item, "admin", "old", "", &zero, kMask5A, r), KOVA_OK);
    EXPECT_EQ(r[46], 0);
    EXPECT_EQ(wire::BuildSetAccount(item, "a", "b", "0123456789abcdefg", &zero, kMask5A, r),
              KOVA_ERR_INVALID_ARG);
    EXPECT_EQ(wire::BuildSetAccount(item, "a", "b", nullptr, &zero, kMask5A, r),
              KOVA_ERR_INVALID_ARG);
    EXPECT_EQ(wire::BuildSetAccount(item, "a", "b", "c", nullptr, kMask5A, r),
              KOVA_ERR_INVALID_ARG);
}

TEST(Decoders, WellFormedReplyDecodesEveryField) {
    ReplySpec spec;
    const Bytes reply = BuildReply(spec);
    const uint8_t source[4] = {10, 0, 0, 5};
    KOVA_DEVICE_INFO info;
    wire::DecodeDeviceInfo(reply, source, info);
    EXPECT_EQ(0, std::memcmp(info.mac, spec.mac.data(), 6));
    EXPECT_STREQ(info.ipAddress, "10.0.0.5") << "the sender, not the settings";
    EXPECT_STREQ(info.modelName, "VX-100");
    EXPECT_STREQ(info.hostName, "cam-lobby");
    EXPECT_STREQ(info.domainName, "site.lan");

    KOVA_NETWORK_SETTINGS n;
    wire::DecodeNetworkSettings(reply, n);
    EXPECT_EQ(n.mode, KOVA_MODE_STATIC);
    EXPECT_STREQ(n.ipAddress, "192.168.1.9");
    EXPECT_STREQ(n.netMask, "255.255.255.0");
    EXPECT_STREQ(n.gateway, "192.168.1.1");
    EXPECT_STREQ(n.dnsServer, "192.168.1.2");
    EXPECT_STREQ(n.pppoeUserName, "u");
    EXPECT_STREQ(n.pppoePassword, "pw");
    EXPECT_STREQ(n.pppoeServiceName, "isp");
    EXPECT_EQ(n.mtu, 1492);
    EXPECT_EQ(n.dnsMode, 1);
    EXPECT_STREQ(n.pppoeDnsServer, "10.0.0.53");

    KOVA_SERVICE_PORTS p;
    ASSERT_EQ(wire::DecodeServicePorts(reply, p), KOVA_OK);
    EXPECT_EQ(p.av1Port, 554);
    EXPECT_EQ(p.webPort, 8080);
    EXPECT_EQ(p.av2Port, 8554);
    EXPECT_EQ(p.conf, 9000);
    EXPECT_EQ(p.av1Protocol, 2);
    EXPECT_EQ(p.av2Protocol, 3);
    EXPECT_EQ(p.av1Flag, 1);
    EXPECT_EQ(p.av2Flag, 0);
    KOVA_FIRMWARE_INFO f;
    ASSERT_EQ(wire::DecodeFirmwareInfo(reply, f), KOVA_OK);
    EXPECT_EQ((std::array<int, 4>{f.fwMajor, f.fwMinor, f.fwPatch, f.fwReserved}),
              (std::array<int, 4>{1, 2, 3, 4}));
    EXPECT_STREQ(f.serialNumber, "SN-0042");
    EXPECT_EQ(wire::DecodeGuestAccount(reply), 1);
    EXPECT_EQ(wire::ReplyVersion(reply), 5);
}

TEST(Decoders, VersionGateChoosesTheTail) {
    ReplySpec spec;
    spec.version = 4;
    spec.guest = 0x77;
    Bytes reply = BuildReply(spec);
    KOVA_SERVICE_PORTS p;
    ASSERT_EQ(wire::DecodeServicePorts(reply, p), KOVA_OK);
    EXPECT_EQ(p.av1Port, 554);
    EXPECT_EQ(p.webPort, 8080);
    EXPECT_EQ(p.av2Port + p.conf + p.av1Protocol + p.av2Protocol + p.av1Flag + p.av2Flag, 0);
    EXPECT_EQ(wire::DecodeGuestAccount(reply), 0x77);
    // The same bytes read as version 5 come from the longer tail's offsets.
    reply[4] = 5;
    EXPECT_EQ(wire::DecodeGuestAccount(reply), reply[reply.size() - 39]);
    ASSERT_EQ(wire::DecodeServicePorts(reply, p), KOVA_OK);
    EXPECT_EQ(p.av1Port, reply[reply.size() - 32] | reply[reply.size() - 31] << 8);

    for (uint8_t v : {0, 1, 2}) {
        reply[4] = v;
        KOVA_SERVICE_PORTS untouched;
        std::memset(&untouched, 0xAB, sizeof untouched);
        KOVA_FIRMWARE_INFO fw;
        std::memset(&fw, 0xAB, sizeof fw);
        EXPECT_EQ(wire::DecodeServicePorts(reply, untouched), KOVA_ERR_NOT_IMPLEMENTED);
        EXPECT_EQ(wire::DecodeFirmwareInfo(reply, fw), KOVA_ERR_NOT_IMPLEMENTED);
        EXPECT_EQ(untouched.av1Port, 0xABAB);
        EXPECT_EQ(fw.fwMajor, 0xAB);
        EXPECT_EQ(wire::DecodeGuestAccount(reply), 0x77) << "read at L-31 below version 5";
    }
}

TEST(Decoders, ModeCodingAndEmptyNames) {
    ReplySpec spec;
    spec.model = spec.host = spec.domain = "";
    for (auto [wireMode, mode] : {std::pair{0, 1}, {1, 0}, {2, 2}, {7, 7}}) {
        spec.wireMode = static_cast<uint8_t>(wireMode);
        KOVA_NETWORK_SETTINGS n;
        wire::DecodeNetworkSettings(BuildReply(spec), n);
        EXPECT_EQ(n.mode, mode);
        EXPECT_STREQ(n.ipAddress, "192.168.1.9") << "addresses at offset 20";
    }
}

TEST(Decoders, HostileLengthsStayInsideTheStoredBytesAndFields) {
    ReplySpec spec;
    spec.model = std::string(120, 'm'); // longer than the field
    spec.pppoeUser = std::string(40, 'u');
    spec.serial = std::string(16, 'S'); // fills its field
    Bytes reply = BuildReply(spec);
    ASSERT_LE(reply.size(), 278u);
    KOVA_DEVICE_INFO info;
    const uint8_t src[4] = {};
    wire::DecodeDeviceInfo(reply, src, info);
    EXPECT_EQ(std::string(info.modelName), std::string(63, 'm'));
    EXPECT_STREQ(info.hostName, "cam-lobby");
    KOVA_NETWORK_SETTINGS n;
    wire::DecodeNetworkSettings(reply, n);
    EXPECT_EQ(std::string(n.pppoeUserName, 16), std::string(16, 'u'));
    EXPECT_STREQ(n.pppoePassword, "pw") << "later strings are still found";
    KOVA_FIRMWARE_INFO f;
    wire::DecodeFirmwareInfo(reply, f);
    EXPECT_EQ(std::string(f.serialNumber, 16), std::string(16, 'S'));

    // A counted string that runs past the received bytes reads as empty, and
    // every field behind it as zero.
    Bytes cut = BuildReply(ReplySpec{});
    cut[17] = 250;
    wire::DecodeDeviceInfo(cut, src, info);
    EXPECT_STREQ(info.modelName, "");
    EXPECT_STREQ(info.hostName, "");
    wire::DecodeNetworkSettings(cut, n);
    EXPECT_STREQ(n.ipAddress, "0.0.0.0");
    EXPECT_EQ(n.mtu, 0);

    // A length field beyond the received bytes or shorter than the tail.
    for (uint16_t L : {uint16_t{0xFFFF}, uint16_t{279}, uint16_t{20}, uint16_t{0}}) {
        Bytes r = BuildReply(ReplySpec{});
        r[5] = L & 0xFF;
        r[6] = L >> 8;
        KOVA_SERVICE_PORTS p;
        ASSERT_EQ(wire::DecodeServicePorts(r, p), KOVA_OK);
        if (L > r.size()) {
            EXPECT_EQ(p.av1Flag, 0);
            EXPECT_EQ(p.av2Port, 0);
            EXPECT_EQ(wire::DecodeGuestAccount(r), 0);
        }
        EXPECT_EQ(wire::DecodeFirmwareInfo(r, f), KOVA_OK);
        if (L < 28) {
            EXPECT_EQ(f.fwMajor, 0);
        }
    }
    // A reply cut right after its header: everything but the key is absent.
    const Bytes ten(reply.begin(), reply.begin() + 10);
    wire::DecodeNetworkSettings(ten, n);
    EXPECT_EQ(n.mode, 1) << "absent wire mode 0 reads as DHCP";
    EXPECT_STREQ(n.gateway, "0.0.0.0");
}
