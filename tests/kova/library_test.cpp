// The public operations over an in-memory transport: connection state, check
// orders, the receive loop, the item table and closing.
#include "kova.h"
#include "library.h"
#include "reply_builder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <future>
#include <thread>

using namespace kova;
using namespace std::chrono_literals;
using kova::test::BuildReply;
using kova::test::ReplyFields;
using Bytes = std::vector<uint8_t>;

namespace {

// The far side of a fake transport: datagrams to deliver (an empty optional is
// a socket failure) and what the library sent.
struct Endpoint {
    std::mutex mutex;
    std::condition_variable cv;
    std::deque<std::optional<Bytes>> inbox;
    std::atomic<unsigned> arrival{0}; // interface index of what arrives, 0 unknown
    std::vector<Bytes> sent;
    std::vector<unsigned> sentVia; // interface index of each send, 0 for every one
    std::string bindAddress;
    bool woken = false, refuseSend = false;

    void Push(std::optional<Bytes> d) {
        std::lock_guard lock(mutex);
        inbox.push_back(std::move(d));
        cv.notify_all();
    }
    std::vector<Bytes> Sent() {
        std::lock_guard lock(mutex);
        return sent;
    }
};

class FakeTransport final : public Transport {
public:
    explicit FakeTransport(std::shared_ptr<Endpoint> e) : e_(std::move(e)) {}
    bool Broadcast(std::span<const uint8_t> datagram) override { return BroadcastVia(datagram, 0); }
    bool BroadcastVia(std::span<const uint8_t> datagram, unsigned index) override {
        std::lock_guard lock(e_->mutex);
        e_->sent.emplace_back(datagram.begin(), datagram.end());
        e_->sentVia.push_back(index);
        return !e_->refuseSend;
    }
    Received Receive(std::span<uint8_t> buffer) override {
        std::unique_lock lock(e_->mutex);
        e_->cv.wait(lock, [&] { return e_->woken || !e_->inbox.empty(); });
        Received r; // queued datagrams come first, as a socket may hold them at close
        if (e_->inbox.empty()) {
            r.status = Received::Status::Woken;
        } else if (auto d = std::move(e_->inbox.front()); e_->inbox.pop_front(), d) {
            r.status = Received::Status::Datagram;
            r.length = d->size();
            std::copy_n(d->begin(), std::min(buffer.size(), d->size()), buffer.begin());
            std::memcpy(r.sender, "\x0A\x00\x00\x05", 4);
            r.interfaceIndex = e_->arrival;
            std::snprintf(r.interfaceName, sizeof r.interfaceName, "if%u", r.interfaceIndex);
        }
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

// What the callbacks saw; the callbacks are plain functions, so this is global.
struct Recorder {
    std::mutex mutex;
    std::condition_variable cv;
    std::vector<std::pair<HKOVAITEM, int32_t>> events;
    std::vector<int32_t> errors;
    std::function<void()> hook;

    bool Wait(size_t events_, size_t errors_ = 0) {
        std::unique_lock lock(mutex);
        return cv.wait_for(lock, 2s,
                           [&] { return events.size() >= events_ && errors.size() >= errors_; });
    }
    size_t Count() {
        std::lock_guard lock(mutex);
        return events.size();
    }
} rec;

void OnReply(HKOVAITEM item, int32_t event, int32_t reserved) {
    EXPECT_EQ(reserved, 0);
    std::function<void()> hook;
    {
        std::lock_guard lock(rec.mutex);
        rec.events.emplace_back(item, event);
        hook = rec.hook;
        rec.cv.notify_all();
    }
    if (hook)
        hook();
}

void OnError(int32_t code, const char *text) {
    EXPECT_STREQ(text, kova_ErrorText(code));
    std::lock_guard lock(rec.mutex);
    rec.errors.push_back(code);
    rec.cv.notify_all();
}

const KOVA_CONFIG kConfig{OnReply, OnError, KOVA_CLASS_ID};

Bytes Kind(ReplyFields s, uint8_t kind) {
    s.kind = kind;
    s.version = 9;
    return BuildReply(s);
}

class Library : public ::testing::Test {
protected:
    void SetUp() override {
        rec.events.clear(), rec.errors.clear(), rec.hook = nullptr;
        internal::SetTransportFactory([this](const std::string &address, int32_t &error) {
            endpoints_.push_back(std::make_shared<Endpoint>());
            endpoints_.back()->bindAddress = address;
            error = KOVA_OK;
            return std::make_unique<FakeTransport>(endpoints_.back());
        });
        internal::SetBlockRandom([] { return std::array<uint8_t, 5>{0x5A, 1, 2, 3, 4}; });
    }
    void TearDown() override {
        kova_Close();
        internal::SetTransportFactory(nullptr);
        internal::SetBlockRandom(nullptr);
        EXPECT_EQ(internal::ReapReceiveThreads(2000ms), 0u) << "receive threads are joined";
    }
    Endpoint &Net() { return *endpoints_.back(); }
    // Initialises, scans, and returns the handle of the device that answers.
    HKOVAITEM Discover(const ReplyFields &fields = {}) {
        EXPECT_EQ(kova_Initialise(&kConfig), KOVA_OK);
        EXPECT_EQ(kova_SendDiscovery(), KOVA_OK);
        const size_t before = rec.Count();
        Net().Push(BuildReply(fields));
        EXPECT_TRUE(rec.Wait(before + 1));
        return rec.events.back().first;
    }
    std::vector<std::shared_ptr<Endpoint>> endpoints_; // touched by the test thread only
};

} // namespace

TEST_F(Library, ErrorTextsVersionAndInitialisationChecks) {
    EXPECT_STREQ(kova_ErrorText(3), "kova_Initialise() has not been called");
    EXPECT_STREQ(kova_ErrorText(8), "HKOVAITEM handler is not correct");
    EXPECT_STREQ(kova_ErrorText(9), "General Error");
    const KOVA_VERSION v = kova_GetVersion();
    EXPECT_EQ((std::array{v.major, v.minor, v.release, v.build}), (std::array{3, 1, 0, 0}));

    for (auto [classId, code] : {std::pair{3, 2}, {7, 7}, {0, 7}}) {
        const KOVA_CONFIG bad{OnReply, nullptr, classId};
        EXPECT_EQ(kova_Initialise(&bad), code);
        EXPECT_EQ(kova_SendDiscovery(), KOVA_ERR_NOT_INITIALISED);
    }
    EXPECT_EQ(kova_InitialiseEx(&kConfig, "10.20.30.40.50.60"), KOVA_ERR_INVALID_ARG);
    EXPECT_EQ(kova_InitialiseEx(&kConfig, nullptr), KOVA_ERR_INVALID_ARG);
    EXPECT_EQ(kova_Initialise(nullptr), KOVA_ERR_INVALID_ARG);
    EXPECT_TRUE(endpoints_.empty()) << "no socket for a refused initialisation";
    EXPECT_EQ(internal::OutstandingReceiveThreads(), 0u);
}

TEST_F(Library, DiscoveryUsesTheProtocolVersionThatInitialisationResets) {
    ASSERT_EQ(kova_InitialiseEx(&kConfig, "192.168.100.200"), KOVA_OK);
    EXPECT_EQ(Net().bindAddress, "192.168.100.200");
    kova_SetProtocolType(2);
    ASSERT_EQ(kova_SendDiscovery(), KOVA_OK);
    kova_SetProtocolType(3);
    ASSERT_EQ(kova_SendDiscovery(), KOVA_OK);
    EXPECT_EQ(Net().Sent(), (std::vector<Bytes>{wire::BuildDiscovery(3), wire::BuildDiscovery(4)}));
    ASSERT_EQ(kova_Initialise(&kConfig), KOVA_OK);
    EXPECT_EQ(Net().bindAddress, "");
    ASSERT_EQ(kova_SendDiscovery(), KOVA_OK);
    EXPECT_EQ(Net().Sent(), std::vector<Bytes>{wire::BuildDiscovery(5)});
    Net().refuseSend = true;
    EXPECT_EQ(kova_SendDiscovery(), KOVA_ERR_SOCKET);
}

TEST_F(Library, RequestsCheckSocketThenHandleThenArguments) {
    HKOVAITEM item = Discover();
    kova_Close();
    KOVA_NETWORK_SETTINGS s{};
    const int32_t guest = 0;
    EXPECT_EQ(kova_SetNetworkSettings(nullptr, nullptr, nullptr, nullptr), 3);
    EXPECT_EQ(kova_SetHostName(nullptr, nullptr, nullptr, nullptr, nullptr), 3);
    EXPECT_EQ(kova_SetAccount(nullptr, nullptr, nullptr, nullptr, nullptr), 3);
    EXPECT_EQ(kova_SendDiscovery(), 3);
    ASSERT_EQ(kova_Initialise(&kConfig), KOVA_OK);
    EXPECT_EQ(kova_SetNetworkSettings(nullptr, nullptr, nullptr, nullptr), 8);
    EXPECT_EQ(kova_SetHostName(nullptr, "123456789", "", "", ""), 8);
    EXPECT_EQ(kova_SetAccount(reinterpret_cast<HKOVAITEM>(&s), "a", "b", "c", &guest), 8)
        << "a handle the library never issued";
    EXPECT_EQ(kova_SetNetworkSettings(item, "", "pw", &s), 4);
    EXPECT_EQ(kova_SetHostName(item, "", "", "h", "d"), KOVA_OK) << "empty ID is fine here";
    EXPECT_EQ(Net().Sent().size(), 1u);

    EXPECT_EQ(kova_GetDeviceInfo(nullptr, nullptr), 8);
    EXPECT_EQ(kova_GetServicePorts(nullptr, nullptr), 8);
    EXPECT_EQ(kova_GetFirmwareInfo(item, nullptr), 4);
    EXPECT_EQ(kova_GetGuestAccount(item, nullptr), 4);
    int32_t flag = 0, version = 0;
    EXPECT_EQ(kova_GetItemFlag(item, &flag) + kova_GetReplyVersion(item, &version), KOVA_OK);
    EXPECT_EQ(flag * 10 + version, 15);
}

TEST_F(Library, RequestsFromAnOldHandleTakeItsVersionAndKeyAndStartTheLoop) {
    ReplyFields fields;
    fields.version = 3;
    HKOVAITEM item = Discover(fields);
    kova_Close();
    ASSERT_EQ(kova_Initialise(&kConfig), KOVA_OK); // no discovery: no loop yet
    KOVA_NETWORK_SETTINGS s{};
    s.mode = KOVA_MODE_DHCP;
    ASSERT_EQ(kova_SetNetworkSettings(item, "admin", "pw", &s), KOVA_OK);
    const Bytes sent = Net().Sent().at(0);
    ASSERT_EQ(sent.size(), 46u);
    EXPECT_EQ(Bytes(sent.begin() + 8, sent.begin() + 15),
              (Bytes{0x11, 0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}));
    EXPECT_EQ(sent[45], 0x5A);
    Net().Push(Kind(fields, 0));
    ASSERT_TRUE(rec.Wait(2)) << "the request started the receive loop";
    EXPECT_EQ(rec.events.back().second, KOVA_EVENT_SUCCESS);
    EXPECT_NE(rec.events.back().first, item) << "a new table after re-initialisation";
    KOVA_DEVICE_INFO info;
    ASSERT_EQ(kova_GetDeviceInfo(item, &info), KOVA_OK) << "old handles stay valid";
    EXPECT_STREQ(info.modelName, "VX-100");
}

TEST_F(Library, RepliesAreStoredOncePerDeviceAndStrayDatagramsDropped) {
    ReplyFields a, b, big, stranger;
    HKOVAITEM first = Discover(a);
    Net().arrival = 7; // from now on heard on another interface
    a.host = "renamed";
    b.mac[5] = 0x99;
    big.gap = 200; // over 278 bytes
    stranger.mac = {9, 9, 9, 9, 9, 9};
    const Bytes replyB = BuildReply(b);
    Bytes foreign = replyB;
    std::memcpy(foreign.data(), "KOVB", 4);
    for (const Bytes &d :
         {BuildReply(a), Bytes(replyB.begin(), replyB.begin() + 9), Bytes{}, BuildReply(big),
          foreign, Kind(b, 3), Kind(b, 6), Kind(a, 0), Kind(a, 1), Kind(a, 2),
          Bytes(replyB.begin(), replyB.begin() + 10), Kind(stranger, 2), Kind(stranger, 0)})
        Net().Push(d);
    ASSERT_TRUE(rec.Wait(8));
    std::this_thread::sleep_for(20ms);
    ASSERT_EQ(rec.events.size(), 8u);
    EXPECT_TRUE(rec.errors.empty());
    const std::vector<std::pair<HKOVAITEM, int32_t>> head = {
        {first, 0}, {first, 0}, {first, 4}, {first, 6}, {first, 2}};
    EXPECT_EQ(std::vector(rec.events.begin(), rec.events.begin() + 5), head);
    KOVA_DEVICE_INFO info;
    int32_t version = 0;
    ASSERT_EQ(kova_GetDeviceInfo(first, &info) + kova_GetReplyVersion(first, &version), KOVA_OK);
    EXPECT_STREQ(info.hostName, "renamed") << "results leave the device information intact";
    EXPECT_EQ(version, 5);
    char name[KOVA_INTERFACE_NAME_SIZE];
    ASSERT_EQ(kova_GetReplyInterface(first, name), KOVA_OK);
    EXPECT_STREQ(name, "if7");
    EXPECT_EQ(kova_GetReplyInterface(first, nullptr), KOVA_ERR_INVALID_ARG);
    ASSERT_EQ(kova_SetHostName(first, "root", "pw", "h", "d"), KOVA_OK);
    EXPECT_EQ(Net().sentVia, (std::vector<unsigned>{0, 7})) << "asked where it was heard last";

    auto [shortOne, shortEvent] = rec.events[5];
    KOVA_SERVICE_PORTS ports;
    EXPECT_EQ(shortEvent, 0);
    EXPECT_EQ(kova_GetServicePorts(shortOne, &ports), KOVA_OK) << "the 10-byte reply is stored";
    EXPECT_EQ(ports.webPort, 0);

    auto [unknown, unknownEvent] = rec.events[6];
    EXPECT_EQ(unknownEvent, KOVA_EVENT_AUTH_FAILED);
    EXPECT_NE(unknown, shortOne);
    EXPECT_EQ(rec.events[7].first, unknown) << "a second result finds the same record";
    ASSERT_EQ(kova_GetDeviceInfo(unknown, &info), KOVA_OK);
    EXPECT_EQ(Bytes(info.mac, info.mac + 6), Bytes(stranger.mac.begin(), stranger.mac.end()));
    EXPECT_STREQ(info.modelName, "") << "and nothing but the device key";
    KOVA_NETWORK_SETTINGS s{};
    EXPECT_EQ(kova_SetNetworkSettings(unknown, "admin", "", &s), KOVA_ERR_BAD_HANDLE);
}

TEST_F(Library, AFloodOfNewDevicesStopsAtTheTableCeilingAndKnownOnesStillUpdate) {
    const size_t records = internal::RecordCount(), dropped = internal::DroppedReplies();
    uint32_t lostBefore = 0;
    ASSERT_EQ(kova_GetLostReplies(&lostBefore, nullptr), KOVA_OK);
    ReplyFields known;
    HKOVAITEM first = Discover(known);
    const size_t flood = ItemTable::kMaxDevices + 300;
    Bytes reply = BuildReply(ReplyFields{});
    for (size_t i = 1; i <= flood; ++i) {
        reply[12] = uint8_t(i >> 16), reply[13] = uint8_t(i >> 8), reply[14] = uint8_t(i);
        Net().Push(reply);
    }
    known.host = "still-updated";
    Net().Push(BuildReply(known));
    std::unique_lock lock(rec.mutex);
    ASSERT_TRUE(
        rec.cv.wait_for(lock, 60s, [] { return rec.events.size() > ItemTable::kMaxDevices; }));
    EXPECT_EQ(rec.events.back().first, first);
    EXPECT_EQ(internal::RecordCount() - records, ItemTable::kMaxDevices);
    EXPECT_EQ(internal::DroppedReplies() - dropped, flood - (ItemTable::kMaxDevices - 1));
    uint32_t lostAfter = 0;
    ASSERT_EQ(kova_GetLostReplies(&lostAfter, nullptr), KOVA_OK);
    EXPECT_EQ(lostAfter - lostBefore, flood - (ItemTable::kMaxDevices - 1)) << "as callers see it";
    KOVA_DEVICE_INFO info;
    ASSERT_EQ(kova_GetDeviceInfo(first, &info), KOVA_OK);
    EXPECT_STREQ(info.hostName, "still-updated");
}

TEST_F(Library, WithoutReplyCallbackNothingIsStoredAndAFailureEndsTheLoop) {
    const KOVA_CONFIG config{nullptr, OnError, KOVA_CLASS_ID};
    ASSERT_EQ(kova_Initialise(&config), KOVA_OK);
    ASSERT_EQ(kova_SendDiscovery(), KOVA_OK);
    const size_t records = internal::RecordCount();
    Net().Push(BuildReply({}));
    Net().Push(std::nullopt);
    ASSERT_TRUE(rec.Wait(0, 1)) << "the loop went on to the failure";
    EXPECT_EQ(rec.errors, std::vector{KOVA_ERR_SOCKET});
    EXPECT_EQ(internal::RecordCount(), records);
}

TEST_F(Library, CloseDuringABurstStopsCallbacksAtOnce) {
    ASSERT_EQ(kova_Initialise(&kConfig), KOVA_OK);
    ReplyFields s;
    for (int i = 0; i < 5000; ++i) { // all queued before the loop starts
        s.mac[4] = static_cast<uint8_t>(i >> 8), s.mac[5] = static_cast<uint8_t>(i);
        Net().Push(BuildReply(s));
    }
    rec.hook = [] { std::this_thread::sleep_for(50us); }; // a client doing some work
    ASSERT_EQ(kova_SendDiscovery(), KOVA_OK);
    ASSERT_TRUE(rec.Wait(50));
    const auto start = std::chrono::steady_clock::now();
    kova_Close();
    const size_t atClose = rec.Count();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 100ms);
    std::this_thread::sleep_for(50ms);
    // One callback may already have been committed to when the close came.
    EXPECT_LE(rec.Count(), atClose + 1) << "no new callback starts after the close returned";
    EXPECT_LT(atClose, 5000u);
}

TEST_F(Library, CloseFromInsideTheCallbackEndsTheLoopSilently) {
    rec.hook = [] {
        if (rec.Count() == 2)
            kova_Close();
    };
    ASSERT_EQ(kova_Initialise(&kConfig), KOVA_OK);
    ASSERT_EQ(kova_SendDiscovery(), KOVA_OK);
    for (uint8_t i = 0; i < 5; ++i)
        Net().Push(BuildReply({.mac = {1, 1, 1, 1, 1, i}}));
    EXPECT_EQ(internal::ReapReceiveThreads(2000ms), 0u) << "the receive thread ended";
    EXPECT_EQ(rec.Count(), 2u);
    EXPECT_TRUE(rec.errors.empty());
    EXPECT_EQ(kova_SendDiscovery(), KOVA_ERR_NOT_INITIALISED);
}

TEST_F(Library, CloseDoesNotWaitForACallbackBlockedOnTheClosingThread) {
    std::promise<void> entered, closed;
    std::shared_future<void> closedFuture = closed.get_future().share();
    std::atomic<bool> timedOut{false};
    rec.hook = [&] { // like a blocking hand-over to a GUI thread that is busy closing
        entered.set_value();
        timedOut = closedFuture.wait_for(2s) != std::future_status::ready;
    };
    ASSERT_EQ(kova_Initialise(&kConfig), KOVA_OK);
    ASSERT_EQ(kova_SendDiscovery(), KOVA_OK);
    Net().Push(BuildReply({}));
    Net().Push(BuildReply({}));
    ASSERT_EQ(entered.get_future().wait_for(2s), std::future_status::ready);
    kova_Close();
    closed.set_value();
    EXPECT_EQ(internal::ReapReceiveThreads(2000ms), 0u);
    EXPECT_FALSE(timedOut);
    EXPECT_EQ(rec.Count(), 1u) << "the second reply came after the close";
}
