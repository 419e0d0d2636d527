#pragma once
// Datagram layouts: requests, the credential block and the reply decoders.
// Everything here is a pure function over byte buffers and is bounds-checked:
// a field that does not lie wholly inside the given bytes reads as zero/empty.

#include "kova.h"
#include "record.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

namespace kova::wire {

// Header, common to requests and replies.
inline constexpr size_t kMagicOffset = 0;      // "ADCT" in requests, "KOVA" in replies
inline constexpr size_t kMagicSize = 4;        // the magic's length
inline constexpr size_t kVersionOffset = 4;    // protocol version byte
inline constexpr size_t kLengthOffset = 5;     // u16: the whole datagram's length
inline constexpr size_t kCommandOffset = 7;    // request command or reply kind
inline constexpr size_t kDeviceByteOffset = 8; // a reply's device byte, copied into requests
inline constexpr size_t kHeaderSize = 9;       // a discovery is the header alone
inline constexpr std::array<uint8_t, kMagicSize> kRequestMagic = {'A', 'D', 'C', 'T'};
inline constexpr std::array<uint8_t, kMagicSize> kReplyMagic = {'K', 'O', 'V', 'A'};
inline constexpr uint8_t kAnyDevice = 0xFF; // device byte of a discovery

// Appended to requests from version kTrailerVersion on, counted in the length.
inline constexpr size_t kTrailerSize = 3;
inline constexpr std::array<uint8_t, kTrailerSize> kTrailer = {0xE0, 0x00, 0x00};
inline constexpr uint8_t kTrailerVersion = 4;

// Device key (the MAC address), in replies and in configuration requests.
inline constexpr size_t kKeyOffset = 9; // right after the header
inline constexpr size_t kKeySize = 6;   // bytes 9 to 14

// Reply kinds (command byte of a reply).
inline constexpr uint8_t kReplySuccess = 0;
inline constexpr uint8_t kReplyStatus1 = 1;
inline constexpr uint8_t kReplyAuthFailed = 2;
inline constexpr uint8_t kReplyDeviceInfo = 5;
inline constexpr size_t kMinReply = 10; // shorter datagrams are dropped

// Configuration requests: the credential block, then the body.
inline constexpr size_t kCredentialOffset = 15; // right after the device key
inline constexpr size_t kCredentialSize = 31;   // selector, ID, password, mask and noise
inline constexpr size_t kBodyOffset = kCredentialOffset + kCredentialSize; // 46

// Inside a credential block.
inline constexpr size_t kBlockSelectorOffset = 0;   // what the request sets
inline constexpr size_t kBlockUserIdOffset = 1;     // ID, zero-padded
inline constexpr size_t kBlockUserIdSize = 8;       // longest ID
inline constexpr size_t kBlockPasswordOffset = 9;   // password padded, masked and reversed
inline constexpr size_t kBlockPasswordSize = 16;    // longest password
inline constexpr size_t kBlockMaskCheckOffset = 25; // mask minus one
inline constexpr size_t kBlockNoiseOffset = 26;     // random bytes
inline constexpr size_t kBlockNoiseSize = 4;        // drawn after the mask
inline constexpr size_t kBlockMaskOffset = 30;      // the mask itself
static_assert(kBlockMaskOffset + 1 == kCredentialSize);

// Selector bytes of the credential block beyond the network modes.
inline constexpr uint8_t kSelectorAccount = 1;
inline constexpr uint8_t kSelectorHostName = 3;

// An IPv4 address: 4 bytes, network order.
inline constexpr size_t kAddressSize = 4;
// The static addresses, in requests and replies alike: address, mask, gateway,
// DNS server, relative to the block's start.
inline constexpr size_t kIpAddressAt = 0;
inline constexpr size_t kNetMaskAt = 4;
inline constexpr size_t kGatewayAt = 8;
inline constexpr size_t kDnsServerAt = 12;
inline constexpr size_t kAddressBlockSize = 16;
// After the three counted PPPoE texts (user, password, service), in requests and
// replies alike, relative to the end of the texts.
inline constexpr size_t kMtuAt = 0; // u32
inline constexpr size_t kDnsModeAt = 4;
inline constexpr size_t kPppoeDnsServerAt = 5;
inline constexpr size_t kPppoeFixedSize = 9;
// Longest PPPoE texts of a request.
inline constexpr size_t kPppoeUserNameMax = 16;
inline constexpr size_t kPppoePasswordMax = 32;
inline constexpr size_t kPppoeServiceNameMax = 32;

// Host-name request: counted host name, then counted domain name.
inline constexpr size_t kHostNameMax = 32;
inline constexpr size_t kDomainNameMax = 64;

// Account request: guest byte, then the password part of a second credential
// block holding the new password.
inline constexpr size_t kGuestOffset = kBodyOffset;           // 46
inline constexpr size_t kNewPasswordOffset = kBodyOffset + 1; // 47
inline constexpr size_t kAccountRequestSize =
    kNewPasswordOffset + kCredentialSize - kBlockPasswordOffset;
static_assert(kAccountRequestSize == 69);

// Device-information reply body: wire mode, an unread byte, then counted model,
// host and domain names, the static address block, the PPPoE texts and the
// fields after them.
inline constexpr size_t kWireModeOffset = 15;  // network mode, static and DHCP swapped
inline constexpr size_t kModelNameOffset = 17; // the first counted name

// The reply tail, located backwards from the reply's length field: distances
// from the end. Below version kLongTailVersion the tail is guest byte, 6 unread
// bytes, AV1 port, web port, firmware version (4 bytes) and serial number;
// from that version on 8 more bytes follow (AV2 port, configuration port, the
// two protocols and the two flags), moving the earlier fields back by
// kLongTailExtra.
inline constexpr int kServiceVersion = 3; // ports and firmware from this version on
inline constexpr int kBaseVersion = 2;    // what the versions below count as
inline constexpr int kLongTailVersion = 5;
inline constexpr long kLongTailExtra = 8;
inline constexpr long kGuestFromEnd = 31;
inline constexpr long kAv1PortFromEnd = 24;
inline constexpr long kWebPortFromEnd = 22;
inline constexpr long kFirmwareFromEnd = 20;
inline constexpr long kFirmwareVersionSize = 4; // the serial number follows
inline constexpr long kAv2PortFromEnd = 8;      // the long tail only, from here on
inline constexpr long kConfPortFromEnd = 6;
inline constexpr long kAv1ProtocolFromEnd = 4;
inline constexpr long kAv2ProtocolFromEnd = 3;
inline constexpr long kAv1FlagFromEnd = 2;
inline constexpr long kAv2FlagFromEnd = 1;

// Version byte of discovery requests until kova_SetProtocolType chooses another.
inline constexpr uint8_t kDefaultVersion = 5;

// Version byte of discovery requests for a kova_SetProtocolType argument.
uint8_t ProtocolVersionForType(int32_t type);

// The send step: byte 4 becomes `version`; from version 4 on the trailer is
// appended and counted in the length field. `request` holds the request
// without trailer and its length field is rewritten from its size.
std::vector<uint8_t> Finish(std::span<const uint8_t> request, uint8_t version,
                            std::span<const uint8_t, kTrailerSize> trailer);

// The 9-byte discovery request, finished for `version` with the standard trailer.
std::vector<uint8_t> BuildDiscovery(uint8_t version);

// Mask byte and four noise bytes of one credential block, in order of drawing.
using BlockRandom = std::function<std::array<uint8_t, 1 + kBlockNoiseSize>()>;
// Default source: a generator seeded from the clock in whole seconds, so blocks
// built within the same second carry the same mask and noise.
std::array<uint8_t, 1 + kBlockNoiseSize> ClockSeededDraws();

// Fills bytes 1 to 30 of a credential block (byte 0, the selector, is left
// alone). Returns KOVA_ERR_INVALID_ARG, leaving the block untouched, when the ID
// or password is missing, the ID is over kBlockUserIdSize (8) or the password
// over kBlockPasswordSize (16) characters.
int32_t FillCredential(std::span<uint8_t, kCredentialSize> block, const char *userId,
                       const char *password, const BlockRandom &random);

// Configuration requests built from a copy of `item`. On KOVA_OK `request`
// holds the request without trailer (send it through Finish with the item's
// version and trailer). The argument checks are made in the fixed order that
// follows the socket and handle checks of the caller.
int32_t BuildSetNetwork(const KOVA_ITEM &item, const char *userId, const char *password,
                        const KOVA_NETWORK_SETTINGS *settings, const BlockRandom &random,
                        std::vector<uint8_t> &request);
int32_t BuildSetHostName(const KOVA_ITEM &item, const char *userId, const char *password,
                         const char *hostName, const char *domainName, const BlockRandom &random,
                         std::vector<uint8_t> &request);
int32_t BuildSetAccount(const KOVA_ITEM &item, const char *userId, const char *password,
                        const char *newPassword, const int32_t *guestAllowed,
                        const BlockRandom &random, std::vector<uint8_t> &request);

// Reply event for a received datagram, or nothing when it is to be dropped
// (shorter than kMinReply bytes, not "KOVA", or a kind that is not used).
std::optional<int32_t> EventForReply(std::span<const uint8_t> datagram);

// Decoders over the stored bytes of a record.
void DecodeDeviceInfo(std::span<const uint8_t> stored, const uint8_t (&source)[4],
                      KOVA_DEVICE_INFO &info);
void DecodeNetworkSettings(std::span<const uint8_t> stored, KOVA_NETWORK_SETTINGS &settings);
int32_t DecodeGuestAccount(std::span<const uint8_t> stored);
// KOVA_ERR_NOT_IMPLEMENTED (output untouched) below effective version 3.
int32_t DecodeServicePorts(std::span<const uint8_t> stored, KOVA_SERVICE_PORTS &ports);
int32_t DecodeFirmwareInfo(std::span<const uint8_t> stored, KOVA_FIRMWARE_INFO &firmware);
int32_t ReplyVersion(std::span<const uint8_t> stored);

} // namespace kova::wire
