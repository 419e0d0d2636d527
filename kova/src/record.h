#pragma once
// The stored reply record behind every HKOVAITEM handle.

#include "kova.h"

#include <cstddef>
#include <cstdint>
#include <span>

struct KOVA_ITEM {
    uint8_t datagram[KOVA_MAX_DATAGRAM]; // latest device-information reply, zero after storedLength
    uint8_t sourceAddress[4];            // IPv4 source of the latest reply, network order
    uint8_t version;                     // version byte of the latest reply from the device
    uint8_t trailer[3];                  // appended to requests of version 4 or more
    uint16_t storedLength;               // how many datagram bytes came off the wire
    unsigned arrivalIndex;               // interface of the latest reply (0: unknown)
    char arrivalInterface[16];           // its name, zero-terminated; empty when unknown
};

namespace kova {

// The part of a record's datagram that the decoders may read: the bytes received.
inline std::span<const uint8_t> StoredBytes(const KOVA_ITEM &item) {
    const size_t n = item.storedLength <= KOVA_MAX_DATAGRAM ? item.storedLength : KOVA_MAX_DATAGRAM;
    return {item.datagram, n};
}

} // namespace kova
