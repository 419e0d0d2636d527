// The library over real UDP sockets. Runs only inside a private network
// namespace (veltrona_netns_gtest_main); the two-interface case builds veth
// pairs there and moves each device end into a namespace of its own.
#include "kova.h"
#include "library.h"
#include "reply_builder.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sched.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstring>
#include <future>
#include <set>
#include <thread>

using namespace std::chrono_literals;
using kova::test::BuildReply;
using kova::test::ReplyFields;
using Bytes = std::vector<uint8_t>;

namespace {

std::mutex seenMutex;
std::condition_variable seenCv;
std::vector<HKOVAITEM> seen;

void OnReply(HKOVAITEM item, int32_t, int32_t) {
    std::lock_guard lock(seenMutex);
    seen.push_back(item);
    seenCv.notify_all();
}

bool WaitSeen(size_t n, std::chrono::milliseconds limit = 2000ms) {
    std::unique_lock lock(seenMutex);
    return seenCv.wait_for(lock, limit, [&] { return seen.size() >= n; });
}

size_t SeenCount() {
    std::lock_guard lock(seenMutex);
    return seen.size();
}

// Last MAC byte of every device reported so far.
std::set<int> SeenDevices() {
    std::lock_guard lock(seenMutex);
    std::set<int> devices;
    for (HKOVAITEM item : seen) {
        KOVA_DEVICE_INFO info;
        if (kova_GetDeviceInfo(item, &info) == KOVA_OK)
            devices.insert(info.mac[5]);
    }
    return devices;
}

const KOVA_CONFIG kConfig{OnReply, nullptr, KOVA_CLASS_ID};

int UdpSocket(uint16_t port) {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
    sockaddr_in a{AF_INET, htons(port), {htonl(INADDR_ANY)}, {}};
    if (bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0)
        close(fd);
    return fd;
}

void SendTo(int fd, const Bytes &bytes, const std::string &address, uint16_t port) {
    sockaddr_in to{AF_INET, htons(port), {}, {}};
    inet_pton(AF_INET, address.c_str(), &to.sin_addr);
    sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof to);
}

// One datagram received within `ms` (empty when none came) and its sender.
Bytes ReceiveFrom(int fd, int ms, sockaddr_in &from) {
    pollfd p{fd, POLLIN, 0};
    Bytes buffer(2048);
    socklen_t len = sizeof from;
    const ssize_t n = poll(&p, 1, ms) == 1 ? recvfrom(fd, buffer.data(), buffer.size(), 0,
                                                      reinterpret_cast<sockaddr *>(&from), &len)
                                           : 0;
    buffer.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return buffer;
}

bool Shell(const std::string &command) {
    return std::system(command.c_str()) == 0;
}

class Sockets : public ::testing::Test {
protected:
    void SetUp() override {
        std::lock_guard lock(seenMutex);
        seen.clear();
    }
    void TearDown() override {
        kova_Close();
        kova::UseArrivalInterfaceFilter(false);
        EXPECT_EQ(kova::internal::ReapReceiveThreads(2000ms), 0u);
    }
};

} // namespace

TEST_F(Sockets, BroadcastDiscoveryStrayDatagramsAndPromptClose) {
    const int device = UdpSocket(KOVA_DEVICE_PORT);
    ASSERT_GE(device, 0);
    ASSERT_EQ(kova_Initialise(&kConfig), KOVA_OK);
    const int other = UdpSocket(KOVA_LOCAL_PORT);
    EXPECT_GE(other, 0) << "the library's port is bound with address reuse";
    close(other); // it would take the unicast replies below
    ASSERT_EQ(kova_SendDiscovery(), KOVA_OK);
    sockaddr_in from{};
    EXPECT_EQ(ReceiveFrom(device, 1000, from),
              (Bytes{'A', 'D', 'C', 'T', 5, 12, 0, 3, 0xFF, 0xE0, 0, 0}));
    EXPECT_EQ(ntohs(from.sin_port), KOVA_LOCAL_PORT);

    // A stray empty and an oversized datagram do not stop the loop.
    SendTo(device, {}, "127.0.0.1", KOVA_LOCAL_PORT);
    SendTo(device, BuildReply({.gap = 250}), "127.0.0.1", KOVA_LOCAL_PORT);
    SendTo(device, BuildReply({.mac = {0, 0, 0, 0, 0, 7}}), "127.0.0.1", KOVA_LOCAL_PORT);
    ASSERT_TRUE(WaitSeen(1));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(SeenDevices(), std::set<int>{7});
    KOVA_DEVICE_INFO info;
    ASSERT_EQ(kova_GetDeviceInfo(seen.at(0), &info), KOVA_OK);
    EXPECT_EQ(std::string(info.ipAddress) + " " + info.modelName, "127.0.0.1 VX-100");
    // Heard on loopback, the only interface here: a request goes back out there.
    char name[KOVA_INTERFACE_NAME_SIZE];
    ASSERT_EQ(kova_GetReplyInterface(seen.at(0), name), KOVA_OK);
    EXPECT_STREQ(name, "lo");
    ASSERT_EQ(kova_SetHostName(seen.at(0), "root", "pw", "h", ""), KOVA_OK);
    const Bytes request = ReceiveFrom(device, 1000, from);
    EXPECT_EQ(request.size() > 7 ? request[7] : 0, KOVA_CMD_SET_CONFIG);
    close(device);

    const auto start = std::chrono::steady_clock::now();
    kova_Close();
    EXPECT_EQ(kova::internal::ReapReceiveThreads(1000ms), 0u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 100ms) << "the blocked loop woke";
    EXPECT_EQ(kova_InitialiseEx(&kConfig, "10.99.99.99"), KOVA_ERR_SOCKET) << "not this host's";
    EXPECT_EQ(kova_InitialiseEx(&kConfig, "not.an.address"), KOVA_ERR_SOCKET);
    EXPECT_EQ(kova_InitialiseEx(&kConfig, "127.0.0.1"), KOVA_OK);
}

TEST_F(Sockets, ABurstOfThousandsOfRepliesIsNotDropped) {
    const int devices = UdpSocket(KOVA_DEVICE_PORT);
    ASSERT_EQ(kova_Initialise(&kConfig), KOVA_OK);
    ASSERT_EQ(kova_SendDiscovery(), KOVA_OK);
    constexpr int kBurst = 4000;
    ReplyFields fields{.model = std::string(100, 'm')}; // about 230 bytes each
    for (int i = 0; i < kBurst; ++i) {
        fields.mac[4] = static_cast<uint8_t>(i >> 8), fields.mac[5] = static_cast<uint8_t>(i);
        SendTo(devices, BuildReply(fields), "127.0.0.1", KOVA_LOCAL_PORT);
    }
    EXPECT_TRUE(WaitSeen(kBurst, 10000ms));
    std::lock_guard lock(seenMutex);
    EXPECT_EQ(std::set<HKOVAITEM>(seen.begin(), seen.end()).size(), size_t{kBurst});
    close(devices);
}

namespace {

// A device in a network namespace of its own behind one end of a veth pair:
// answers discoveries by unicast and, when asked, announces itself by
// broadcast and by unicast to the .1 address of its subnet.
class Device {
public:
    Device(std::string link, std::string address, uint8_t mac) : link_(link), address_(address) {
        spec_.mac[5] = mac;
        thread_ = std::thread([this] { Run(); });
        tid_ = ready_.get_future().get();
    }
    ~Device() {
        stop_ = true;
        thread_.join();
    }
    pid_t Tid() const { return tid_; }
    void Moved() { moved_.set_value(); }
    bool WaitUp() { return up_.get_future().wait_for(3s) == std::future_status::ready; }
    void Announce() { announce_ = true; }
    int Discoveries() const { return discoveries_; }

private:
    void Run() {
        ready_.set_value(unshare(CLONE_NEWNET) == 0 ? gettid() : -1);
        moved_.get_future().wait();
        // Commands started from this thread run in its namespace.
        if (!Shell("ip link set lo up && ip addr add " + address_ + "/24 dev " + link_ +
                   " && ip link set " + link_ + " up && ip route add default dev " + link_))
            return;
        const int fd = UdpSocket(KOVA_DEVICE_PORT);
        up_.set_value();
        const Bytes reply = BuildReply(spec_);
        while (!stop_) {
            sockaddr_in from{};
            const Bytes in = ReceiveFrom(fd, 10, from);
            if (in.size() >= 8 && std::memcmp(in.data(), "ADCT", 4) == 0 && in[7] == 3) {
                discoveries_.fetch_add(1);
                SendTo(fd, reply, inet_ntoa(from.sin_addr), KOVA_LOCAL_PORT);
            }
            if (announce_.exchange(false)) {
                SendTo(fd, reply, "255.255.255.255", KOVA_LOCAL_PORT);
                SendTo(fd, reply, address_.substr(0, address_.rfind('.')) + ".1", KOVA_LOCAL_PORT);
            }
        }
        close(fd);
    }

    std::atomic<int> discoveries_{0};
    std::string link_, address_;
    ReplyFields spec_;
    std::thread thread_;
    pid_t tid_ = -1;
    std::promise<pid_t> ready_;
    std::promise<void> moved_, up_;
    std::atomic<bool> announce_{false};
    std::atomic<bool> stop_{false};
};

} // namespace

TEST_F(Sockets, BoundToAnAddressHearsOnlyThatInterface) {
    ASSERT_TRUE(
        Shell("ip link add vt0 type veth peer name vt1 && ip link add vt2 type veth peer "
              "name vt3 && ip addr add 10.1.0.1/24 brd + dev vt0 && ip addr add 10.2.0.1/24 dev "
              "vt2 && ip link set vt0 up && ip link set vt2 up"));
    // The addresses as a scan sees them: every one listed, loopback not scanned.
    int32_t count = 0;
    EXPECT_EQ(kova_GetInterfaces(nullptr, 1, &count), KOVA_ERR_INVALID_ARG);
    EXPECT_EQ(kova_GetInterfaces(nullptr, 0, nullptr), KOVA_ERR_INVALID_ARG);
    ASSERT_EQ(kova_GetInterfaces(nullptr, 0, &count), KOVA_OK);
    ASSERT_EQ(count, 3);
    KOVA_INTERFACE list[3];
    ASSERT_EQ(kova_GetInterfaces(list, 3, &count), KOVA_OK);
    std::set<std::string> listed;
    for (const KOVA_INTERFACE &entry : list)
        listed.insert(std::string(entry.name) + " " + entry.address + "/" + entry.netMask + " " +
                      entry.broadcast + " " + std::to_string(entry.scanned));
    EXPECT_EQ(listed, (std::set<std::string>{"lo 127.0.0.1/255.0.0.0  0",
                                             "vt0 10.1.0.1/255.255.255.0 10.1.0.255 1",
                                             "vt2 10.2.0.1/255.255.255.0  1"}));
    {
        Device a("vt1", "10.1.0.2", 0xA1), b("vt3", "10.2.0.2", 0xB2);
        ASSERT_TRUE(a.Tid() > 0 && b.Tid() > 0);
        ASSERT_TRUE(Shell("ip link set vt1 netns " + std::to_string(a.Tid()) +
                          " && ip link set vt3 netns " + std::to_string(b.Tid())));
        a.Moved(), b.Moved();
        ASSERT_TRUE(a.WaitUp() && b.WaitUp());
        for (bool byArrival : {false, true}) {
            SCOPED_TRACE(byArrival ? "arrival filter" : "bound to device");
            kova::UseArrivalInterfaceFilter(byArrival);
            SetUp();
            ASSERT_EQ(kova_InitialiseEx(&kConfig, "10.1.0.1"), KOVA_OK);
            for (int i = 0; i < 30 && (kova_SendDiscovery(), !WaitSeen(1, 100ms)); ++i) {
            } // a fresh veth link may drop the first broadcasts
            ASSERT_TRUE(WaitSeen(1)) << "device A answers the discovery";
            std::this_thread::sleep_for(50ms);
            const size_t answers = SeenCount();
            a.Announce(), b.Announce();
            ASSERT_TRUE(WaitSeen(answers + 2)) << "A's broadcast and unicast announcements";
            std::this_thread::sleep_for(200ms);
            EXPECT_EQ(SeenDevices(), std::set<int>{0xA1});
            EXPECT_EQ(b.Discoveries(), 0) << "the request left through vt0 only";
            KOVA_DEVICE_INFO info;
            ASSERT_EQ(kova_GetDeviceInfo(seen.at(0), &info), KOVA_OK);
            EXPECT_STREQ(info.ipAddress, "10.1.0.2");
            kova_Close();
        }
        // Any address: the discovery goes out on both interfaces, though the
        // default route is on loopback.
        ASSERT_EQ(kova_Initialise(&kConfig), KOVA_OK);
        for (int i = 0; i < 30 && (kova_SendDiscovery(), SeenDevices().size() < 2); ++i)
            std::this_thread::sleep_for(100ms);
        EXPECT_EQ(SeenDevices(), (std::set<int>{0xA1, 0xB2}));
        kova_Close();
    }
    Shell("ip link del vt0 2>/dev/null; ip link del vt2 2>/dev/null; true");
}
