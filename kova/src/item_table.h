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
// When records share a key, the one that took it first is found.
class ItemTable {
public:
    // Stores an accepted reply of `length` bytes held at the start of `work`
    // (a buffer of KOVA_MAX_DATAGRAM bytes, zero after `length`) and returns its
    // record. A device-information reply replaces the record's datagram; a
    // result keeps it and refreshes only source, version and trailer; a result
    // from a device with no record takes a new, zeroed record.
    KOVA_ITEM *Store(RecordRegistry &registry, std::span<const uint8_t, KOVA_MAX_DATAGRAM> work,
                     size_t length, const uint8_t (&source)[4]);

private:
    static uint64_t KeyOf(const uint8_t *datagram);

    std::unordered_map<uint64_t, KOVA_ITEM *> byKey_;
};

} // namespace kova
