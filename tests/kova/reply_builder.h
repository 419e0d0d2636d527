#pragma once
// Builds device replies of the wire layout, for tests, fuzz seeds and benchmarks.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace kova::test {

struct ReplySpec {
    uint8_t version = 5;
    uint8_t kind = 5;
    uint8_t deviceByte = 0x11;
    std::array<uint8_t, 6> mac{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
    uint8_t wireMode = 1;
    std::string model = "VX-100", host = "cam-lobby", domain = "site.lan";
    std::array<uint8_t, 4> ip{192, 168, 1, 9}, mask{255, 255, 255, 0}, gateway{192, 168, 1, 1},
        dns{192, 168, 1, 2};
    std::string pppoeUser = "u", pppoePassword = "pw", pppoeService = "isp";
    uint32_t mtu = 1492;
    uint8_t dnsMode = 1;
    std::array<uint8_t, 4> pppoeDns{10, 0, 0, 53};
    size_t gap = 3; // unread bytes between the PPPoE DNS server and the tail
    uint8_t guest = 1;
    uint16_t av1Port = 554, webPort = 8080, av2Port = 8554, conf = 9000;
    std::array<uint8_t, 4> firmware{1, 2, 3, 4};
    uint8_t av1Protocol = 2, av2Protocol = 3, av1Flag = 1, av2Flag = 0;
    std::string serial = "SN-0042";
};

inline std::vector<uint8_t> BuildReply(const ReplySpec &s) {
    std::vector<uint8_t> d = {'K', 'O', 'V', 'A', s.version, 0, 0, s.kind, s.deviceByte};
    d.insert(d.end(), s.mac.begin(), s.mac.end());
    auto u16 = [&](uint16_t v) {
        d.push_back(v & 0xFF);
        d.push_back(v >> 8);
    };
    auto counted = [&](const std::string &t) {
        d.push_back(static_cast<uint8_t>(t.size()));
        d.insert(d.end(), t.begin(), t.end());
    };
    if (s.kind == 5) {
        d.push_back(s.wireMode);
        d.push_back(0);
        counted(s.model);
        counted(s.host);
        counted(s.domain);
        for (const auto *a : {&s.ip, &s.mask, &s.gateway, &s.dns})
            d.insert(d.end(), a->begin(), a->end());
        counted(s.pppoeUser);
        counted(s.pppoePassword);
        counted(s.pppoeService);
        for (int i = 0; i < 4; ++i)
            d.push_back((s.mtu >> (8 * i)) & 0xFF);
        d.push_back(s.dnsMode);
        d.insert(d.end(), s.pppoeDns.begin(), s.pppoeDns.end());
        d.insert(d.end(), s.gap, 0xEE);
        d.push_back(s.guest);
        d.insert(d.end(), 6, 0xEE);
        u16(s.av1Port);
        u16(s.webPort);
        d.insert(d.end(), s.firmware.begin(), s.firmware.end());
        std::string serial = s.serial;
        serial.resize(16, '\0');
        d.insert(d.end(), serial.begin(), serial.end());
        if (s.version >= 5) {
            u16(s.av2Port);
            u16(s.conf);
            d.insert(d.end(), {s.av1Protocol, s.av2Protocol, s.av1Flag, s.av2Flag});
        }
    }
    d[5] = d.size() & 0xFF;
    d[6] = static_cast<uint8_t>(d.size() >> 8);
    return d;
}

} // namespace kova::test
