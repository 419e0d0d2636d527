// Checking a plan before anything is sent: 10,000 rows, each re-addressing a
// device, against the 10,000 devices heard in the scan (every one a holder to
// look up), with a chain of moves in which each device takes the address the
// next one leaves. No network: the library is never called.
#include "changeengine.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <deque>

namespace {

using namespace veltrona::change;

constexpr int kDevices = 10000;

std::string address(int n) {
    return "10.77." + std::to_string(n / 250) + "." + std::to_string(n % 250 + 1);
}

struct Site {
    std::vector<veltrona::DeviceRecord> devices;
    std::vector<DeviceChange> changes;
    Credentials credentials{"admin", "secret", std::nullopt};

    Site() {
        devices.resize(kDevices);
        for (int n = 0; n < kDevices; ++n) {
            veltrona::DeviceRecord &d = devices[static_cast<std::size_t>(n)];
            const std::uint8_t mac[6] = {0x02,
                                         0x4B,
                                         0x56,
                                         static_cast<std::uint8_t>(n >> 16),
                                         static_cast<std::uint8_t>(n >> 8),
                                         static_cast<std::uint8_t>(n)};
            std::memcpy(d.info.mac, mac, 6);
            const std::string ip = address(n);
            std::strcpy(d.info.ipAddress, ip.c_str());
            std::strcpy(d.info.hostName, ("cam-" + std::to_string(n)).c_str());
            d.network.mode = KOVA_MODE_STATIC;
            std::strcpy(d.network.ipAddress, ip.c_str());
            std::strcpy(d.network.netMask, "255.255.0.0");
            std::strcpy(d.network.gateway, "10.77.0.1");
        }
        // Half move into the next device's address (a chain ending at a free
        // address), half to addresses of their own.
        for (int n = 0; n < kDevices; ++n) {
            const veltrona::DeviceRecord &d = devices[static_cast<std::size_t>(n)];
            DeviceChange change;
            change.row = n + 2;
            std::memcpy(change.mac.data(), d.info.mac, 6);
            change.device = &d;
            change.settings = d.network;
            const std::string target = n < kDevices / 2 ? address(n + 1) : address(n + kDevices);
            std::strcpy(change.settings.ipAddress, target.c_str());
            change.steps = {Step::Network};
            change.credentials = &credentials;
            changes.push_back(change);
        }
    }
};

void CheckTenThousandRows(benchmark::State &state) {
    static const Site site;
    veltrona::KovaLibrary library;
    for (auto _ : state) {
        ChangeEngine engine(library, site.changes, {});
        const auto problems = engine.check(heardDevices(site.devices));
        if (!problems.empty())
            state.SkipWithError("the site has problems");
        benchmark::DoNotOptimize(problems);
    }
}
BENCHMARK(CheckTenThousandRows)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
