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

inline constexpr size_t kHeaderSize = 9;
inline constexpr size_t kKeyOffset = 9;
inline constexpr size_t kKeySize = 6;
inline constexpr size_t kCredentialOffset = 15;
inline constexpr size_t kCredentialSize = 31;
inline constexpr size_t kBodyOffset = 46;
inline constexpr size_t kMinReply = 10;
inline constexpr std::array<uint8_t, 3> kTrailer = {0xE0, 0x00, 0x00};

// Version byte of discovery requests for a kova_SetProtocolType argument.
uint8_t ProtocolVersionForType(int32_t type);

// The send step: byte 4 becomes `version`; from version 4 on the trailer is
// appended and counted in the length field. `request` holds the request
// without trailer and its length field is rewritten from its size.
std::vector<uint8_t> Finish(std::span<const uint8_t> request, uint8_t version,
                            std::span<const uint8_t, 3> trailer);

// The 9-byte discovery request, finished for `version` with the standard trailer.
std::vector<uint8_t> BuildDiscovery(uint8_t version);

// Mask byte and four noise bytes of one credential block, in order of drawing.
using BlockRandom = std::function<std::array<uint8_t, 5>()>;
// Default source: a generator seeded from the clock in whole seconds, so blocks
// built within the same second carry the same mask and noise.
std::array<uint8_t, 5> ClockSeededDraws();

// Fills bytes 1 to 30 of a credential block (byte 0, the selector, is left
// alone). Returns KOVA_ERR_INVALID_ARG, leaving the block untouched, when the ID
// or password is missing, the ID is over 8 or the password over 16 characters.
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
// (shorter than 10 bytes, not "KOVA", or a kind that is not used).
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
