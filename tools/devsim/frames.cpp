#include "frames.h"

#include <arpa/inet.h>
#include <linux/if_ether.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstring>

namespace kovasim {

namespace {

// The ones' complement sum of 16-bit big-endian words, not yet folded.
std::uint32_t sum16(std::span<const std::uint8_t> bytes, std::uint32_t sum = 0) {
    std::size_t i = 0;
    for (; i + 1 < bytes.size(); i += 2)
        sum += std::uint32_t(bytes[i]) << 8 | bytes[i + 1];
    if (i < bytes.size())
        sum += std::uint32_t(bytes[i]) << 8;
    return sum;
}

std::uint16_t folded(std::uint32_t sum) {
    while (sum >> 16)
        sum = (sum & 0xffff) + (sum >> 16);
    return static_cast<std::uint16_t>(~sum);
}

void put16(std::uint8_t *at, std::uint16_t value) {
    at[0] = static_cast<std::uint8_t>(value >> 8);
    at[1] = static_cast<std::uint8_t>(value);
}

} // namespace

std::array<std::uint8_t, kFrameHeaderSize>
broadcastFrameHeader(const std::array<std::uint8_t, 6> &sourceMac, const Ipv4 &source,
                     std::uint16_t sourcePort, std::uint16_t port,
                     std::span<const std::uint8_t> payload) {
    std::array<std::uint8_t, kFrameHeaderSize> h{};
    std::memset(h.data(), 0xff, 6);
    std::memcpy(h.data() + 6, sourceMac.data(), 6);
    put16(h.data() + 12, ETH_P_IP);
    std::uint8_t *ip = h.data() + 14;
    const std::size_t udpLength = 8 + payload.size();
    ip[0] = 0x45; // version 4, five words of header
    put16(ip + 2, static_cast<std::uint16_t>(20 + udpLength));
    put16(ip + 6, 0x4000); // do not fragment, as for a datagram that fits
    ip[8] = 64;            // time to live
    ip[9] = IPPROTO_UDP;
    std::memcpy(ip + 12, source.data(), 4);
    std::memset(ip + 16, 0xff, 4);
    put16(ip + 10, folded(sum16({ip, 20})));
    std::uint8_t *udp = ip + 20;
    put16(udp, sourcePort);
    put16(udp + 2, port);
    put16(udp + 4, static_cast<std::uint16_t>(udpLength));
    // Over the pseudo-header (addresses, protocol, length), header and payload.
    std::uint32_t sum = sum16({ip + 12, 8}, IPPROTO_UDP + std::uint32_t(udpLength));
    sum = sum16({udp, 8}, sum);
    std::uint16_t check = folded(sum16(payload, sum));
    put16(udp + 6, check == 0 ? 0xffff : check); // 0 would mean "no checksum"
    return h;
}

FrameSender::FrameSender(std::size_t capacity)
    : messages_(capacity), iov_(capacity), to_(capacity), headers_(capacity) {}

FrameSender::~FrameSender() {
    if (socket_ >= 0)
        ::close(socket_);
}

bool FrameSender::open(std::uint16_t sourcePort, int sendBuffer) {
    // Protocol 0: the socket receives nothing.
    socket_ = ::socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, 0);
    if (socket_ < 0)
        return false;
    port_ = sourcePort;
    const int on = 1;
    // Straight to the interface: the lab's links have no queueing to keep.
    setsockopt(socket_, SOL_PACKET, PACKET_QDISC_BYPASS, &on, sizeof on);
    if (setsockopt(socket_, SOL_SOCKET, SO_SNDBUFFORCE, &sendBuffer, sizeof sendBuffer) != 0)
        setsockopt(socket_, SOL_SOCKET, SO_SNDBUF, &sendBuffer, sizeof sendBuffer);
    return true;
}

const FrameSender::Link &FrameSender::link(int interfaceIndex) {
    const auto known = links_.find(interfaceIndex);
    if (known != links_.end())
        return known->second;
    Link link;
    ifreq request{};
    if (if_indextoname(static_cast<unsigned>(interfaceIndex), request.ifr_name) != nullptr &&
        ioctl(socket_, SIOCGIFHWADDR, &request) == 0 &&
        request.ifr_hwaddr.sa_family == ARPHRD_ETHER) {
        std::memcpy(link.mac.data(), request.ifr_hwaddr.sa_data, 6);
        if (ioctl(socket_, SIOCGIFMTU, &request) == 0 && request.ifr_mtu > 0) {
            link.mtu = static_cast<std::size_t>(request.ifr_mtu);
            link.ethernet = true;
        }
    }
    return links_.emplace(interfaceIndex, link).first->second;
}

bool FrameSender::build(std::size_t index, const Ipv4 &source, const sockaddr_in &to,
                        int interfaceIndex, const Bytes &payload) {
    if (socket_ < 0 || interfaceIndex <= 0 || to.sin_addr.s_addr != htonl(INADDR_BROADCAST))
        return false;
    const Link &l = link(interfaceIndex);
    if (!l.ethernet || 28 + payload.size() > l.mtu)
        return false;
    headers_[index] = broadcastFrameHeader(l.mac, source, port_, ntohs(to.sin_port), payload);
    iov_[index][0] = {headers_[index].data(), kFrameHeaderSize};
    iov_[index][1] = {const_cast<std::uint8_t *>(payload.data()), payload.size()};
    sockaddr_ll &address = to_[index];
    address = sockaddr_ll{};
    address.sll_family = AF_PACKET;
    address.sll_protocol = htons(ETH_P_IP);
    address.sll_ifindex = interfaceIndex;
    address.sll_halen = 6;
    std::memset(address.sll_addr, 0xff, 6);
    msghdr &msg = messages_[index].msg_hdr;
    msg = msghdr{};
    msg.msg_name = &address;
    msg.msg_namelen = sizeof address;
    msg.msg_iov = iov_[index].data();
    msg.msg_iovlen = 2;
    return true;
}

} // namespace kovasim
