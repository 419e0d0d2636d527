#pragma once
// Internal hooks of the library for tests, fuzzing and benchmarks.

#include "item_table.h"
#include "transport.h"
#include "wire.h"

#include <chrono>
#include <cstddef>

namespace kova::internal {

// Replaces the socket of later initialisations; an empty factory restores the
// real UDP socket.
void SetTransportFactory(TransportFactory factory);

// Replaces the mask and noise source of credential blocks; empty restores the
// clock-seeded default.
void SetBlockRandom(wire::BlockRandom random);

// Receive threads of closed connections that have not been joined yet.
size_t OutstandingReceiveThreads();

// Joins the receive threads that have ended, waiting up to `wait` for the rest.
// Returns how many remain.
size_t ReapReceiveThreads(std::chrono::milliseconds wait);

// Number of records created during the run.
size_t RecordCount();

// Replies dropped during the run because they came from a new device when the
// connection's item table was full (ItemTable::kMaxDevices).
size_t DroppedReplies();

} // namespace kova::internal
