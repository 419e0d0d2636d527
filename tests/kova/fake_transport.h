#pragma once
// An in-memory transport: tests push datagrams (or failures) and read back
// what the library sent.

#include "transport.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace kova::test {

struct Endpoint {
    std::mutex mutex;
    std::condition_variable cv;
    struct Incoming {
        std::vector<uint8_t> bytes;
        std::array<uint8_t, 4> sender;
        bool failure;
    };
    std::deque<Incoming> inbox;
    std::vector<std::vector<uint8_t>> sent;
    std::string bindAddress;
    bool woken = false;
    bool refuseSend = false;

    void Push(std::vector<uint8_t> bytes, std::array<uint8_t, 4> sender = {10, 0, 0, 5}) {
        std::lock_guard lock(mutex);
        inbox.push_back({std::move(bytes), sender, false});
        cv.notify_all();
    }
    void PushFailure() {
        std::lock_guard lock(mutex);
        inbox.push_back({{}, {}, true});
        cv.notify_all();
    }
    std::vector<std::vector<uint8_t>> Sent() {
        std::lock_guard lock(mutex);
        return sent;
    }
};

class FakeTransport final : public Transport {
public:
    explicit FakeTransport(std::shared_ptr<Endpoint> e) : e_(std::move(e)) {}
    bool Broadcast(std::span<const uint8_t> datagram) override {
        std::lock_guard lock(e_->mutex);
        if (e_->refuseSend)
            return false;
        e_->sent.emplace_back(datagram.begin(), datagram.end());
        return true;
    }
    Received Receive(std::span<uint8_t> buffer) override {
        std::unique_lock lock(e_->mutex);
        e_->cv.wait(lock, [&] { return e_->woken || !e_->inbox.empty(); });
        Received r;
        if (e_->woken) {
            r.status = Received::Status::Woken;
            return r;
        }
        Endpoint::Incoming in = std::move(e_->inbox.front());
        e_->inbox.pop_front();
        if (in.failure)
            return r; // Failed
        r.status = Received::Status::Datagram;
        r.length = in.bytes.size();
        if (!in.bytes.empty())
            std::memcpy(buffer.data(), in.bytes.data(), std::min(buffer.size(), in.bytes.size()));
        std::memcpy(r.sender, in.sender.data(), 4);
        return r;
    }
    void Wake() override {
        std::lock_guard lock(e_->mutex);
        e_->woken = true;
        e_->cv.notify_all();
    }

private:
    std::shared_ptr<Endpoint> e_;
};

} // namespace kova::test
