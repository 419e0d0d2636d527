// Many generated devices in one lab: each answers every discovery exactly once,
// from an address of its own, with a well-formed reply. Plain sockets, no library.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <thread>

namespace {

class Socket {
public:
    Socket() : fd_(::socket(AF_INET, SOCK_DGRAM, 0)) {}
    ~Socket() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    int fd() const { return fd_; }

private:
    int fd_;
};

} // namespace

TEST(LabManyDevices, EveryDeviceAnswersEachDiscoveryOnceFromItsOwnAddress) {
    const char *countText = std::getenv("VELTRONA_LAB_DEVICE_COUNT");
    ASSERT_NE(countText, nullptr) << "run through scripts/lab";
    const size_t count = std::strtoul(countText, nullptr, 10);
    ASSERT_GE(count, 1000u);

    Socket s;
    ASSERT_GE(s.fd(), 0);
    const int on = 1;
    const int buffer = 64 << 20; // two replies of 65,533 devices at once, should it lag
    setsockopt(s.fd(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    setsockopt(s.fd(), SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    setsockopt(s.fd(), SOL_SOCKET, SO_RCVBUFFORCE, &buffer, sizeof buffer);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(32153);
    ASSERT_EQ(bind(s.fd(), reinterpret_cast<sockaddr *>(&local), sizeof local), 0);

    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(32154);
    to.sin_addr.s_addr = htonl(INADDR_BROADCAST);
    const uint8_t v5[] = {0x41, 0x44, 0x43, 0x54, 0x05, 0x0C, 0x00, 0x03, 0xFF, 0xE0, 0x00, 0x00};
    const uint8_t v3[] = {0x41, 0x44, 0x43, 0x54, 0x03, 0x09, 0x00, 0x03, 0xFF};
    ASSERT_EQ(sendto(s.fd(), v5, sizeof v5, 0, reinterpret_cast<sockaddr *>(&to), sizeof to),
              ssize_t(sizeof v5));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_EQ(sendto(s.fd(), v3, sizeof v3, 0, reinterpret_cast<sockaddr *>(&to), sizeof to),
              ssize_t(sizeof v3));

    std::map<std::string, int> replies;               // by MAC
    std::map<std::string, std::set<uint32_t>> source; // MAC to source addresses
    std::set<uint32_t> addresses;
    size_t malformed = 0;
    // Until every answer is in, or none came for 1.5 s (replies are spread over
    // less than a second; slower builds of the simulator take longer to send them,
    // and a sanitizer build of it longer still to begin).
    size_t total = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (total < count * 2 && std::chrono::steady_clock::now() < deadline) {
        pollfd p{s.fd(), POLLIN, 0};
        if (poll(&p, 1, total == 0 ? 15000 : 1500) <= 0)
            break;
        ++total;
        uint8_t data[512];
        sockaddr_in from{};
        socklen_t len = sizeof from;
        const ssize_t n = recvfrom(s.fd(), data, sizeof data, MSG_TRUNC,
                                   reinterpret_cast<sockaddr *>(&from), &len);
        if (n < 16 || n > 278 || std::memcmp(data, "KOVA", 4) != 0 || data[7] != 5 ||
            (data[5] | (data[6] << 8)) != n) {
            ++malformed;
            continue;
        }
        const std::string mac(reinterpret_cast<char *>(data + 9), 6);
        replies[mac]++;
        source[mac].insert(from.sin_addr.s_addr);
        addresses.insert(from.sin_addr.s_addr);
    }
    EXPECT_EQ(malformed, 0u);
    EXPECT_EQ(replies.size(), count);
    EXPECT_EQ(addresses.size(), count);
    size_t notTwice = 0, moved = 0;
    for (const auto &[mac, n] : replies) {
        notTwice += n != 2;
        moved += source[mac].size() != 1;
    }
    EXPECT_EQ(notTwice, 0u);
    EXPECT_EQ(moved, 0u);
}
