#pragma once
// Builds device replies of the wire layout, for tests, fuzz seeds and benchmarks.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace kova::test {

struct ReplyFields {
    uint8_t version = 5, kind = 5, deviceByte = 0x11;
    std::array<uint8_t, 6> mac{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
    uint8_t wireMode = 1;
    std::string model = "VX-100", host = "cam-lobby", domain = "site.lan";
    std::array<uint8_t, 16> addresses{192, 168, 1, 9, 255, 255, 255, 0,
                                      192, 168, 1, 1, 192, 168, 1,   2};
    std::string pppoeUser = "u", pppoePassword = "pw", pppoeService = "isp";
    uint32_t mtu = 1492;
    uint8_t dnsMode = 1;
    std::array<uint8_t, 4> pppoeDns{10, 0, 0, 53};
    size_t gap = 3; // unread bytes between the PPPoE DNS server and the tail
    uint8_t guest = 1;
    uint16_t av1Port = 554, webPort = 8080, av2Port = 8554, conf = 9000;
    std::array<uint8_t, 8> firmwareAndFlags{1, 2, 3, 4, 2, 3, 1, 0}; // fw x4, protocols, flags
    std::string serial = "SN-0042";
};

inline std::vector<uint8_t> BuildReply(const ReplyFields &s) {
    std::vector<uint8_t> d = {'K', 'O', 'V', 'A', s.version, 0, 0, s.kind, s.deviceByte};
    auto add = [&](const auto &bytes) { d.insert(d.end(), bytes.begin(), bytes.end()); };
    auto u16 = [&](uint16_t v) { add(std::array<uint8_t, 2>{uint8_t(v), uint8_t(v >> 8)}); };
    auto counted = [&](const std::string &t) {
        d.push_back(static_cast<uint8_t>(t.size()));
        add(t);
    };
    add(s.mac);
    if (s.kind == 5) {
        add(std::array<uint8_t, 2>{s.wireMode, 0});
        counted(s.model), counted(s.host), counted(s.domain);
        add(s.addresses);
        counted(s.pppoeUser), counted(s.pppoePassword), counted(s.pppoeService);
        u16(s.mtu & 0xFFFF), u16(s.mtu >> 16);
        d.push_back(s.dnsMode);
        add(s.pppoeDns);
        add(std::vector<uint8_t>(s.gap, 0xEE));
        d.push_back(s.guest);
        add(std::vector<uint8_t>(6, 0xEE));
        u16(s.av1Port), u16(s.webPort);
        add(std::vector<uint8_t>(s.firmwareAndFlags.begin(), s.firmwareAndFlags.begin() + 4));
        std::string serial = s.serial;
        serial.resize(16, '\0');
        add(serial);
        if (s.version >= 5) {
            u16(s.av2Port), u16(s.conf);
            add(std::vector<uint8_t>(s.firmwareAndFlags.begin() + 4, s.firmwareAndFlags.end()));
        }
    }
    d[5] = d.size() & 0xFF;
    d[6] = static_cast<uint8_t>(d.size() >> 8);
    return d;
}

} // namespace kova::test
