// The frame headers of broadcast replies: what a receiving host checks.
#include "frames.h"

#include <gtest/gtest.h>

using namespace kovasim;

namespace {

// The folded ones' complement sum: 0xffff over data that carries a right checksum.
std::uint16_t onesSum(const std::vector<std::uint8_t> &bytes) {
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < bytes.size(); i += 2)
        sum += std::uint32_t(bytes[i]) << 8 | (i + 1 < bytes.size() ? bytes[i + 1] : 0);
    while (sum >> 16)
        sum = (sum & 0xffff) + (sum >> 16);
    return static_cast<std::uint16_t>(sum);
}

TEST(FrameHeader, CarriesTheAddressesLengthsAndChecksumsOfTheDatagram) {
    const std::array<std::uint8_t, 6> mac{0x02, 0x11, 0x22, 0x33, 0x44, 0x55};
    // Odd and even payload lengths: the last byte of an odd one is padded.
    for (const Bytes &payload :
         {Bytes{'K', 'O', 'V', 'A', 1, 2, 0xff}, Bytes(278, 0xa5), Bytes{}}) {
        const auto h = broadcastFrameHeader(mac, {10, 77, 3, 4}, 32154, 32153, payload);
        EXPECT_EQ(std::vector<std::uint8_t>(h.begin(), h.begin() + 14),
                  (std::vector<std::uint8_t>{0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x02, 0x11, 0x22,
                                             0x33, 0x44, 0x55, 0x08, 0x00}));
        const std::vector<std::uint8_t> ip(h.begin() + 14, h.begin() + 34);
        EXPECT_EQ(ip[0], 0x45);
        EXPECT_EQ(ip[2] << 8 | ip[3], int(28 + payload.size()));
        EXPECT_EQ(ip[9], 17);
        EXPECT_EQ(std::vector<std::uint8_t>(ip.begin() + 12, ip.end()),
                  (std::vector<std::uint8_t>{10, 77, 3, 4, 255, 255, 255, 255}));
        EXPECT_EQ(onesSum(ip), 0xffff);
        // UDP: ports, length, and the checksum over pseudo-header, header and payload.
        std::vector<std::uint8_t> udp(h.begin() + 34, h.end());
        EXPECT_EQ(udp[0] << 8 | udp[1], 32154);
        EXPECT_EQ(udp[2] << 8 | udp[3], 32153);
        EXPECT_EQ(udp[4] << 8 | udp[5], int(8 + payload.size()));
        std::vector<std::uint8_t> summed(ip.begin() + 12, ip.end());
        summed.insert(summed.end(), {0, 17, udp[4], udp[5]});
        summed.insert(summed.end(), udp.begin(), udp.end());
        summed.insert(summed.end(), payload.begin(), payload.end());
        EXPECT_EQ(onesSum(summed), 0xffff);
    }
}

} // namespace
