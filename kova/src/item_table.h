#pragma once
// Storage of device replies: the process-wide record registry and the item
// table of one connection.

#include "record.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <span>
#include <unordered_map>
#include <unordered_set>

namespace kova {

// Owns every record handed out during the run. Records never move (a deque
// only appends) and are released only by ReleaseAll, at process exit.
class RecordRegistry {
public:
    KOVA_ITEM *Allocate(); // zeroed; throws std::bad_alloc
    bool Contains(const KOVA_ITEM *item) const { return issued_.count(item) != 0; }
    size_t Size() const { return records_.size(); }
    void ReleaseAll();

private:
    std::deque<KOVA_ITEM> records_;
    std::unordered_set<const KOVA_ITEM *> issued_;
};

// The records of one connection, found by device key through a hash index.
// A table holds at most kMaxDevices records: anyone on the segment can send
// replies with made-up keys, and every record lives until the process ends.
class ItemTable {
public:
    // Far above the devices of any real segment; a record takes about 300 bytes,
    // so a full table holds about 20 MB.
    static constexpr size_t kMaxDevices = 65536;

    // Stores an accepted reply of `length` bytes held at the start of `work`
    // (a buffer of KOVA_MAX_DATAGRAM bytes, zero after `length`) and returns its
    // record. A device-information reply replaces the record's datagram; a
    // result keeps it and refreshes only source, version and trailer; a result
    // from a device with no record takes a new record that holds only the
    // device key. A reply from a new device when the table is
    // full is dropped: nullptr.
    KOVA_ITEM *Store(RecordRegistry &registry, std::span<const uint8_t, KOVA_MAX_DATAGRAM> work,
                     size_t length, const uint8_t (&source)[4]);

private:
    static uint64_t KeyOf(const uint8_t *datagram);

    std::unordered_map<uint64_t, KOVA_ITEM *> byKey_;
};

} // namespace kova
