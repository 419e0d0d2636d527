// Memory under a reply flood: one connection listens while a second socket in
// the same private namespace sends replies as fast as it can. Prints the
// records the library made, the replies it dropped and the resident set size.
//   kova_flood same|random SECONDS
// same: result replies (kind 0) that all carry one MAC address;
// random: device-information replies (kind 5), each with a new MAC address.
//   kova_flood send SECONDS MACS
// Only sends, by broadcast, for another program's scan in the same namespace:
// device-information replies of MACS made-up devices in turn, and from the
// middle of the run on one reply a second of a late real device,
// 02-4B-56-FF-FF-01.
#include "kova.h"
#include "library.h"
#include "netns_guard.h"
#include "reply_builder.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <thread>

namespace {

std::atomic<long> g_events{0};

void onReply(HKOVAITEM, int32_t, int32_t) {
    g_events.fetch_add(1, std::memory_order_relaxed);
}

long rssKiB() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

void report(const char *when, long sent) {
    std::printf("%-6s sent %9ld  events %9ld  records %7zu  dropped %9zu  RSS %7.1f MB\n", when,
                sent, g_events.load(), kova::internal::RecordCount(),
                kova::internal::DroppedReplies(), static_cast<double>(rssKiB()) / 1024.0);
    std::fflush(stdout);
}

} // namespace

// The `send` mode: a flood for a client that scans meanwhile.
int sendOnly(int seconds, std::uint64_t macs) {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(32153);
    to.sin_addr.s_addr = htonl(INADDR_BROADCAST);
    kova::test::ReplyFields fields, late;
    fields.kind = late.kind = 5;
    late.mac = {0x02, 0x4B, 0x56, 0xFF, 0xFF, 0x01};
    late.host = "late-device";
    const auto start = std::chrono::steady_clock::now();
    const auto end = start + std::chrono::seconds(seconds);
    auto nextLate = start + std::chrono::seconds(seconds) / 2;
    long sent = 0;
    for (std::uint64_t n = 0;; n = (n + 1) % macs) {
        const std::uint64_t mac = 0x0A0000000000ULL + n;
        for (int i = 0; i < 6; ++i)
            fields.mac[static_cast<std::size_t>(i)] = static_cast<uint8_t>(mac >> (40 - 8 * i));
        const auto datagram = kova::test::BuildReply(fields);
        sent += sendto(fd, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr *>(&to),
                       sizeof to) > 0;
        if ((sent & 255) != 0)
            continue;
        const auto now = std::chrono::steady_clock::now();
        if (now >= end)
            break;
        if (now >= nextLate) {
            const auto reply = kova::test::BuildReply(late);
            sendto(fd, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof to);
            nextLate += std::chrono::seconds(1);
        }
    }
    std::printf("sent %ld replies of %llu devices in %d s\n", sent,
                static_cast<unsigned long long>(macs), seconds);
    close(fd);
    return 0;
}

int main(int argc, char **argv) {
    veltrona::test::requirePrivateNetns();
    if (argc == 4 && std::strcmp(argv[1], "send") == 0)
        return sendOnly(std::atoi(argv[2]), std::strtoull(argv[3], nullptr, 10));
    if (argc != 3 || (std::strcmp(argv[1], "same") != 0 && std::strcmp(argv[1], "random") != 0)) {
        std::fprintf(stderr, "usage: kova_flood same|random SECONDS\n");
        return 64;
    }
    const bool random = std::strcmp(argv[1], "random") == 0;
    const int seconds = std::atoi(argv[2]);
    const KOVA_CONFIG config{onReply, nullptr, KOVA_CLASS_ID};
    if (kova_Initialise(&config) != KOVA_OK || kova_SendDiscovery() != KOVA_OK) {
        std::fprintf(stderr, "kova_flood: cannot open the connection\n");
        return 1;
    }
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(32153);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    kova::test::ReplyFields fields;
    fields.kind = random ? 5 : 0;
    std::mt19937_64 rng(7);
    long sent = 0;
    report("start", sent);
    const auto start = std::chrono::steady_clock::now();
    auto next = start + std::chrono::seconds(1);
    for (;;) {
        if (random) {
            const uint64_t mac = rng();
            std::memcpy(fields.mac.data(), &mac, 6);
        }
        const auto datagram = kova::test::BuildReply(fields);
        if (sendto(fd, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr *>(&to),
                   sizeof to) > 0)
            ++sent;
        if ((sent & 1023) == 0 && std::chrono::steady_clock::now() >= next) {
            const long second =
                std::chrono::duration_cast<std::chrono::seconds>(next - start).count();
            report((std::to_string(second) + " s").c_str(), sent);
            if (second >= seconds)
                break;
            next += std::chrono::seconds(1);
        }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    report("end", sent);
    close(fd);
    kova_Close();
    return 0;
}
