// The simulator's own wire code, checked byte for byte against hand-made datagrams.
#include "protocol.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

using namespace kovasim;

namespace {

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes &part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

Bytes text(const std::string &s) {
    return Bytes(s.begin(), s.end());
}

Device sampleDevice(std::uint8_t version) {
    Device d;
    d.mac = {0x02, 0x4b, 0x56, 0x00, 0x00, 0x01};
    d.version = version;
    d.deviceByte = 0x11;
    d.byte16 = 0x00;
    d.model = "AB";
    d.hostName = "h";
    d.domainName = "";
    d.networkMode = kWireStatic;
    d.ipAddress = {10, 77, 1, 1};
    d.netMask = {255, 255, 0, 0};
    d.gateway = {10, 77, 0, 1};
    d.dnsServer = {8, 8, 4, 4};
    d.pppoeUserName = "u";
    d.pppoePassword = "pw";
    d.pppoeServiceName = "";
    d.mtu = 1492;
    d.dnsMode = 1;
    d.pppoeDnsServer = {1, 2, 3, 4};
    d.filler = 3;
    d.guest = true;
    d.av1Port = 554;
    d.webPort = 8080;
    d.firmware = {2, 4, 17, 9};
    d.serialNumber = "SER";
    d.av2Port = 8554;
    d.confPort = 0x1234;
    d.av1Protocol = 3;
    d.av2Protocol = 2;
    d.av1Flag = 1;
    d.av2Flag = 0;
    return d;
}

// A configuration request put together by hand: header, credential block
// (password padded, masked, reversed), body and, from version 4, the trailer.
struct RequestParts {
    std::uint8_t version = 5;
    std::uint8_t command = kCmdSetConfig;
    std::uint8_t byte8 = 0x11;
    Mac mac{0x02, 0x4b, 0x56, 0x00, 0x00, 0x01};
    std::uint8_t selector = 0;
    std::string id = "admin";
    std::string password = "admin";
    std::uint8_t mask = 0x5A;
    Bytes body;
};

Bytes maskedField(const std::string &secret, std::uint8_t mask) {
    Bytes field(16, 0);
    std::copy(secret.begin(), secret.end(), field.begin());
    for (auto &b : field)
        b ^= mask;
    std::reverse(field.begin(), field.end());
    return field;
}

Bytes makeRequest(const RequestParts &parts) {
    Bytes out = {'A', 'D', 'C', 'T', parts.version, 0, 0, parts.command, parts.byte8};
    out.insert(out.end(), parts.mac.begin(), parts.mac.end());
    out.push_back(parts.selector);
    Bytes id(8, 0);
    std::copy(parts.id.begin(), parts.id.end(), id.begin());
    out.insert(out.end(), id.begin(), id.end());
    const Bytes pw = maskedField(parts.password, parts.mask);
    out.insert(out.end(), pw.begin(), pw.end());
    out.push_back(static_cast<std::uint8_t>(parts.mask - 1));
    out.insert(out.end(), {0xDE, 0xAD, 0xBE, 0xEF});
    out.push_back(parts.mask);
    out.insert(out.end(), parts.body.begin(), parts.body.end());
    if (parts.version >= 4)
        out.insert(out.end(), {0xE0, 0x00, 0x00});
    out[5] = static_cast<std::uint8_t>(out.size());
    out[6] = static_cast<std::uint8_t>(out.size() >> 8);
    return out;
}

ParseResult parse(const Bytes &datagram) {
    return parseRequest(datagram.data(), datagram.size());
}

} // namespace

TEST(DeviceInfoReply, Version5LayoutByteForByte) {
    bool clipped = true;
    const Bytes reply = encodeDeviceInfo(sampleDevice(5), &clipped);
    // P = 20 + 2 + 1 + 0 = 23, Q = P + 19 + 1 + 2 + 0 = 45, then 9 bytes, 3 filler, 39 tail.
    const Bytes expected = concat({
        text("KOVA"),
        {5, 96, 0, 5, 0x11},
        {0x02, 0x4b, 0x56, 0x00, 0x00, 0x01},
        {1, 0}, // mode, byte 16
        {2, 'A', 'B'},
        {1, 'h'},
        {0}, // model, host, domain
        {10, 77, 1, 1},
        {255, 255, 0, 0},
        {10, 77, 0, 1},
        {8, 8, 4, 4}, // at P = 23
        {1, 'u'},
        {2, 'p', 'w'},
        {0}, // PPPoE texts
        {0xD4, 0x05, 0, 0},
        {1},
        {1, 2, 3, 4}, // at Q = 45
        {0, 0, 0},    // filler
        {1},
        {0, 0, 0, 0, 0, 0}, // guest at L-39
        {0x2A, 0x02},
        {0x90, 0x1F},
        {2, 4, 17, 9},                                          // AV1, web, firmware
        {'S', 'E', 'R', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, // serial at L-24
        {0x6A, 0x21},
        {0x34, 0x12},
        {3, 2, 1, 0}, // AV2, Conf, protocols, flags
    });
    EXPECT_EQ(reply, expected);
    EXPECT_FALSE(clipped);
}

TEST(DeviceInfoReply, TailShapeFollowsVersion) {
    const Bytes v5 = encodeDeviceInfo(sampleDevice(5));
    for (std::uint8_t version : {2, 3, 4}) {
        SCOPED_TRACE(int(version));
        const Bytes reply = encodeDeviceInfo(sampleDevice(version));
        // The same content with a 31-byte tail: the v5 reply minus its last 8 bytes.
        ASSERT_EQ(reply.size(), 88u);
        Bytes expected(v5.begin(), v5.end() - 8);
        expected[4] = version;
        expected[5] = 88;
        EXPECT_EQ(reply, expected);
        EXPECT_EQ(reply[reply.size() - 31], 1); // guest flag at L-31
    }
    EXPECT_EQ(v5[v5.size() - 39], 1); // and at L-39 from version 5
}

TEST(DeviceInfoReply, EmptyTextsPutAddressesAtOffset20) {
    Device d = sampleDevice(3);
    d.model.clear();
    d.hostName.clear();
    d.pppoeUserName.clear();
    d.pppoePassword.clear();
    d.filler = 0;
    const Bytes reply = encodeDeviceInfo(d);
    EXPECT_EQ(Bytes(reply.begin() + 17, reply.begin() + 24), (Bytes{0, 0, 0, 10, 77, 1, 1}));
    // Q = 20 + 19 = 39, tail right after Q + 9.
    EXPECT_EQ(reply.size(), 48u + 31u);
    EXPECT_EQ(Bytes(reply.begin() + 39, reply.begin() + 43), (Bytes{0xD4, 0x05, 0, 0}));
}

TEST(DeviceInfoReply, LongTextsAreClippedToFit278Bytes) {
    Device d = sampleDevice(5);
    d.model.assign(300, 'm');
    d.hostName.assign(200, 'h');
    d.domainName.assign(200, 'd');
    d.pppoeUserName.assign(100, 'u');
    d.pppoePassword.assign(100, 'p');
    d.pppoeServiceName.assign(100, 's');
    d.serialNumber = "0123456789ABCDEFextra";
    bool clipped = false;
    const Bytes reply = encodeDeviceInfo(d, &clipped);
    EXPECT_TRUE(clipped);
    ASSERT_EQ(reply.size(), kMaxReply);
    EXPECT_EQ(reply[5] | (reply[6] << 8), int(kMaxReply));
    // Walking the counted strings must land exactly where the tail begins.
    std::size_t pos = 17;
    for (int i = 0; i < 3; ++i)
        pos += 1 + reply[pos];
    pos += 16;
    for (int i = 0; i < 3; ++i)
        pos += 1 + reply[pos];
    EXPECT_EQ(pos + 9, reply.size() - 39);
    EXPECT_EQ(std::string(reply.end() - 24, reply.end() - 8), "0123456789ABCDEF");
    EXPECT_EQ(reply[reply.size() - 6], 0x34);
}

TEST(ResultReply, IsHeaderAndDeviceKey) {
    EXPECT_EQ(encodeResult(sampleDevice(4), kKindAuthFailed),
              (Bytes{'K', 'O', 'V', 'A', 4, 15, 0, 2, 0x11, 0x02, 0x4b, 0x56, 0, 0, 1}));
}

TEST(Credentials, RecoveredFromMaskedReversedField) {
    // Mask 0x5A and "abc": thirteen 5A bytes, then c, b, a each XORed with 5A.
    const Bytes block = {0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A,       0x5A,       0x5A,
                         0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 'c' ^ 0x5A, 'b' ^ 0x5A, 'a' ^ 0x5A};
    EXPECT_EQ(recoverSecret(block.data(), 0x5A), "abc");
    const Bytes empty(16, 0x77);
    EXPECT_EQ(recoverSecret(empty.data(), 0x77), "");
    const Bytes full = maskedField("0123456789abcdef", 0x13);
    EXPECT_EQ(recoverSecret(full.data(), 0x13), "0123456789abcdef");
    const Bytes plain = maskedField("pw", 0x00);
    EXPECT_EQ(recoverSecret(plain.data(), 0x00), "pw");
}

TEST(RequestParsing, DhcpWithTrailer) {
    const Bytes datagram = makeRequest({.version = 5, .selector = 0, .id = "admin8ch", .body = {}});
    ASSERT_EQ(datagram.size(), 49u);
    EXPECT_EQ(datagram[5], 0x31);
    const ParseResult r = parse(datagram);
    ASSERT_TRUE(r.request) << r.error;
    EXPECT_TRUE(r.request->trailer);
    EXPECT_EQ(r.request->end, 46u);
    EXPECT_EQ(r.request->userId, "admin8ch");
    EXPECT_EQ(r.request->password, "admin");
    EXPECT_TRUE(r.request->maskLess1Ok);
    EXPECT_EQ(r.request->key, (Mac{0x02, 0x4b, 0x56, 0, 0, 1}));
    ASSERT_TRUE(r.request->network);
    EXPECT_EQ(r.request->network->mode, kWireDhcp);
    EXPECT_TRUE(r.request->bodyProblem.empty());
}

TEST(RequestParsing, EachBody) {
    {
        const Bytes datagram =
            makeRequest({.version = 3,
                         .selector = 1,
                         .body = {10, 0, 0, 9, 255, 0, 0, 0, 10, 0, 0, 1, 9, 9, 9, 9}});
        ASSERT_EQ(datagram.size(), 62u);
        const ParseResult r = parse(datagram);
        ASSERT_TRUE(r.request && r.request->network) << r.error << r.request->bodyProblem;
        EXPECT_FALSE(r.request->trailer);
        EXPECT_EQ(r.request->network->ipAddress, (Ipv4{10, 0, 0, 9}));
        EXPECT_EQ(r.request->network->netMask, (Ipv4{255, 0, 0, 0}));
        EXPECT_EQ(r.request->network->gateway, (Ipv4{10, 0, 0, 1}));
        EXPECT_EQ(r.request->network->dnsServer, (Ipv4{9, 9, 9, 9}));
    }
    {
        // User of 1, empty password, service of 3: 46 + 12 + 4 = 62 bytes before the trailer.
        const Bytes datagram = makeRequest(
            {.version = 4,
             .selector = 2,
             .body = {1, 'u', 0, 3, 'a', 'b', 'c', 0xDC, 0x05, 0, 0, 1, 192, 0, 2, 53}});
        ASSERT_EQ(datagram.size(), 65u);
        const ParseResult r = parse(datagram);
        ASSERT_TRUE(r.request && r.request->network) << r.error << r.request->bodyProblem;
        const NetworkBody &b = *r.request->network;
        EXPECT_EQ(b.pppoeUserName, "u");
        EXPECT_EQ(b.pppoePassword, "");
        EXPECT_EQ(b.pppoeServiceName, "abc");
        EXPECT_EQ(b.mtu, 1500u);
        EXPECT_EQ(b.dnsMode, 1);
        EXPECT_EQ(b.pppoeDnsServer, (Ipv4{192, 0, 2, 53}));
    }
    {
        Bytes body{32};
        body.insert(body.end(), 32, 'h');
        body.push_back(64);
        body.insert(body.end(), 64, 'd');
        const Bytes datagram = makeRequest({.version = 5, .selector = 3, .body = body});
        ASSERT_EQ(datagram.size(), 147u);
        const ParseResult r = parse(datagram);
        ASSERT_TRUE(r.request && r.request->host) << r.error << r.request->bodyProblem;
        EXPECT_EQ(r.request->host->hostName, std::string(32, 'h'));
        EXPECT_EQ(r.request->host->domainName, std::string(64, 'd'));
    }
    {
        Bytes body{1};
        const Bytes second = maskedField("newpass", 0x21);
        body.insert(body.end(), second.begin(), second.end());
        body.insert(body.end(), {0x20, 1, 2, 3, 4, 0x21});
        const Bytes datagram = makeRequest(
            {.version = 3, .command = kCmdSetAccount, .selector = 1, .mask = 0x00, .body = body});
        ASSERT_EQ(datagram.size(), 69u);
        const ParseResult r = parse(datagram);
        ASSERT_TRUE(r.request && r.request->account) << r.error << r.request->bodyProblem;
        EXPECT_EQ(r.request->password, "admin");
        EXPECT_TRUE(r.request->maskLess1Ok); // mask 0 travels with 0xFF
        EXPECT_EQ(r.request->account->guestByte, 1);
        EXPECT_EQ(r.request->account->newPassword, "newpass");
        EXPECT_TRUE(r.request->account->maskLess1Ok);
    }
}

TEST(RequestParsing, DiscoveryFrames) {
    const Bytes v5 = {0x41, 0x44, 0x43, 0x54, 0x05, 0x0C, 0x00, 0x03, 0xFF, 0xE0, 0x00, 0x00};
    const Bytes v3 = {0x41, 0x44, 0x43, 0x54, 0x03, 0x09, 0x00, 0x03, 0xFF};
    ASSERT_TRUE(parse(v5).request);
    ASSERT_TRUE(parse(v3).request);
    Device d = sampleDevice(5);
    EXPECT_TRUE(answersDiscovery(d, *parse(v5).request));
    d.answersVersions.reset();
    d.answersVersions.set(3);
    EXPECT_FALSE(answersDiscovery(d, *parse(v5).request));
    EXPECT_TRUE(answersDiscovery(d, *parse(v3).request));
}

TEST(RequestParsing, BadFramesAreRejected) {
    const Bytes good = makeRequest({.version = 5, .selector = 0, .body = {}});
    auto rejected = [](Bytes datagram) { return !parse(datagram).request; };

    Bytes longer = good;
    longer[5] += 1; // length field says one more byte than received
    EXPECT_TRUE(rejected(longer));
    Bytes shorter = good;
    shorter[5] -= 1;
    EXPECT_TRUE(rejected(shorter));
    Bytes noTrailer(good.begin(), good.end() - 3);
    noTrailer[5] = 46;
    EXPECT_TRUE(rejected(noTrailer)); // version 5 needs E0 00 00
    Bytes badTrailer = good;
    badTrailer.back() = 1;
    EXPECT_TRUE(rejected(badTrailer));
    Bytes badMagic = good;
    badMagic[0] = 'K';
    EXPECT_TRUE(rejected(badMagic));
    Bytes unknownCommand = good;
    unknownCommand[7] = 6;
    EXPECT_TRUE(rejected(unknownCommand));
    EXPECT_TRUE(
        rejected({0x41, 0x44, 0x43, 0x54, 0x03, 0x0A, 0x00, 0x03, 0xFF, 0x00}));   // long discovery
    EXPECT_TRUE(rejected({0x41, 0x44, 0x43, 0x54, 0x03, 0x09, 0x00, 0x03, 0x00})); // byte 8 not FF
    Bytes tooShort = {'A', 'D', 'C', 'T', 3, 40, 0, 4, 0};
    tooShort.resize(40, 0);
    EXPECT_TRUE(rejected(tooShort)); // no room for the credential block
    EXPECT_TRUE(rejected({}));
}

TEST(RequestParsing, BodiesThatDoNotFitTheirSelector) {
    struct Case {
        std::uint8_t command, selector;
        Bytes body;
    };
    const Case cases[] = {
        {kCmdSetConfig, 0, {1, 2, 3, 4}},                            // DHCP with a body
        {kCmdSetConfig, 1, {10, 0, 0, 9}},                           // static IP cut short
        {kCmdSetConfig, 2, {5, 'u'}},                                // user name past the end
        {kCmdSetConfig, 2, {0, 0, 0, 1, 2, 3, 4, 0, 1, 2, 3, 4, 9}}, // extra byte
        {kCmdSetConfig, 3, {3, 'a', 'b', 'c', 9, 'd'}},              // domain past the end
        {kCmdSetConfig, 7, {}},                                      // unknown selector
        {kCmdSetAccount, 1, {1, 2, 3}},                              // account cut short
        {kCmdSetAccount, 2, Bytes(23, 0)},                           // unknown account selector
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << int(c.command) << "/" << int(c.selector));
        const ParseResult r =
            parse(makeRequest({.command = c.command, .selector = c.selector, .body = c.body}));
        ASSERT_TRUE(r.request) << r.error;
        EXPECT_FALSE(r.request->bodyProblem.empty());
        EXPECT_FALSE(r.request->network || r.request->host || r.request->account);
        Device d = sampleDevice(5);
        const Decision decision = handleConfigRequest(d, *r.request);
        EXPECT_EQ(decision.kind, kKindStatus1);
        EXPECT_FALSE(decision.applied);
    }
}

TEST(RequestParsing, TruncatedAndRandomDatagramsNeverOverread) {
    // Run under the address sanitizer: every buffer below is exactly its datagram.
    // Each body is cut short at every length, the frame kept valid (length field
    // and, from version 4, a fresh trailer), so only the body decoders can notice.
    const Bytes pppoeBody = {4,   'u',  's',  'e', 'r', 2, 'p', 'w', 3, 's', 'v',
                             'c', 0xDC, 0x05, 0,   0,   0, 1,   1,   1, 1};
    const Bytes hostBody = {3, 'c', 'a', 'm', 4, 'l', 'a', 'n', 'd'};
    for (std::uint8_t version : {3, 5}) {
        for (const auto &[selector, body] :
             {std::pair{std::uint8_t(2), pppoeBody}, std::pair{std::uint8_t(3), hostBody}}) {
            for (std::size_t n = 0; n <= body.size(); ++n) {
                const Bytes cut = makeRequest({.version = version,
                                               .selector = selector,
                                               .body = Bytes(body.begin(), body.begin() + n)});
                const ParseResult r = parse(cut);
                ASSERT_TRUE(r.request) << r.error;
                const bool decoded = r.request->network || r.request->host;
                EXPECT_EQ(decoded, n == body.size()) << int(version) << " " << n;
                EXPECT_EQ(r.request->bodyProblem.empty(), n == body.size());
            }
        }
    }
    const Bytes pppoe = makeRequest({.version = 5, .selector = 2, .body = pppoeBody});
    for (std::size_t n = 0; n < pppoe.size(); ++n) {
        Bytes cut(pppoe.begin(), pppoe.begin() + n);
        if (n >= 7)
            cut[5] = static_cast<std::uint8_t>(n);
        EXPECT_FALSE(parse(cut).request) << n; // the trailer is gone
    }

    std::mt19937 rng(7);
    const Bytes seeds[] = {
        pppoe, makeRequest({.selector = 3, .body = {1, 'h', 1, 'd'}}),
        makeRequest(
            {.version = 2, .command = kCmdSetAccount, .selector = 1, .body = Bytes(23, 0x41)})};
    int accepted = 0;
    for (int i = 0; i < 100000; ++i) {
        Bytes datagram;
        if (i % 2 == 0) {
            datagram.resize(rng() % 300);
            for (auto &b : datagram)
                b = static_cast<std::uint8_t>(rng());
            if (datagram.size() >= 9 && i % 4 == 0) {
                std::copy_n("ADCT", 4, datagram.begin());
                datagram[5] = static_cast<std::uint8_t>(datagram.size());
                datagram[6] = static_cast<std::uint8_t>(datagram.size() >> 8);
                datagram[7] = static_cast<std::uint8_t>(3 + rng() % 3);
            }
        } else {
            // Mutate a few bytes of a valid request, length field included.
            datagram = seeds[rng() % 3];
            for (int k = 0; k < 3; ++k)
                datagram[rng() % datagram.size()] = static_cast<std::uint8_t>(rng());
        }
        const ParseResult r = parseRequest(datagram.data(), datagram.size());
        if (r.request) {
            ++accepted;
            EXPECT_LE(r.request->end, datagram.size());
            EXPECT_EQ(r.request->length, datagram.size());
            Device d = sampleDevice(5);
            handleConfigRequest(d, *r.request);
            const Bytes reply = encodeDeviceInfo(d);
            ASSERT_LE(reply.size(), kMaxReply);
        }
    }
    EXPECT_GT(accepted, 1000); // the mutations do reach the body decoders
}

TEST(ConfigRequests, CredentialsGateEveryChange) {
    Device d = sampleDevice(5);
    const Device before = d;
    const Bytes staticBody = {10, 0, 0, 9, 255, 0, 0, 0, 10, 0, 0, 1, 9, 9, 9, 9};
    for (const auto &[id, pw] : {std::pair<std::string, std::string>{"admin", "wrong"},
                                 {"admi", "admin"},
                                 {"admin", ""},
                                 {"", "admin"}}) {
        const ParseResult r =
            parse(makeRequest({.selector = 1, .id = id, .password = pw, .body = staticBody}));
        ASSERT_TRUE(r.request);
        const Decision decision = handleConfigRequest(d, *r.request);
        EXPECT_EQ(decision.kind, kKindAuthFailed) << id << "/" << pw;
        EXPECT_FALSE(decision.applied);
    }
    EXPECT_EQ(encodeDeviceInfo(d), encodeDeviceInfo(before));

    const ParseResult ok = parse(makeRequest({.selector = 1, .mask = 0xC3, .body = staticBody}));
    ASSERT_TRUE(ok.request);
    const Decision decision = handleConfigRequest(d, *ok.request);
    EXPECT_EQ(decision.kind, kKindSuccess);
    EXPECT_TRUE(decision.applied);
    const Bytes reply = encodeDeviceInfo(d);
    EXPECT_EQ(reply[15], kWireStatic);
    EXPECT_EQ(Bytes(reply.begin() + 23, reply.begin() + 39), staticBody);
}

TEST(ConfigRequests, ChangesShowInTheNextReply) {
    Device d = sampleDevice(4);
    d.networkMode = kWireDhcp;

    auto apply = [&d](const RequestParts &parts) {
        const ParseResult r = parse(makeRequest(parts));
        EXPECT_TRUE(r.request) << r.error;
        return r.request ? handleConfigRequest(d, *r.request) : Decision{};
    };

    EXPECT_EQ(apply({.version = 4,
                     .selector = 2,
                     .body = {2, 'j', 'o', 1, 'x', 0, 0x40, 0x02, 0, 0, 0, 8, 8, 8, 8}})
                  .kind,
              kKindSuccess);
    Bytes reply = encodeDeviceInfo(d);
    EXPECT_EQ(reply[15], kWirePppoe);
    // P = 23: PPPoE texts from 39 on, then MTU 576, DNS mode 0, 8.8.8.8.
    EXPECT_EQ(Bytes(reply.begin() + 39, reply.begin() + 54),
              (Bytes{2, 'j', 'o', 1, 'x', 0, 0x40, 0x02, 0, 0, 0, 8, 8, 8, 8}));

    Bytes hostBody = {7, 'n', 'e', 'w', 'h', 'o', 's', 't', 3, 'a', '.', 'b'};
    EXPECT_EQ(apply({.version = 4, .selector = 3, .body = hostBody}).kind, kKindSuccess);
    reply = encodeDeviceInfo(d);
    EXPECT_EQ(Bytes(reply.begin() + 20, reply.begin() + 32), hostBody);

    Bytes accountBody{0};
    const Bytes second = maskedField("fresh", 0x99);
    accountBody.insert(accountBody.end(), second.begin(), second.end());
    accountBody.insert(accountBody.end(), {0x98, 0, 0, 0, 0, 0x99});
    EXPECT_EQ(
        apply({.version = 4, .command = kCmdSetAccount, .selector = 1, .body = accountBody}).kind,
        kKindSuccess);
    reply = encodeDeviceInfo(d);
    EXPECT_EQ(reply[reply.size() - 31], 0); // guest now off
    // The old password no longer works; the new one does.
    EXPECT_EQ(apply({.version = 4, .selector = 0, .body = {}}).kind, kKindAuthFailed);
    EXPECT_EQ(apply({.version = 4, .selector = 0, .password = "fresh", .body = {}}).kind,
              kKindSuccess);
    EXPECT_EQ(encodeDeviceInfo(d)[15], kWireDhcp);
}

TEST(ConfigRequests, AnswerModesAndLimits) {
    const Bytes dhcp = makeRequest({.selector = 0, .body = {}});
    Device d = sampleDevice(5);
    d.configAnswer = ConfigAnswer::Status1;
    Decision decision = handleConfigRequest(d, *parse(dhcp).request);
    EXPECT_EQ(decision.kind, kKindStatus1);
    EXPECT_FALSE(decision.applied);
    EXPECT_EQ(d.networkMode, kWireStatic);
    EXPECT_EQ(
        handleConfigRequest(d, *parse(makeRequest({.password = "x", .body = {}})).request).kind,
        kKindAuthFailed);

    d.configAnswer = ConfigAnswer::None;
    EXPECT_FALSE(handleConfigRequest(d, *parse(dhcp).request).kind);
    EXPECT_FALSE(
        handleConfigRequest(d, *parse(makeRequest({.password = "x", .body = {}})).request).kind);

    // Texts longer than a device holds are refused with status 1.
    d.configAnswer = ConfigAnswer::Ok;
    Bytes pppoe{17};
    pppoe.insert(pppoe.end(), 17, 'u');
    pppoe.insert(pppoe.end(), {0, 0, 0xDC, 5, 0, 0, 0, 0, 0, 0, 0});
    decision = handleConfigRequest(d, *parse(makeRequest({.selector = 2, .body = pppoe})).request);
    EXPECT_EQ(decision.kind, kKindStatus1);
    EXPECT_EQ(d.networkMode, kWireStatic);
    Bytes host{33};
    host.insert(host.end(), 33, 'h');
    host.push_back(0);
    decision = handleConfigRequest(d, *parse(makeRequest({.selector = 3, .body = host})).request);
    EXPECT_EQ(decision.kind, kKindStatus1);
    EXPECT_EQ(d.hostName, "h");
}

TEST(DeviceInfoReply, FaultsAreAppliedOnlyWhenAsked) {
    Device d = sampleDevice(5);
    const Bytes good = encodeDeviceInfo(d);
    EXPECT_EQ(deviceInfoDatagram(d), good);

    d.lengthField = 300;
    Bytes reply = deviceInfoDatagram(d);
    EXPECT_EQ(reply.size(), good.size());
    EXPECT_EQ(reply[5] | (reply[6] << 8), 300);
    EXPECT_TRUE(std::equal(reply.begin() + 7, reply.end(), good.begin() + 7));

    d.lengthField.reset();
    d.sendBytes = 5;
    EXPECT_EQ(deviceInfoDatagram(d), Bytes(good.begin(), good.begin() + 5));
    d.sendBytes = 400;
    reply = deviceInfoDatagram(d);
    ASSERT_EQ(reply.size(), 400u);
    EXPECT_TRUE(std::equal(good.begin(), good.end(), reply.begin()));
    EXPECT_EQ(reply[5] | (reply[6] << 8), int(good.size())); // the length field stays true
}
