// The public operations over the fake transport: connection state, check
// orders, the receive loop, the item table and closing.
#include "fake_transport.h"
#include "kova.h"
#include "library.h"
#include "reply_builder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <future>
#include <thread>

using namespace kova;
using namespace std::chrono_literals;
using kova::test::BuildReply;
using kova::test::Endpoint;
using kova::test::ReplySpec;
using Bytes = std::vector<uint8_t>;

namespace {

struct Event {
    HKOVAITEM item;
    int32_t event;
};

// What the callbacks saw; the callbacks are plain functions, so this is global.
struct Recorder {
    std::mutex mutex;
    std::condition_variable cv;
    std::vector<Event> events;
    std::vector<int32_t> errors;
    std::function<void(HKOVAITEM, int32_t)> hook;

    bool WaitEvents(size_t n, std::chrono::milliseconds limit = 2000ms) {
        std::unique_lock lock(mutex);
        return cv.wait_for(lock, limit, [&] { return events.size() >= n; });
    }
    bool WaitErrors(size_t n) {
        std::unique_lock lock(mutex);
        return cv.wait_for(lock, 2000ms, [&] { return errors.size() >= n; });
    }
    size_t Count() {
        std::lock_guard lock(mutex);
        return events.size();
    }
} rec;

void OnReply(HKOVAITEM item, int32_t event, int32_t reserved) {
    EXPECT_EQ(reserved, 0);
    std::function<void(HKOVAITEM, int32_t)> hook;
    {
        std::lock_guard lock(rec.mutex);
        rec.events.push_back({item, event});
        hook = rec.hook;
        rec.cv.notify_all();
    }
    if (hook)
        hook(item, event);
}

void OnError(int32_t code, const char *text) {
    EXPECT_STREQ(text, kova_ErrorText(code));
    std::lock_guard lock(rec.mutex);
    rec.errors.push_back(code);
    rec.cv.notify_all();
}

class Library : public ::testing::Test {
protected:
    void SetUp() override {
        {
            std::lock_guard lock(rec.mutex);
            rec.events.clear();
            rec.errors.clear();
            rec.hook = nullptr;
        }
        internal::SetTransportFactory([this](const std::string &address, int32_t &error) {
            auto e = std::make_shared<Endpoint>();
            e->bindAddress = address;
            std::lock_guard lock(endpointsMutex_);
            endpoints_.push_back(e);
            error = KOVA_OK;
            return std::make_unique<kova::test::FakeTransport>(e);
        });
        internal::SetBlockRandom([] { return std::array<uint8_t, 5>{0x5A, 1, 2, 3, 4}; });
    }
    void TearDown() override {
        kova_Close();
        internal::SetTransportFactory(nullptr);
        internal::SetBlockRandom(nullptr);
        EXPECT_EQ(internal::ReapReceiveThreads(2000ms), 0u);
    }
    std::shared_ptr<Endpoint> Net() {
        std::lock_guard lock(endpointsMutex_);
        return endpoints_.empty() ? nullptr : endpoints_.back();
    }
    size_t Opened() {
        std::lock_guard lock(endpointsMutex_);
        return endpoints_.size();
    }
    // Initialises, scans once and returns the handle of the device that answers.
    HKOVAITEM Discover(const ReplySpec &spec = {}) {
        const KOVA_CONFIG config{OnReply, OnError, KOVA_CLASS_ID};
        EXPECT_EQ(kova_Initialise(&config), KOVA_OK);
        EXPECT_EQ(kova_SendDiscovery(), KOVA_OK);
        const size_t before = rec.Count();
        Net()->Push(BuildReply(spec));
        EXPECT_TRUE(rec.WaitEvents(before + 1));
        std::lock_guard lock(rec.mutex);
        return rec.events.back().item;
    }

    std::mutex endpointsMutex_;
    std::vector<std::shared_ptr<Endpoint>> endpoints_;
};

const KOVA_CONFIG kConfig{OnReply, OnError, KOVA_CLASS_ID};

} // namespace

TEST_F(Library, ErrorTextsAndVersion) {
    EXPECT_STREQ(kova_ErrorText(0), "OK");
    EXPECT_STREQ(kova_ErrorText(3), "kova_Initialise() has not been called");
    EXPECT_STREQ(kova_ErrorText(8), "HKOVAITEM handler is not correct");
    EXPECT_STREQ(kova_ErrorText(9), "General Error");
    const KOVA_VERSION v = kova_GetVersion();
    EXPECT_EQ((std::array<int32_t, 4>{v.major, v.minor, v.release, v.build}),
              (std::array<int32_t, 4>{3, 1, 0, 0}));
}

TEST_F(Library, InitialisationChecksAndProtocolVersion) {
    for (auto [classId, code] : {std::pair{3, 2}, {7, 7}, {0, 7}}) {
        const KOVA_CONFIG bad{OnReply, nullptr, classId};
        EXPECT_EQ(kova_Initialise(&bad), code);
        EXPECT_EQ(kova_SendDiscovery(), KOVA_ERR_NOT_INITIALISED);
    }
    EXPECT_EQ(kova_InitialiseEx(&kConfig, "10.20.30.40.50.60"), KOVA_ERR_INVALID_ARG);
    EXPECT_EQ(kova_InitialiseEx(&kConfig, nullptr), KOVA_ERR_INVALID_ARG);
    EXPECT_EQ(kova_Initialise(nullptr), KOVA_ERR_INVALID_ARG);
    EXPECT_EQ(Opened(), 0u) << "no socket for a refused initialisation";

    ASSERT_EQ(kova_InitialiseEx(&kConfig, "192.168.100.200"), KOVA_OK);
    EXPECT_EQ(Net()->bindAddress, "192.168.100.200");
    kova_SetProtocolType(2);
    ASSERT_EQ(kova_SendDiscovery(), KOVA_OK);
    kova_SetProtocolType(3);
    ASSERT_EQ(kova_SendDiscovery(), KOVA_OK);
    ASSERT_EQ(kova_Initialise(&kConfig), KOVA_OK); // resets the version byte to 5
    EXPECT_EQ(Net()->bindAddress, "");
    ASSERT_EQ(kova_SendDiscovery(), KOVA_OK);
    const auto old = endpoints_[0]->Sent();
    ASSERT_EQ(old.size(), 2u);
    EXPECT_EQ(old[0], wire::BuildDiscovery(3));
    EXPECT_EQ(old[1], wire::BuildDiscovery(4));
    EXPECT_EQ(Net()->Sent().at(0), wire::BuildDiscovery(5));
    Net()->refuseSend = true;
    EXPECT_EQ(kova_SendDiscovery(), KOVA_ERR_SOCKET);
}

TEST_F(Library, RequestsCheckSocketThenHandleThenArguments) {
    HKOVAITEM item = Discover();
    kova_Close();
    KOVA_NETWORK_SETTINGS s{};
    const int32_t guest = 0;
    // Closed: 3 whatever else is wrong.
    EXPECT_EQ(kova_SetNetworkSettings(nullptr, nullptr, nullptr, nullptr), 3);
    EXPECT_EQ(kova_SetHostName(nullptr, nullptr, nullptr, nullptr, nullptr), 3);
    EXPECT_EQ(kova_SetAccount(nullptr, nullptr, nullptr, nullptr, nullptr), 3);
    EXPECT_EQ(kova_SendDiscovery(), 3);
    ASSERT_EQ(kova_Initialise(&kConfig), KOVA_OK);
    EXPECT_EQ(kova_SetNetworkSettings(nullptr, nullptr, nullptr, nullptr), 8);
    EXPECT_EQ(kova_SetHostName(nullptr, "123456789", "", "", ""), 8);
    EXPECT_EQ(kova_SetAccount(nullptr, "a", "b", "c", &guest), 8);
    EXPECT_EQ(kova_SetAccount(reinterpret_cast<HKOVAITEM>(&s), "a", "b", "c", &guest), 8)
        << "a handle the library never issued";
    EXPECT_EQ(kova_SetNetworkSettings(item, "", "pw", &s), 4);
    EXPECT_EQ(kova_SetHostName(item, "", "", "h", "d"), KOVA_OK) << "empty ID is fine here";
    EXPECT_TRUE(Net()->Sent().size() == 1);

    // Decoders: handle before output.
    EXPECT_EQ(kova_GetDeviceInfo(nullptr, nullptr), 8);
    EXPECT_EQ(kova_GetServicePorts(nullptr, nullptr), 8);
    EXPECT_EQ(kova_GetFirmwareInfo(item, nullptr), 4);
    EXPECT_EQ(kova_GetGuestAccount(item, nullptr), 4);
    int32_t flag = 0, version = 0;
    EXPECT_EQ(kova_GetItemFlag(item, &flag), KOVA_OK);
    EXPECT_EQ(flag, 1);
    EXPECT_EQ(kova_GetReplyVersion(item, &version), KOVA_OK);
    EXPECT_EQ(version, 5);
}

TEST_F(Library, RequestsTakeVersionAndKeyFromTheItemAndStartTheLoop) {
    ReplySpec spec;
    spec.version = 3;
    HKOVAITEM item = Discover(spec);
    kova_Close();
    ASSERT_EQ(kova_Initialise(&kConfig), KOVA_OK); // no discovery: no loop yet
    KOVA_NETWORK_SETTINGS s{};
    s.mode = KOVA_MODE_DHCP;
    ASSERT_EQ(kova_SetNetworkSettings(item, "admin", "pw", &s), KOVA_OK);
    const Bytes sent = Net()->Sent().at(0);
    EXPECT_EQ(sent.size(), 46u);
    EXPECT_EQ(Bytes(sent.begin() + 8, sent.begin() + 15),
              (Bytes{0x11, 0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}));
    EXPECT_EQ(sent[45], 0x5A);

    ReplySpec result = spec;
    result.kind = 0;
    const size_t before = rec.Count();
    Net()->Push(BuildReply(result));
    ASSERT_TRUE(rec.WaitEvents(before + 1)) << "the request started the receive loop";
    EXPECT_EQ(rec.events.back().event, KOVA_EVENT_SUCCESS);
    EXPECT_NE(rec.events.back().item, item) << "new table after re-initialisation";
}

TEST_F(Library, RepliesAreStoredOncePerDeviceAndRaiseTheirEvents) {
    ReplySpec a;
    HKOVAITEM first = Discover(a);
    a.host = "renamed";
    ReplySpec b;
    b.mac[5] = 0x99;
    auto kind = [](ReplySpec s, uint8_t k) {
        s.kind = k;
        s.version = 9;
        return BuildReply(s);
    };
    ReplySpec unknown;
    unknown.mac = {9, 9, 9, 9, 9, 9};
    const Bytes replyB = BuildReply(b);
    auto net = Net();
    net->Push(BuildReply(a), {10, 0, 0, 6});
    net->Push(Bytes(replyB.begin(), replyB.begin() + 9)); // 9 bytes: dropped
    net->Push({});                                        // empty: dropped
    ReplySpec big = b;
    big.gap = 200;
    net->Push(BuildReply(big)); // over 278 bytes: dropped
    Bytes foreign = BuildReply(b);
    std::memcpy(foreign.data(), "KOVB", 4);
    net->Push(foreign);
    net->Push(kind(b, 3));
    net->Push(kind(b, 6));
    net->Push(kind(a, 0));
    net->Push(kind(a, 1));
    net->Push(kind(a, 2));
    net->Push(Bytes(replyB.begin(), replyB.begin() + 10));
    net->Push(kind(unknown, 2));
    ASSERT_TRUE(rec.WaitEvents(7));
    std::this_thread::sleep_for(20ms);
    std::lock_guard lock(rec.mutex);
    ASSERT_EQ(rec.events.size(), 7u);
    EXPECT_TRUE(rec.errors.empty());
    const std::vector<int32_t> events = {0, 0, 4, 6, 2, 0, 2};
    for (size_t i = 0; i < events.size(); ++i) {
        EXPECT_EQ(rec.events[i].event, events[i]) << i;
        if (i < 5) {
            EXPECT_EQ(rec.events[i].item, first) << i;
        }
    }
    KOVA_DEVICE_INFO info;
    ASSERT_EQ(kova_GetDeviceInfo(first, &info), KOVA_OK);
    EXPECT_STREQ(info.hostName, "renamed") << "results leave the device information intact";
    EXPECT_STREQ(info.ipAddress, "10.0.0.5") << "source refreshed by the latest reply";
    int32_t version = 0;
    kova_GetReplyVersion(first, &version);
    EXPECT_EQ(version, 5);

    HKOVAITEM stranger = rec.events[6].item;
    EXPECT_NE(stranger, first);
    ASSERT_EQ(kova_GetDeviceInfo(stranger, &info), KOVA_OK);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(info.mac), 6), std::string(6, '\0'));
    KOVA_NETWORK_SETTINGS s{};
    EXPECT_EQ(kova_SetNetworkSettings(stranger, "admin", "", &s), KOVA_ERR_BAD_HANDLE);

    HKOVAITEM shortOne = rec.events[5].item;
    EXPECT_NE(shortOne, stranger);
    KOVA_SERVICE_PORTS ports;
    EXPECT_EQ(kova_GetServicePorts(shortOne, &ports), KOVA_OK);
    EXPECT_EQ(ports.webPort, 0);
    ASSERT_EQ(kova_GetDeviceInfo(shortOne, &info), KOVA_OK);
    EXPECT_EQ(info.mac[0], 0x00);
    EXPECT_STREQ(info.modelName, "");
}

TEST_F(Library, WithoutReplyCallbackNothingIsStoredButTheLoopRuns) {
    const KOVA_CONFIG config{nullptr, OnError, KOVA_CLASS_ID};
    ASSERT_EQ(kova_Initialise(&config), KOVA_OK);
    ASSERT_EQ(kova_SendDiscovery(), KOVA_OK);
    const size_t records = internal::RecordCount();
    Net()->Push(BuildReply({}));
    Net()->PushFailure();
    ASSERT_TRUE(rec.WaitErrors(1)) << "the loop reached the failure after the reply";
    EXPECT_EQ(rec.errors.at(0), KOVA_ERR_SOCKET);
    EXPECT_EQ(internal::RecordCount(), records);
    // The loop has ended: later replies are not received until a close.
    ASSERT_EQ(kova_Initialise(&kConfig), KOVA_OK);
    ASSERT_EQ(kova_SendDiscovery(), KOVA_OK);
    Net()->Push(BuildReply({}));
    EXPECT_TRUE(rec.WaitEvents(1));
}

TEST_F(Library, HandlesOutliveCloseAndReinitialisation) {
    ReplySpec spec;
    HKOVAITEM old = Discover(spec);
    kova_Close();
    KOVA_DEVICE_INFO info;
    ASSERT_EQ(kova_GetDeviceInfo(old, &info), KOVA_OK);
    EXPECT_STREQ(info.modelName, "VX-100");
    spec.model = "VX-200";
    HKOVAITEM fresh = Discover(spec);
    EXPECT_NE(fresh, old);
    ASSERT_EQ(kova_GetDeviceInfo(old, &info), KOVA_OK);
    EXPECT_STREQ(info.modelName, "VX-100");
    ASSERT_EQ(kova_GetDeviceInfo(fresh, &info), KOVA_OK);
    EXPECT_STREQ(info.modelName, "VX-200");
}

TEST_F(Library, CloseDuringABurstStopsCallbacksAtOnce) {
    ASSERT_EQ(kova_Initialise(&kConfig), KOVA_OK);
    ASSERT_EQ(kova_SendDiscovery(), KOVA_OK);
    for (int i = 0; i < 5000; ++i) {
        ReplySpec s;
        s.mac = {1, 2, 3, 4, static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i)};
        Net()->Push(BuildReply(s));
    }
    ASSERT_TRUE(rec.WaitEvents(50));
    const auto start = std::chrono::steady_clock::now();
    kova_Close();
    const size_t atClose = rec.Count();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 100ms);
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(rec.Count(), atClose);
    EXPECT_LT(atClose, 5000u);
    EXPECT_EQ(internal::ReapReceiveThreads(1000ms), 0u);
}

TEST_F(Library, CloseFromInsideTheCallbackEndsTheLoopSilently) {
    rec.hook = [](HKOVAITEM, int32_t) {
        if (rec.Count() == 2)
            kova_Close();
    };
    ASSERT_EQ(kova_Initialise(&kConfig), KOVA_OK);
    ASSERT_EQ(kova_SendDiscovery(), KOVA_OK);
    auto net = Net();
    for (uint8_t i = 0; i < 5; ++i) {
        ReplySpec s;
        s.mac[5] = i;
        net->Push(BuildReply(s));
    }
    EXPECT_EQ(internal::ReapReceiveThreads(2000ms), 0u) << "the receive thread ended";
    EXPECT_EQ(rec.Count(), 2u);
    EXPECT_TRUE(rec.errors.empty());
    EXPECT_EQ(kova_SendDiscovery(), KOVA_ERR_NOT_INITIALISED);
}

TEST_F(Library, CloseDoesNotWaitForACallbackBlockedOnTheClosingThread) {
    std::promise<void> entered, closed;
    std::shared_future<void> closedFuture = closed.get_future().share();
    std::atomic<bool> timedOut{false};
    rec.hook = [&](HKOVAITEM, int32_t) {
        entered.set_value();
        // Like a blocking hand-over to a GUI thread that is busy closing.
        if (closedFuture.wait_for(2s) != std::future_status::ready)
            timedOut = true;
    };
    ASSERT_EQ(kova_Initialise(&kConfig), KOVA_OK);
    ASSERT_EQ(kova_SendDiscovery(), KOVA_OK);
    Net()->Push(BuildReply({}));
    Net()->Push(BuildReply({}));
    ASSERT_EQ(entered.get_future().wait_for(2s), std::future_status::ready);
    kova_Close();
    closed.set_value();
    EXPECT_EQ(internal::ReapReceiveThreads(2000ms), 0u);
    EXPECT_FALSE(timedOut);
    EXPECT_EQ(rec.Count(), 1u) << "the second reply arrived after the close";
}

TEST_F(Library, ThreadsOfClosedConnectionsAreReaped) {
    for (int i = 0; i < 20; ++i) {
        ASSERT_EQ(kova_Initialise(&kConfig), KOVA_OK);
        ASSERT_EQ(kova_SendDiscovery(), KOVA_OK);
    }
    kova_Close();
    EXPECT_LE(internal::OutstandingReceiveThreads(), 20u);
    EXPECT_EQ(internal::ReapReceiveThreads(2000ms), 0u);
}
