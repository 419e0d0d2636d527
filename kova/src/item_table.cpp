#include "item_table.h"

#include "wire.h"

#include <algorithm>
#include <cstring>

namespace kova {

namespace {

// Makes room for one more entry before anything changes (this may throw),
// growing by doubling: reserve(size() + 1) on every insertion may shrink the
// table to the next prime and so rehash it each time.
template <typename Table> void RoomForOneMore(Table &table) {
    if (static_cast<float>(table.size() + 1) >
        static_cast<float>(table.bucket_count()) * table.max_load_factor())
        table.reserve(2 * (table.size() + 1));
}

} // namespace

KOVA_ITEM *RecordRegistry::Allocate() {
    RoomForOneMore(issued_);
    KOVA_ITEM &item = records_.emplace_back();
    issued_.insert(&item);
    return &item;
}

void RecordRegistry::ReleaseAll() {
    issued_.clear();
    records_.clear();
    records_.shrink_to_fit();
}

uint64_t ItemTable::KeyOf(const uint8_t *datagram) {
    uint64_t key = 0;
    for (size_t i = 0; i < wire::kKeySize; ++i)
        key = (key << 8) | datagram[wire::kKeyOffset + i];
    return key;
}

KOVA_ITEM *ItemTable::Store(RecordRegistry &registry,
                            std::span<const uint8_t, KOVA_MAX_DATAGRAM> work, size_t length,
                            const uint8_t (&source)[4]) {
    length = std::min<size_t>(length, KOVA_MAX_DATAGRAM);
    const bool deviceInfo = work[wire::kCommandOffset] == wire::kReplyDeviceInfo;
    const uint64_t key = KeyOf(work.data());
    KOVA_ITEM *target = nullptr;
    if (auto found = byKey_.find(key); found != byKey_.end()) {
        target = found->second;
    } else {
        if (byKey_.size() >= kMaxDevices)
            return nullptr;
        RoomForOneMore(byKey_);
        target = registry.Allocate();
        byKey_.emplace(key, target);
        if (!deviceInfo) {
            // A result from a device not heard from on this connection: the
            // record holds only the device key, so that it names the device
            // but cannot be mistaken for device information.
            std::memcpy(target->datagram + wire::kKeyOffset, work.data() + wire::kKeyOffset,
                        wire::kKeySize);
            target->storedLength = static_cast<uint16_t>(wire::kKeyOffset + wire::kKeySize);
        }
    }
    if (deviceInfo) {
        std::memcpy(target->datagram, work.data(), length);
        std::memset(target->datagram + length, 0, KOVA_MAX_DATAGRAM - length);
        target->storedLength = static_cast<uint16_t>(length);
    }
    std::memcpy(target->sourceAddress, source, 4);
    target->version = work[wire::kVersionOffset];
    std::copy(wire::kTrailer.begin(), wire::kTrailer.end(), target->trailer);
    return target;
}

} // namespace kova
