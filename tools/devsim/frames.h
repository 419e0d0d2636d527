#pragma once
// Broadcast replies as whole Ethernet frames, sent through one packet socket:
// the frame carries the device's address as its source, so no route is looked
// up per reply and no copy of each broadcast is looped back to this host, as
// the UDP socket does for every broadcast it sends.

#include "protocol.h"

#include <linux/if_packet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <unordered_map>
#include <vector>

namespace kovasim {

constexpr std::size_t kFrameHeaderSize = 14 + 20 + 8; // Ethernet, IPv4, UDP

// The Ethernet, IPv4 and UDP headers of a broadcast UDP datagram from
// `source`:`sourcePort` to 255.255.255.255:`port` (network order) carrying
// `payload`, with both checksums: the frame is these bytes, then the payload.
std::array<std::uint8_t, kFrameHeaderSize>
broadcastFrameHeader(const std::array<std::uint8_t, 6> &sourceMac, const Ipv4 &source,
                     std::uint16_t sourcePort, std::uint16_t port,
                     std::span<const std::uint8_t> payload);

class FrameSender {
public:
    explicit FrameSender(std::size_t capacity);
    ~FrameSender();
    FrameSender(const FrameSender &) = delete;
    FrameSender &operator=(const FrameSender &) = delete;

    // Opens the packet socket (it needs CAP_NET_RAW); false when refused,
    // and build() then takes no reply.
    bool open(std::uint16_t sourcePort, int sendBuffer);
    int socket() const { return socket_; }

    // Makes message `index` the frame of this reply; false when the reply
    // cannot go as a frame: not a broadcast, an unknown interface or one that
    // is not Ethernet, longer than the interface's MTU, or no packet socket.
    bool build(std::size_t index, const Ipv4 &source, const sockaddr_in &to, int interfaceIndex,
               const Bytes &payload);
    mmsghdr *messages() { return messages_.data(); }

private:
    struct Link {
        bool ethernet = false;
        std::array<std::uint8_t, 6> mac{};
        std::size_t mtu = 0;
    };
    const Link &link(int interfaceIndex);

    int socket_ = -1;
    std::uint16_t port_ = 0;
    std::unordered_map<int, Link> links_;
    std::vector<mmsghdr> messages_;
    std::vector<std::array<iovec, 2>> iov_;
    std::vector<sockaddr_ll> to_;
    std::vector<std::array<std::uint8_t, kFrameHeaderSize>> headers_;
};

} // namespace kovasim
