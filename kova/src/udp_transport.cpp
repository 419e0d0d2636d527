// The real transport: one UDP socket on the local port plus an eventfd that
// wakes the receive loop, since closing a socket does not wake a blocked
// receive on Linux.
#include "kova.h"
#include "transport.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace kova {

namespace {

constexpr int kReceiveBuffer = KOVA_RECEIVE_BUFFER;
constexpr int kForcedReceiveBuffer = KOVA_RECEIVE_BUFFER_PRIVILEGED;

std::atomic<bool> forceArrivalFilter{false};

// One IPv4 address of the host, with its interface.
struct HostAddress {
    std::string name;
    unsigned index = 0;
    in_addr address{};
    in_addr netMask{};
    std::optional<in_addr> broadcast;
    unsigned flags = 0;
};

std::vector<HostAddress> HostAddresses(bool &readable) {
    std::vector<HostAddress> addresses;
    ifaddrs *list = nullptr;
    readable = getifaddrs(&list) == 0;
    if (!readable)
        return addresses;
    for (ifaddrs *a = list; a != nullptr; a = a->ifa_next) {
        if (a->ifa_addr == nullptr || a->ifa_addr->sa_family != AF_INET)
            continue;
        HostAddress entry;
        entry.name = a->ifa_name;
        entry.index = if_nametoindex(a->ifa_name);
        entry.address = reinterpret_cast<const sockaddr_in *>(a->ifa_addr)->sin_addr;
        if (a->ifa_netmask != nullptr)
            entry.netMask = reinterpret_cast<const sockaddr_in *>(a->ifa_netmask)->sin_addr;
        entry.flags = a->ifa_flags;
        // Without a broadcast address of its own, the C library reports the
        // interface's address in its place.
        if ((entry.flags & IFF_BROADCAST) != 0 && a->ifa_broadaddr != nullptr &&
            reinterpret_cast<const sockaddr_in *>(a->ifa_broadaddr)->sin_addr.s_addr !=
                entry.address.s_addr)
            entry.broadcast = reinterpret_cast<const sockaddr_in *>(a->ifa_broadaddr)->sin_addr;
        if (entry.index != 0)
            addresses.push_back(std::move(entry));
    }
    freeifaddrs(list);
    return addresses;
}

// Whether a connection without a bind address sends its broadcasts out of an
// interface with these flags: up, able to broadcast, not loopback.
bool Scanned(unsigned flags) {
    return (flags & IFF_UP) != 0 && (flags & IFF_BROADCAST) != 0 && (flags & IFF_LOOPBACK) == 0;
}

// Interface that owns `address` (network order): its name and index.
bool FindInterface(in_addr address, std::string &name, unsigned &index) {
    bool readable = false;
    for (const HostAddress &a : HostAddresses(readable)) {
        if (a.address.s_addr == address.s_addr) {
            name = a.name;
            index = a.index;
            return true;
        }
    }
    return false;
}

// Where a connection without a bind address sends its broadcasts: each
// scanned interface, with its first address.
struct Outlet {
    unsigned index = 0;
    in_addr address{};
};

std::vector<Outlet> BroadcastOutlets() {
    std::vector<Outlet> outlets;
    bool readable = false;
    for (const HostAddress &a : HostAddresses(readable)) {
        const bool listed = std::any_of(outlets.begin(), outlets.end(),
                                        [&](const Outlet &o) { return o.index == a.index; });
        if (Scanned(a.flags) && !listed)
            outlets.push_back({a.index, a.address});
    }
    return outlets;
}

class UdpTransport final : public Transport {
public:
    ~UdpTransport() override {
        if (socket_ >= 0)
            ::close(socket_);
        if (wake_ >= 0)
            ::close(wake_);
    }

    bool Open(const std::string &bindAddress) {
        unsigned index = 0;
        std::string interfaceName;
        if (!bindAddress.empty()) {
            if (inet_pton(AF_INET, bindAddress.c_str(), &local_) != 1)
                return false;
            if (!FindInterface(local_, interfaceName, index))
                return false;
        }
        socket_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (socket_ < 0 || wake_ < 0)
            return false;
        const int one = 1;
        if (::setsockopt(socket_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0)
            return false;
        // Every datagram tells the interface it arrived on.
        if (::setsockopt(socket_, IPPROTO_IP, IP_PKTINFO, &one, sizeof one) != 0)
            return false;
        if (index != 0) {
            // Without the privilege for SO_BINDTODEVICE, replies are filtered
            // by the interface they arrived on.
            if (forceArrivalFilter.load() ||
                ::setsockopt(socket_, SOL_SOCKET, SO_BINDTODEVICE, interfaceName.c_str(),
                             static_cast<socklen_t>(interfaceName.size())) != 0)
                filterIndex_ = index;
            sendIndex_ = index;
        } else {
            outlets_ = BroadcastOutlets();
        }
        sockaddr_in any{};
        any.sin_family = AF_INET;
        any.sin_port = htons(KOVA_LOCAL_PORT);
        any.sin_addr.s_addr = htonl(INADDR_ANY);
        if (::bind(socket_, reinterpret_cast<const sockaddr *>(&any), sizeof any) != 0)
            return false;
        if (::setsockopt(socket_, SOL_SOCKET, SO_BROADCAST, &one, sizeof one) != 0)
            return false;
        // A burst of thousands of replies must fit; not fatal when refused.
        // With the privilege to pass the system's cap, the buffer holds a
        // whole /16 answering within a second for about 200 ms (a receive
        // thread kept from running that long on a busy machine loses
        // nothing); without it, what the cap allows of kReceiveBuffer.
        int forced = kForcedReceiveBuffer;
        if (::setsockopt(socket_, SOL_SOCKET, SO_RCVBUFFORCE, &forced, sizeof forced) != 0) {
            int size = kReceiveBuffer;
            ::setsockopt(socket_, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
        }
        // Each datagram then tells how many the socket dropped so far.
        ::setsockopt(socket_, SOL_SOCKET, SO_RXQ_OVFL, &one, sizeof one);
        return true;
    }

    bool Broadcast(std::span<const uint8_t> datagram) override {
        if (sendIndex_ != 0)
            return SendThrough(datagram, sendIndex_, local_);
        if (outlets_.empty())
            return SendThrough(datagram, 0, in_addr{}); // where routing sends it
        bool sent = false;
        for (const Outlet &outlet : outlets_)
            sent = SendThrough(datagram, outlet.index, outlet.address) || sent;
        return sent;
    }

    bool BroadcastVia(std::span<const uint8_t> datagram, unsigned interfaceIndex) override {
        if (sendIndex_ != 0 || interfaceIndex == 0)
            return Broadcast(datagram);
        in_addr source{}; // none: the kernel takes the interface's own address
        for (const Outlet &outlet : outlets_)
            if (outlet.index == interfaceIndex)
                source = outlet.address;
        return SendThrough(datagram, interfaceIndex, source);
    }

    // Hands out the datagrams of one recvmmsg call one at a time. Under a
    // flood of replies it costs two calls per batch, not two per datagram:
    // a batch that emptied the socket (more than one datagram, fewer than a
    // full batch) is followed by a short pause in which the next replies
    // gather, then by the next receive; only a receive that finds nothing
    // waits in poll.
    Received Receive(std::span<uint8_t> buffer) override {
        Received result;
        for (;;) {
            if (woken_.load(std::memory_order_acquire)) {
                result.status = Received::Status::Woken;
                return result;
            }
            while (next_ < filled_) {
                const Slot &slot = slots_[next_];
                msghdr &msg = messages_[next_].msg_hdr;
                const size_t length = messages_[next_].msg_len;
                ++next_;
                const unsigned arrival = ArrivalIndex(msg);
                if (filterIndex_ != 0 && arrival != filterIndex_)
                    continue;
                std::memcpy(buffer.data(), slot.data, std::min({length, buffer.size(), kSlotSize}));
                result.status = Received::Status::Datagram;
                result.length = length;
                std::memcpy(result.sender, &slot.from.sin_addr.s_addr, 4);
                result.interfaceIndex = arrival;
                result.systemDrops = SystemDrops(msg);
                const std::string &name = InterfaceName(arrival);
                std::memcpy(result.interfaceName, name.c_str(),
                            std::min(name.size(), sizeof result.interfaceName - 1));
                return result;
            }
            next_ = filled_ = 0;
            if (gather_) {
                // Replies keep coming: let a few more gather for the next
                // batch. A wake still ends the pause.
                gather_ = false;
                pollfd wake{wake_, POLLIN, 0};
                const timespec pause{0, kGatherNs};
                if (::ppoll(&wake, 1, &pause, nullptr) > 0)
                    woken_.store(true, std::memory_order_release);
                continue;
            }
            const int received = ReceiveBatch();
            if (received > 0) {
                filled_ = static_cast<size_t>(received);
                gather_ = received > 1 && filled_ < kBatch;
                continue;
            }
            if (received < 0 && errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) {
                result.status = Received::Status::Failed;
                result.error = errno;
                return result;
            }
            // Nothing waiting: block until a datagram or a wake comes.
            pollfd fds[2] = {{wake_, POLLIN, 0}, {socket_, POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0 && errno != EINTR) {
                result.status = Received::Status::Failed;
                result.error = errno;
                return result;
            }
            if (fds[0].revents != 0)
                woken_.store(true, std::memory_order_release);
        }
    }

    void Wake() override {
        woken_.store(true, std::memory_order_release);
        const uint64_t one = 1;
        // The counter cannot overflow from a handful of wakes; nothing to handle.
        [[maybe_unused]] const ssize_t n = ::write(wake_, &one, sizeof one);
    }

private:
    static constexpr size_t kBatch = 256;
    static constexpr long kGatherNs = 1'000'000; // 135 replies at 135,000 a second
    static constexpr size_t kSlotSize = KOVA_MAX_DATAGRAM;

    // One datagram of a batch: its first kSlotSize bytes, sender and control data.
    struct Slot {
        uint8_t data[kSlotSize];
        sockaddr_in from;
        iovec iov;
        alignas(
            cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo)) + CMSG_SPACE(sizeof(uint32_t))];
    };

    // Reads up to kBatch waiting datagrams without blocking; their count, or
    // -1 with errno set.
    int ReceiveBatch() {
        for (size_t i = 0; i < kBatch; ++i) {
            Slot &slot = slots_[i];
            slot.iov = {slot.data, sizeof slot.data};
            msghdr &msg = messages_[i].msg_hdr;
            msg = msghdr{};
            msg.msg_name = &slot.from;
            msg.msg_namelen = sizeof slot.from;
            msg.msg_iov = &slot.iov;
            msg.msg_iovlen = 1;
            msg.msg_control = slot.control;
            msg.msg_controllen = sizeof slot.control;
            messages_[i].msg_len = 0;
        }
        return ::recvmmsg(socket_, messages_, kBatch, MSG_TRUNC | MSG_DONTWAIT, nullptr);
    }

    static uint32_t SystemDrops(msghdr &msg) {
        for (cmsghdr *c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
            if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SO_RXQ_OVFL) {
                uint32_t drops = 0;
                std::memcpy(&drops, CMSG_DATA(c), sizeof drops);
                return drops;
            }
        }
        return 0;
    }

    static unsigned ArrivalIndex(msghdr &msg) {
        for (cmsghdr *c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
            if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
                in_pktinfo info;
                std::memcpy(&info, CMSG_DATA(c), sizeof info);
                return static_cast<unsigned>(info.ipi_ifindex);
            }
        }
        return 0;
    }

    // The name of an interface index, looked up once per index (receive thread only).
    const std::string &InterfaceName(unsigned index) {
        auto found = names_.find(index);
        if (found == names_.end()) {
            char name[IF_NAMESIZE] = {};
            found =
                names_.emplace(index, index != 0 && if_indextoname(index, name) ? name : "").first;
        }
        return found->second;
    }

    // One datagram to 255.255.255.255, out of interface `index` from `source`
    // (IP_PKTINFO), or as routing decides when the index is 0.
    bool SendThrough(std::span<const uint8_t> datagram, unsigned index, in_addr source) {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(KOVA_DEVICE_PORT);
        to.sin_addr.s_addr = htonl(INADDR_BROADCAST);
        iovec iov{const_cast<uint8_t *>(datagram.data()), datagram.size()};
        msghdr msg{};
        msg.msg_name = &to;
        msg.msg_namelen = sizeof to;
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
        if (index != 0) {
            msg.msg_control = control;
            msg.msg_controllen = sizeof control;
            cmsghdr *c = CMSG_FIRSTHDR(&msg);
            c->cmsg_level = IPPROTO_IP;
            c->cmsg_type = IP_PKTINFO;
            c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
            in_pktinfo info{};
            info.ipi_ifindex = static_cast<int>(index);
            info.ipi_spec_dst = source;
            std::memcpy(CMSG_DATA(c), &info, sizeof info);
        }
        ssize_t sent;
        do {
            sent = ::sendmsg(socket_, &msg, MSG_NOSIGNAL);
        } while (sent < 0 && errno == EINTR);
        return sent == static_cast<ssize_t>(datagram.size());
    }

    int socket_ = -1;
    int wake_ = -1;
    in_addr local_{};
    unsigned sendIndex_ = 0;   // bound to an address: its interface
    unsigned filterIndex_ = 0; // bound without SO_BINDTODEVICE: replies kept from here only
    std::vector<Outlet> outlets_;
    std::unordered_map<unsigned, std::string> names_;
    std::atomic<bool> woken_{false};
    // The latest batch: messages_[next_ .. filled_) are still to be handed out.
    std::unique_ptr<Slot[]> slots_ = std::make_unique<Slot[]>(kBatch);
    mmsghdr messages_[kBatch] = {};
    size_t next_ = 0;
    size_t filled_ = 0;
    bool gather_ = false; // the latest batch emptied the socket of a stream of replies
};

} // namespace

void UseArrivalInterfaceFilter(bool enable) {
    forceArrivalFilter.store(enable);
}

std::unique_ptr<Transport> OpenUdpTransport(const std::string &bindAddress, int32_t &error) {
    auto transport = std::make_unique<UdpTransport>();
    if (!transport->Open(bindAddress)) {
        error = KOVA_ERR_SOCKET;
        return nullptr;
    }
    error = KOVA_OK;
    return transport;
}

} // namespace kova

namespace {

void CopyAddress(char (&field)[16], in_addr address) {
    inet_ntop(AF_INET, &address, field, sizeof field);
}

} // namespace

int32_t kova_GetInterfaces(KOVA_INTERFACE *list, int32_t capacity, int32_t *count) {
    if (count == nullptr || capacity < 0 || (list == nullptr && capacity > 0))
        return KOVA_ERR_INVALID_ARG;
    bool readable = false;
    const std::vector<kova::HostAddress> addresses = kova::HostAddresses(readable);
    if (!readable)
        return KOVA_ERR_GENERAL;
    *count = static_cast<int32_t>(addresses.size());
    for (std::size_t i = 0; i < addresses.size() && i < static_cast<std::size_t>(capacity); ++i) {
        const kova::HostAddress &a = addresses[i];
        KOVA_INTERFACE &out = list[i];
        out = KOVA_INTERFACE{};
        std::memcpy(out.name, a.name.c_str(), std::min(a.name.size(), sizeof out.name - 1));
        CopyAddress(out.address, a.address);
        CopyAddress(out.netMask, a.netMask);
        if (a.broadcast)
            CopyAddress(out.broadcast, *a.broadcast);
        out.flags = a.flags;
        out.scanned = kova::Scanned(a.flags) ? 1 : 0;
    }
    return KOVA_OK;
}
