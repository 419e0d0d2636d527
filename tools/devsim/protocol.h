#pragma once
// Wire side of a simulated KOVA device: the device record, the replies it sends
// and the requests it accepts. Plain C++ with no sockets and no Qt, so that every
// byte can be checked in unit tests. This code shares nothing with the KOVA
// library on purpose: a fault on one side must not be hidden by the same fault
// on the other.

#include <array>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kovasim {

using Bytes = std::vector<std::uint8_t>;
using Mac = std::array<std::uint8_t, 6>;
using Ipv4 = std::array<std::uint8_t, 4>; // network order: first dotted octet first

constexpr std::uint16_t kDevicePort = 32154; // where requests arrive
constexpr std::uint16_t kToolPort = 32153;   // where broadcast replies go
constexpr std::size_t kMaxReply = 278;       // the largest reply a tool stores
constexpr std::size_t kResultReplySize = 15; // header + device key

// Reply kinds (byte 7 of a reply).
constexpr std::uint8_t kKindSuccess = 0;
constexpr std::uint8_t kKindStatus1 = 1;
constexpr std::uint8_t kKindAuthFailed = 2;
constexpr std::uint8_t kKindDeviceInfo = 5;

// Request commands (byte 7 of a request).
constexpr std::uint8_t kCmdDiscover = 3;
constexpr std::uint8_t kCmdSetConfig = 4;
constexpr std::uint8_t kCmdSetAccount = 5;

// Network modes as they travel on the wire.
constexpr std::uint8_t kWireDhcp = 0;
constexpr std::uint8_t kWireStatic = 1;
constexpr std::uint8_t kWirePppoe = 2;

// Selector of the host-name request (command 4) and of the account request (command 5).
constexpr std::uint8_t kSelectorHostName = 3;
constexpr std::uint8_t kSelectorAccount = 1;

// Longest values a device accepts in a configuration request.
constexpr std::size_t kMaxPppoeUser = 16;
constexpr std::size_t kMaxPppoePassword = 32;
constexpr std::size_t kMaxPppoeService = 32;
constexpr std::size_t kMaxHostName = 32;
constexpr std::size_t kMaxDomainName = 64;

enum class ReplyRoute { Broadcast, Unicast };
enum class ConfigAnswer { Ok, Status1, None, Ignore };

struct Device {
    // What the device reports.
    Mac mac{};
    std::uint8_t version = 5;       // protocol version byte, 2 to 5
    std::uint8_t deviceByte = 0x01; // reply byte 8, echoed by the tool in requests
    std::uint8_t byte16 = 0x00;     // reply byte 16, which tools do not read
    std::string model;
    std::string hostName;
    std::string domainName;
    std::uint8_t networkMode = kWireStatic;
    Ipv4 ipAddress{};
    Ipv4 netMask{};
    Ipv4 gateway{};
    Ipv4 dnsServer{};
    std::string pppoeUserName;
    std::string pppoePassword;
    std::string pppoeServiceName;
    std::uint32_t mtu = 1492;
    std::uint8_t dnsMode = 0;
    Ipv4 pppoeDnsServer{};
    std::uint16_t webPort = 80;
    std::uint16_t av1Port = 554;
    std::uint16_t av2Port = 8554;
    std::uint16_t confPort = 0;
    std::uint8_t av1Protocol = 2;
    std::uint8_t av2Protocol = 1;
    std::uint8_t av1Flag = 1;
    std::uint8_t av2Flag = 0;
    std::array<std::uint8_t, 4> firmware{1, 0, 0, 0};
    std::string serialNumber; // at most 16 bytes go on the wire
    bool guest = false;
    std::string adminId = "admin";
    std::string adminPassword = "admin";
    std::uint8_t filler = 0; // unread bytes between the PPPoE DNS server and the tail

    // Faulty device-information replies, for testing how a tool copes with them.
    std::optional<std::uint16_t> lengthField; // written instead of the true length
    std::optional<std::uint16_t> sendBytes;   // cut or zero-padded to this many bytes

    // How the device behaves in the lab.
    Ipv4 address{}; // the address it answers from
    std::bitset<256> answersVersions = std::bitset<256>().set();
    int delayMs = 0;
    int jitterMs = 0;
    ReplyRoute route = ReplyRoute::Broadcast;
    ConfigAnswer configAnswer = ConfigAnswer::Ok;
    bool movesToNewAddress = false; // answers from a new static address once it is set
};

// Number of tail bytes located from the end of a device-information reply.
std::size_t tailSize(std::uint8_t version);

// The device-information reply (kind 5). Strings are clipped so that the reply
// stays within kMaxReply bytes; *clipped tells whether that happened.
Bytes encodeDeviceInfo(const Device &device, bool *clipped = nullptr);

// The device-information reply as the device sends it: encodeDeviceInfo with
// the device's reply faults (length field, cut or padding) applied.
Bytes deviceInfoDatagram(const Device &device, bool *clipped = nullptr);

// The 15-byte answer to a configuration request: header of the given kind and the device key.
Bytes encodeResult(const Device &device, std::uint8_t kind);

// Undoes the masking of a 16-byte password field: reverses it, XORs each byte
// with the mask and stops at the first zero byte (the padding).
std::string recoverSecret(const std::uint8_t *masked16, std::uint8_t mask);

struct NetworkBody {
    std::uint8_t mode = 0; // wire coding
    Ipv4 ipAddress{};
    Ipv4 netMask{};
    Ipv4 gateway{};
    Ipv4 dnsServer{};
    std::string pppoeUserName;
    std::string pppoePassword;
    std::string pppoeServiceName;
    std::uint32_t mtu = 0;
    std::uint8_t dnsMode = 0;
    Ipv4 pppoeDnsServer{};
};

struct HostBody {
    std::string hostName;
    std::string domainName;
};

struct AccountBody {
    std::uint8_t guestByte = 0;
    std::string newPassword;
    std::uint8_t mask = 0;
    bool maskLess1Ok = false;
};

// One request that passed the frame checks (magic, length field, trailer).
struct Request {
    std::uint8_t version = 0;
    std::uint16_t length = 0;
    std::uint8_t command = 0;
    std::uint8_t deviceByte = 0;
    bool trailer = false;
    std::size_t end = 0; // bytes before the trailer

    // Configuration requests only.
    Mac key{};
    std::uint8_t selector = 0;
    std::string userId;
    std::string password;
    std::uint8_t mask = 0;
    bool maskLess1Ok = false;
    std::optional<NetworkBody> network;
    std::optional<HostBody> host;
    std::optional<AccountBody> account;
    std::string bodyProblem; // why the body does not fit its command and selector
};

struct ParseResult {
    std::optional<Request> request;
    std::string error; // why the datagram was not accepted as a request
};

// Checks the frame of a received datagram and decodes it. Never reads outside
// data[0, size).
ParseResult parseRequest(const std::uint8_t *data, std::size_t size);

struct Decision {
    std::optional<std::uint8_t> kind; // reply kind to send, none for silence
    bool applied = false;
    std::string note;
};

// What a device does with a configuration request addressed to it; applies the
// change to the device when the answer is success.
Decision handleConfigRequest(Device &device, const Request &request);

// Whether the device answers a discovery that carries this version byte.
bool answersDiscovery(const Device &device, const Request &request);

// Text forms used in logs and device files.
std::string macText(const Mac &mac);
std::string ipv4Text(const Ipv4 &address);
std::string hexText(const std::uint8_t *data, std::size_t size);
bool parseMac(const std::string &text, Mac &mac);
bool parseIpv4(const std::string &text, Ipv4 &address);

} // namespace kovasim
