#pragma once
// The library's two callbacks, handed to one receiver per connection.
//
// The library takes plain function pointers and may still start a callback it
// had decided on just before a connection was closed. Each connection gets a
// callback pair of its own from a rotation (a pair is given again only after
// kSlotCount - 1 further connections), so a late call is told from a call of
// the open connection and dropped; close() waits for the calls already on
// their way, after which nothing reaches the closed connection's receiver.
// The callbacks live for the whole process.

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
    // Receive thread. Must not wait for the thread that closes the connection.
    virtual void reply(HKOVAITEM item, int32_t event) = 0;
    // Receive thread: the receive loop ended on an error.
    virtual void loopError(int32_t code) { (void)code; }
};

class ReplyCallbacks {
public:
    static constexpr std::size_t kSlotCount = 64;

    // The process-wide rotation; never destroyed.
    static ReplyCallbacks &instance();

    // Just before the library is initialised: the configuration of a new
    // connection whose replies go to `receiver` (class id set). A connection
    // still open is closed first.
    KOVA_CONFIG open(ReplyReceiver &receiver);
    // After the library was closed: returns once no callback of the
    // connection is running, and none reaches its receiver afterwards.
    void close();

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
