#include "replycallbacks.h"

#include <utility>

namespace veltrona {

ReplyCallbacks &ReplyCallbacks::instance() {
    // Never destroyed: a receive thread may still be on its way in when the
    // process ends.
    static ReplyCallbacks *callbacks = new ReplyCallbacks();
    return *callbacks;
}

template <std::size_t N>
void ReplyCallbacks::replyAt(HKOVAITEM item, int32_t event, int32_t /*reserved*/) {
    instance().deliver(N, [&](ReplyReceiver &r) { r.reply(item, event); });
}

template <std::size_t N> void ReplyCallbacks::errorAt(int32_t code, const char * /*text*/) {
    instance().deliver(N, [&](ReplyReceiver &r) { r.loopError(code); });
}

template <std::size_t... N>
KOVA_CONFIG ReplyCallbacks::configAt(std::size_t slot, std::index_sequence<N...>) {
    static constexpr KOVA_REPLY_CALLBACK replies[] = {&ReplyCallbacks::replyAt<N>...};
    static constexpr KOVA_ERROR_CALLBACK errors[] = {&ReplyCallbacks::errorAt<N>...};
    return KOVA_CONFIG{replies[slot], errors[slot], KOVA_CLASS_ID};
}

template <typename Call> void ReplyCallbacks::deliver(std::size_t slot, Call call) {
    ReplyReceiver *receiver = nullptr;
    {
        std::lock_guard lock(mutex_);
        if (open_ == 0 || slotConnection_[slot] != open_)
            return; // a closed connection's late call
        receiver = receiver_;
        ++running_;
    }
    call(*receiver);
    std::lock_guard lock(mutex_);
    if (--running_ == 0)
        idle_.notify_all();
}

KOVA_CONFIG ReplyCallbacks::open(ReplyReceiver &receiver, Wait wait) {
    close(wait);
    std::lock_guard lock(mutex_);
    lastSlot_ = (lastSlot_ + 1) % kSlotCount;
    open_ = ++connections_;
    slotConnection_[lastSlot_] = open_;
    receiver_ = &receiver;
    return configAt(lastSlot_, std::make_index_sequence<kSlotCount>());
}

void ReplyCallbacks::close(Wait wait) {
    std::unique_lock lock(mutex_);
    open_ = 0;
    receiver_ = nullptr;
    if (wait == Wait::ForCalls)
        idle_.wait(lock, [this] { return running_ == 0; });
}

} // namespace veltrona
