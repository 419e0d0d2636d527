// Byte-exact request layouts, the credential block and the reply decoders.
#include "reply_builder.h"
#include "wire.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace kova;
using kova::test::BuildReply;
using kova::test::ReplyFields;
using Bytes = std::vector<uint8_t>;

namespace {

const wire::BlockRandom kMask5A = [] { return std::array<uint8_t, 5>{0x5A, 1, 2, 3, 4}; };
const uint8_t kSource[4] = {10, 0, 0, 5};

KOVA_ITEM ItemFrom(const Bytes &reply) {
    KOVA_ITEM item{};
    std::memcpy(item.datagram, reply.data(), reply.size());
    item.storedLength = static_cast<uint16_t>(reply.size());
    item.version = reply[4];
    std::copy(wire::kTrailer.begin(), wire::kTrailer.end(), item.trailer);
    return item;
}

Bytes Slice(const Bytes &b, size_t from, size_t to) {
    return Bytes(b.begin() + from, b.begin() + to);
}

Bytes Sent(const KOVA_ITEM &item, const Bytes &request) {
    return wire::Finish(request, item.version, wire::kTrailer);
}

KOVA_NETWORK_SETTINGS Settings(int32_t mode) {
    KOVA_NETWORK_SETTINGS s{};
    s.mode = mode;
    std::strcpy(s.ipAddress, "10.1.2.3"), std::strcpy(s.netMask, "255.255.0.0");
    std::strcpy(s.gateway, "10.1.0.1"), std::strcpy(s.dnsServer, "not an address");
    std::strcpy(s.pppoeUserName, "a"), std::strcpy(s.pppoeServiceName, "isp");
    std::strcpy(s.pppoeDnsServer, "8.8.4.4");
    s.mtu = 1492;
    s.dnsMode = 1;
    return s;
}

} // namespace

TEST(Requests, DiscoveryAndProtocolVersions) {
    EXPECT_EQ(wire::BuildDiscovery(5),
              (Bytes{0x41, 0x44, 0x43, 0x54, 5, 0x0C, 0, 3, 0xFF, 0xE0, 0, 0}));
    EXPECT_EQ(wire::BuildDiscovery(3), (Bytes{0x41, 0x44, 0x43, 0x54, 3, 0x09, 0, 3, 0xFF}));
    EXPECT_EQ(wire::BuildDiscovery(4).size(), 12u);
    for (auto [type, version] : {std::pair{1, 2}, {2, 3}, {3, 4}, {0, 5}, {-7, 5}})
        EXPECT_EQ(wire::ProtocolVersionForType(type), version);
}

TEST(Credential, MasksPadsAndReversesThePassword) {
    std::array<uint8_t, 31> block;
    block.fill(0xCC);
    ASSERT_EQ(wire::FillCredential(block, "admin", "abc", kMask5A), KOVA_OK);
    Bytes expected = {0xCC, 'a', 'd', 'm', 'i', 'n', 0, 0, 0}; // selector untouched
    expected.insert(expected.end(), 13, 0x5A);
    expected.insert(expected.end(), {'c' ^ 0x5A, 'b' ^ 0x5A, 'a' ^ 0x5A, 0x59, 1, 2, 3, 4, 0x5A});
    EXPECT_EQ(Bytes(block.begin(), block.end()), expected);

    ASSERT_EQ(wire::FillCredential(block, "", "", kMask5A), KOVA_OK);
    EXPECT_EQ(Slice(Bytes(block.begin(), block.end()), 1, 25), [] {
        Bytes b(8, 0);
        b.insert(b.end(), 16, 0x5A);
        return b;
    }());
    ASSERT_EQ(wire::FillCredential(block, "12345678", "0123456789abcdef", kMask5A), KOVA_OK);
    EXPECT_EQ(std::string(block.begin() + 1, block.begin() + 9), "12345678");
    EXPECT_EQ(block[9], 'f' ^ 0x5A);
    EXPECT_EQ(block[24], '0' ^ 0x5A);

    const auto before = block;
    EXPECT_EQ(wire::FillCredential(block, "123456789", "", kMask5A), KOVA_ERR_INVALID_ARG);
    EXPECT_EQ(wire::FillCredential(block, "id", "0123456789abcdefg", kMask5A),
              KOVA_ERR_INVALID_ARG);
    EXPECT_EQ(wire::FillCredential(block, nullptr, "", kMask5A), KOVA_ERR_INVALID_ARG);
    EXPECT_EQ(wire::FillCredential(block, "", nullptr, kMask5A), KOVA_ERR_INVALID_ARG);
    EXPECT_EQ(block, before) << "a refused block is left as it was";

    ASSERT_EQ(wire::FillCredential(block, "a", "x", [] { return std::array<uint8_t, 5>{}; }),
              KOVA_OK);
    EXPECT_EQ(block[25], 0xFF);
    EXPECT_EQ(block[24], 'x');
}

TEST(Requests, SetNetworkLayoutsTrailerAndModeSwap) {
    ReplyFields fields;
    const KOVA_ITEM v5 = ItemFrom(BuildReply(fields));
    fields.version = 3;
    const KOVA_ITEM v3 = ItemFrom(BuildReply(fields));
    Bytes r;
    KOVA_NETWORK_SETTINGS s = Settings(KOVA_MODE_DHCP);
    ASSERT_EQ(wire::BuildSetNetwork(v5, "admin", "pw", &s, kMask5A, r), KOVA_OK);
    const Bytes sent = Sent(v5, r);
    ASSERT_EQ(sent.size(), 49u);
    EXPECT_EQ(Slice(sent, 0, 16), (Bytes{'A', 'D', 'C', 'T', 5, 0x31, 0, 4, 0x11, 0x00, 0x1A, 0x2B,
                                         0x3C, 0x4D, 0x5E, 0})); // wire mode 0 = DHCP
    EXPECT_EQ(Slice(sent, 46, 49), (Bytes{0xE0, 0, 0}));
    ASSERT_EQ(wire::BuildSetNetwork(v3, "admin", "pw", &s, kMask5A, r), KOVA_OK);
    EXPECT_EQ(Sent(v3, r).size(), 46u);
    EXPECT_EQ(Sent(v3, r)[5], 0x2E);

    s = Settings(KOVA_MODE_STATIC);
    ASSERT_EQ(wire::BuildSetNetwork(v3, "admin", "pw", &s, kMask5A, r), KOVA_OK);
    ASSERT_EQ(r.size(), 62u);
    EXPECT_EQ(r[15], 1);
    EXPECT_EQ(Slice(r, 46, 62),
              (Bytes{10, 1, 2, 3, 255, 255, 0, 0, 10, 1, 0, 1, 0xFF, 0xFF, 0xFF, 0xFF}));

    s = Settings(KOVA_MODE_PPPOE);
    ASSERT_EQ(wire::BuildSetNetwork(v3, "admin", "pw", &s, kMask5A, r), KOVA_OK);
    ASSERT_EQ(r.size(), 62u);
    EXPECT_EQ(r[15], 2);
    EXPECT_EQ(Slice(r, 46, 62),
              (Bytes{1, 'a', 0, 3, 'i', 's', 'p', 0xD4, 0x05, 0, 0, 1, 8, 8, 4, 4}));
    // Texts filling their fields are at their limits; the MTU follows them.
    std::memset(s.pppoeUserName, 'u', 16);
    std::memset(s.pppoePassword, 'p', 32);
    std::memset(s.pppoeServiceName, 's', 32);
    ASSERT_EQ(wire::BuildSetNetwork(v3, "a", "pw", &s, kMask5A, r), KOVA_OK);
    ASSERT_EQ(r.size(), 58u + 16 + 32 + 32);
    EXPECT_EQ(r[46 + 1 + 16 + 1 + 32 + 1 + 32], 0xD4);

    s.mode = 7;
    ASSERT_EQ(wire::BuildSetNetwork(v3, "admin", "pw", &s, kMask5A, r), KOVA_OK);
    EXPECT_EQ(r.size(), 46u);
    EXPECT_EQ(r[15], 7);
}

TEST(Requests, SetNetworkChecksArgumentsBeforeTheMagic) {
    KOVA_ITEM foreign = ItemFrom(BuildReply({}));
    std::memcpy(foreign.datagram, "XOVA", 4);
    KOVA_NETWORK_SETTINGS s = Settings(KOVA_MODE_PPPOE);
    Bytes r;
    EXPECT_EQ(wire::BuildSetNetwork(foreign, "admin", "pw", nullptr, kMask5A, r), 4);
    EXPECT_EQ(wire::BuildSetNetwork(foreign, "", "pw", &s, kMask5A, r), 4);
    EXPECT_EQ(wire::BuildSetNetwork(foreign, "123456789", "pw", &s, kMask5A, r), 4);
    EXPECT_EQ(wire::BuildSetNetwork(foreign, "a", "0123456789abcdefg", &s, kMask5A, r), 4);
    EXPECT_EQ(wire::BuildSetNetwork(foreign, "a", "pw", &s, kMask5A, r), KOVA_ERR_BAD_HANDLE);
}

TEST(Requests, HostNameAndAccount) {
    KOVA_ITEM item = ItemFrom(BuildReply({}));
    std::memcpy(item.datagram, "JUNK", 4); // only set-network looks at the magic
    const std::string host(32, 'h'), domain(64, 'd');
    Bytes r;
    ASSERT_EQ(wire::BuildSetHostName(item, "", "", host.c_str(), domain.c_str(), kMask5A, r),
              KOVA_OK);
    ASSERT_EQ(r.size(), 144u);
    EXPECT_EQ((Bytes{r[15], r[46], r[47], r[79], r[80]}), (Bytes{3, 32, 'h', 64, 'd'}));
    EXPECT_EQ(Sent(item, r).size(), 147u);
    for (auto [h, d] : {std::pair{host + "h", domain}, {host, domain + "d"}})
        EXPECT_EQ(wire::BuildSetHostName(item, "a", "b", h.c_str(), d.c_str(), kMask5A, r), 4);
    EXPECT_EQ(wire::BuildSetHostName(item, "a", "b", nullptr, "", kMask5A, r), 4);
    EXPECT_EQ(wire::BuildSetHostName(item, "123456789", "", "h", "", kMask5A, r), 4);

    const int32_t five = 5, zero = 0;
    ASSERT_EQ(wire::BuildSetAccount(item, "admin", "old", "new", &five, kMask5A, r), KOVA_OK);
    ASSERT_EQ(r.size(), 69u);
    EXPECT_EQ(Slice(r, 0, 8), (Bytes{'A', 'D', 'C', 'T', 5, 69, 0, 5}));
    EXPECT_EQ((Bytes{r[15], r[39], r[46]}), (Bytes{1, 'o' ^ 0x5A, 1}));
    std::array<uint8_t, 31> second{};
    wire::FillCredential(second, "admin", "new", kMask5A);
    EXPECT_EQ(Slice(r, 47, 69), Bytes(second.begin() + 9, second.end()));
    ASSERT_EQ(wire::BuildSetAccount(item, "admin", "old", "", &zero, kMask5A, r), KOVA_OK);
    EXPECT_EQ(r[46], 0);
    EXPECT_EQ(wire::BuildSetAccount(item, "a", "b", "0123456789abcdefg", &zero, kMask5A, r), 4);
    EXPECT_EQ(wire::BuildSetAccount(item, "a", "b", nullptr, &zero, kMask5A, r), 4);
    EXPECT_EQ(wire::BuildSetAccount(item, "a", "b", "c", nullptr, kMask5A, r), 4);
}

TEST(Decoders, WellFormedReplyDecodesEveryField) {
    const Bytes reply = BuildReply({});
    KOVA_DEVICE_INFO info;
    wire::DecodeDeviceInfo(reply, kSource, info);
    EXPECT_EQ(Bytes(info.mac, info.mac + 6), (Bytes{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}));
    EXPECT_EQ(std::string(info.ipAddress) + "|" + info.modelName + "|" + info.hostName + "|" +
                  info.domainName,
              "10.0.0.5|VX-100|cam-lobby|site.lan");
    KOVA_NETWORK_SETTINGS n;
    wire::DecodeNetworkSettings(reply, n);
    EXPECT_EQ(n.mode, KOVA_MODE_STATIC);
    EXPECT_EQ(std::string(n.ipAddress) + "|" + n.netMask + "|" + n.gateway + "|" + n.dnsServer +
                  "|" + n.pppoeUserName + "|" + n.pppoePassword + "|" + n.pppoeServiceName + "|" +
                  n.pppoeDnsServer,
              "192.168.1.9|255.255.255.0|192.168.1.1|192.168.1.2|u|pw|isp|10.0.0.53");
    EXPECT_EQ(n.mtu, 1492);
    EXPECT_EQ(n.dnsMode, 1);
    KOVA_SERVICE_PORTS p;
    ASSERT_EQ(wire::DecodeServicePorts(reply, p), KOVA_OK);
    EXPECT_EQ((std::array<int, 8>{p.av1Port, p.webPort, p.av2Port, p.conf, p.av1Protocol,
                                  p.av2Protocol, p.av1Flag, p.av2Flag}),
              (std::array<int, 8>{554, 8080, 8554, 9000, 2, 3, 1, 0}));
    KOVA_FIRMWARE_INFO f;
    ASSERT_EQ(wire::DecodeFirmwareInfo(reply, f), KOVA_OK);
    EXPECT_EQ((Bytes{f.fwMajor, f.fwMinor, f.fwPatch, f.fwReserved}), (Bytes{1, 2, 3, 4}));
    EXPECT_STREQ(f.serialNumber, "SN-0042");
    EXPECT_EQ(wire::DecodeGuestAccount(reply), 1);
    EXPECT_EQ(wire::ReplyVersion(reply), 5);
}

TEST(Decoders, VersionGateModeCodingAndEmptyNames) {
    ReplyFields fields;
    fields.version = 4;
    fields.guest = 0x77;
    Bytes reply = BuildReply(fields);
    KOVA_SERVICE_PORTS p;
    ASSERT_EQ(wire::DecodeServicePorts(reply, p), KOVA_OK);
    EXPECT_EQ((std::array<int, 8>{p.av1Port, p.webPort, p.av2Port, p.conf, p.av1Protocol,
                                  p.av2Protocol, p.av1Flag, p.av2Flag}),
              (std::array<int, 8>{554, 8080, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(wire::DecodeGuestAccount(reply), 0x77);
    reply[4] = 5; // the same bytes read through the longer tail
    EXPECT_EQ(wire::DecodeGuestAccount(reply), reply[reply.size() - 39]);
    ASSERT_EQ(wire::DecodeServicePorts(reply, p), KOVA_OK);
    EXPECT_EQ(p.av1Port, reply[reply.size() - 32] | reply[reply.size() - 31] << 8);
    for (uint8_t v : {0, 1, 2}) {
        reply[4] = v;
        KOVA_SERVICE_PORTS ports;
        KOVA_FIRMWARE_INFO fw;
        std::memset(&ports, 0xAB, sizeof ports);
        std::memset(&fw, 0xAB, sizeof fw);
        EXPECT_EQ(wire::DecodeServicePorts(reply, ports), KOVA_ERR_NOT_IMPLEMENTED);
        EXPECT_EQ(wire::DecodeFirmwareInfo(reply, fw), KOVA_ERR_NOT_IMPLEMENTED);
        EXPECT_EQ(ports.av1Port + fw.fwMajor, 0xABAB + 0xAB) << "outputs untouched";
        EXPECT_EQ(wire::DecodeGuestAccount(reply), 0x77) << "read at L-31 below version 5";
    }
    fields.model = fields.host = fields.domain = "";
    for (auto [wireMode, mode] : {std::pair{0, 1}, {1, 0}, {2, 2}, {7, 7}}) {
        fields.wireMode = static_cast<uint8_t>(wireMode);
        KOVA_NETWORK_SETTINGS n;
        wire::DecodeNetworkSettings(BuildReply(fields), n);
        EXPECT_EQ(n.mode, mode);
        EXPECT_STREQ(n.ipAddress, "192.168.1.9") << "addresses at offset 20";
    }
}

TEST(Decoders, HostileLengthsStayInsideTheStoredBytesAndFields) {
    ReplyFields fields;
    fields.model = std::string(120, 'm'); // longer than its field
    fields.pppoeUser = std::string(40, 'u');
    fields.serial = std::string(16, 'S'); // fills its field
    const Bytes reply = BuildReply(fields);
    KOVA_DEVICE_INFO info;
    wire::DecodeDeviceInfo(reply, kSource, info);
    EXPECT_EQ(std::string(info.modelName), std::string(63, 'm'));
    EXPECT_STREQ(info.hostName, "cam-lobby");
    KOVA_NETWORK_SETTINGS n;
    wire::DecodeNetworkSettings(reply, n);
    EXPECT_EQ(std::string(n.pppoeUserName, 16), std::string(16, 'u'));
    EXPECT_STREQ(n.pppoePassword, "pw") << "later strings are still found";
    KOVA_FIRMWARE_INFO f;
    wire::DecodeFirmwareInfo(reply, f);
    EXPECT_EQ(std::string(f.serialNumber, 16), std::string(16, 'S'));

    // A counted string running past the received bytes reads as empty, and
    // every field behind it as zero.
    Bytes cut = BuildReply({});
    cut[17] = 250;
    wire::DecodeDeviceInfo(cut, kSource, info);
    wire::DecodeNetworkSettings(cut, n);
    EXPECT_EQ(std::string(info.modelName) + info.hostName + "|" + n.ipAddress, "|0.0.0.0");
    EXPECT_EQ(n.mtu, 0);

    // A length field beyond the received bytes or shorter than the tail.
    for (uint16_t L : {0xFFFF, 279, 20, 0}) {
        Bytes r = BuildReply({});
        r[5] = L & 0xFF, r[6] = L >> 8;
        KOVA_SERVICE_PORTS p;
        ASSERT_EQ(wire::DecodeServicePorts(r, p), KOVA_OK);
        ASSERT_EQ(wire::DecodeFirmwareInfo(r, f), KOVA_OK);
        EXPECT_EQ(p.av1Port + f.fwMajor + wire::DecodeGuestAccount(r), 0) << L;
    }
    // A reply cut right after its header.
    wire::DecodeNetworkSettings(Slice(reply, 0, 10), n);
    EXPECT_EQ(n.mode, 1) << "absent wire mode 0 reads as DHCP";
    EXPECT_STREQ(n.gateway, "0.0.0.0");
}
