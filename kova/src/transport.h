#pragma once
// The socket behind a connection, replaceable so that the receive loop can run
// without a network.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

namespace kova {

struct Received {
    enum class Status { Datagram, Woken, Failed };
    Status status = Status::Failed;
    size_t length = 0;   // full size of the datagram, even when it did not fit
    uint8_t sender[4]{}; // IPv4 source address, network order
    int error = 0;       // errno of a failure
    // The interface the datagram arrived on: index and name; 0 and empty when
    // the transport cannot tell.
    unsigned interfaceIndex = 0;
    char interfaceName[16]{};
    // Datagrams the system dropped on this socket so far (receive buffer
    // full); 0 when the transport cannot tell.
    uint32_t systemDrops = 0;
};

class Transport {
public:
    virtual ~Transport() = default;
    // Sends one datagram to 255.255.255.255, the device port. False on failure.
    virtual bool Broadcast(std::span<const uint8_t> datagram) = 0;
    // Sends one datagram to 255.255.255.255 out of the interface with this
    // index only, when the transport listens on every interface and the index
    // is known (not 0); otherwise as Broadcast.
    virtual bool BroadcastVia(std::span<const uint8_t> datagram, unsigned /*interfaceIndex*/) {
        return Broadcast(datagram);
    }
    // Blocks until a datagram arrives (its first bytes copied into `buffer`), the
    // transport is woken, or the socket fails. Once woken, it stays woken.
    virtual Received Receive(std::span<uint8_t> buffer) = 0;
    // Makes the current and every later Receive return Woken. Thread-safe.
    virtual void Wake() = 0;
};

// Opens a transport bound to the local port: `bindAddress` empty for any
// address, else one of this host's IPv4 addresses. With any address, a
// broadcast goes out once on every interface that is up, has an IPv4 address
// and can broadcast (loopback aside), as the interfaces are at opening; when
// there is none, it goes where routing sends it. Returns null on failure and
// sets `error` to a KOVA error code.
using TransportFactory =
    std::function<std::unique_ptr<Transport>(const std::string &bindAddress, int32_t &error)>;

// The real UDP socket.
std::unique_ptr<Transport> OpenUdpTransport(const std::string &bindAddress, int32_t &error);

// Makes later UDP transports skip SO_BINDTODEVICE and filter replies by their
// arrival interface instead, as they do without the privilege for it.
void UseArrivalInterfaceFilter(bool enable);

} // namespace kova
