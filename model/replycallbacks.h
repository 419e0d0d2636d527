#pragma once
// The library's two callbacks, handed to one receiver per connection.
//
// The library takes plain function pointers and may still start a callback it
// had decided on just before a connection was closed. Each connection gets a
// callback pair of its own from a rotation (a pair is given again only after
// kSlotCount - 1 further connections), so a late call is told from a call of
// the open connection and dropped; close() waits for the calls already on
// their way, after which nothing reaches the closed connection's receiver.
// A caller that a running callback may itself be waiting for (a receiver
// that hands a call to the closing thread and waits for it) closes without
// waiting instead; a call already running then still reaches the receiver it
// started with, never a later one. The callbacks live for the whole process.

#include "kova.h"

#include <array>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>

namespace veltrona {

class ReplyReceiver {
public:
    virtual ~ReplyReceiver() = default;
    // Receive thread. Must not wait for the thread that closes the connection,
    // unless that thread makes it give up before closing (or closes without
    // waiting).
    virtual void reply(HKOVAITEM item, int32_t event) = 0;
    // Receive thread: the receive loop ended on an error.
    virtual void loopError(int32_t code) { (void)code; }
};

class ReplyCallbacks {
public:
    static constexpr std::size_t kSlotCount = 64;

    // The process-wide rotation; never destroyed.
    static ReplyCallbacks &instance();

    enum class Wait { ForCalls, No };

    // Just before the library is initialised: the configuration of a new
    // connection whose replies go to `receiver` (class id set). A connection
    // still open is closed first, as close(wait) does.
    KOVA_CONFIG open(ReplyReceiver &receiver, Wait wait = Wait::ForCalls);
    // After the library was closed: no callback of the connection starts
    // any more. With Wait::ForCalls, also returns only once none is running.
    void close(Wait wait = Wait::ForCalls);

private:
    ReplyCallbacks() = default;
    template <std::size_t N> static void replyAt(HKOVAITEM item, int32_t event, int32_t reserved);
    template <std::size_t N> static void errorAt(int32_t code, const char *text);
    template <std::size_t... N>
    static KOVA_CONFIG configAt(std::size_t slot, std::index_sequence<N...>);
    template <typename Call> void deliver(std::size_t slot, Call call);

    std::mutex mutex_;
    std::condition_variable idle_;
    std::array<std::uint64_t, kSlotCount> slotConnection_{};
    std::uint64_t open_ = 0; // 0: none
    std::uint64_t connections_ = 0;
    std::size_t lastSlot_ = kSlotCount - 1;
    ReplyReceiver *receiver_ = nullptr;
    int running_ = 0;
};

} // namespace veltrona
