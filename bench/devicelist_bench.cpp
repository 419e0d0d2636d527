// The device list with 10,000 rows: AddDevice for every row, then a header
// click (sort by IP address) and one on another column (model), against the
// same steps done literally (a linear duplicate check, and a sort whose every
// comparison decodes both items and searches their rows again). Prints the
// ratio of the two.
#include "devicelistctrl.h"
#include "literal_device_list.h"

#include <QApplication>
#include <QRandomGenerator>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

struct Fixture {
    std::vector<DEVICE_ROW> rows;
    std::vector<HKOVAITEM> items;
    std::map<HKOVAITEM, std::array<uint8_t, 6>> macs;

    explicit Fixture(int count) {
        QRandomGenerator random(7);
        const char *models[] = {"KV-2100", "KV-400", "VS-4", "KV-10", "KV-5000"};
        for (int i = 0; i < count; ++i) {
            DEVICE_ROW row{};
            const uint8_t mac[6] = {0x02,
                                    0x4B,
                                    uint8_t(i >> 16),
                                    uint8_t(i >> 8),
                                    uint8_t(i),
                                    uint8_t(random.bounded(256))};
            std::memcpy(row.mac, mac, 6);
            std::snprintf(row.ipAddress, sizeof row.ipAddress, "10.%u.%u.%u", random.bounded(256),
                          random.bounded(256), random.bounded(1, 255));
            std::strcpy(row.modelName, models[random.bounded(5)]);
            std::snprintf(row.hostName, sizeof row.hostName, "cam-%d", i);
            row.mode = int32_t(random.bounded(3));
            row.webPort = 80;
            row.av1Port = 554;
            row.fwMajor = 2;
            HKOVAITEM item = reinterpret_cast<HKOVAITEM>(uintptr_t(i + 1) * 64);
            rows.push_back(row);
            items.push_back(item);
            std::array<uint8_t, 6> key;
            std::memcpy(key.data(), mac, 6);
            macs[item] = key;
        }
    }
    bool read(HKOVAITEM item, uint8_t out[6]) const {
        const auto found = macs.find(item);
        if (found == macs.end())
            return false;
        std::memcpy(out, found->second.data(), 6);
        return true;
    }
};

// The library as the list sees it: an item's device information holds the
// MAC address the fixture gives it.
struct FixtureItems : veltrona::KovaLibrary {
    const Fixture *fixture = nullptr;
    int32_t getDeviceInfo(HKOVAITEM item, KOVA_DEVICE_INFO *info) override {
        *info = KOVA_DEVICE_INFO{};
        return fixture->read(item, info->mac) ? KOVA_OK : KOVA_ERR_BAD_HANDLE;
    }
};

constexpr int kRows = 10000;
double g_listSeconds = 0;
double g_literalSeconds = 0;

const Fixture &fixture() {
    static const Fixture f(kRows);
    return f;
}

void BM_DeviceListAddAndSort(benchmark::State &state) {
    const Fixture &f = fixture();
    FixtureItems library;
    library.fixture = &f;
    double seconds = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        CDeviceListCtrl list(nullptr, library);
        list.InitColumns();
        for (size_t i = 0; i < f.rows.size(); ++i)
            list.AddDevice(&f.rows[i], f.items[i]);
        list.OnColumnClick(veltrona::ColIpAddress);
        list.OnColumnClick(veltrona::ColModel);
        benchmark::DoNotOptimize(list.GetItemData(0));
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    g_listSeconds = seconds / double(state.iterations());
}

void BM_LiteralAddAndSort(benchmark::State &state) {
    const Fixture &f = fixture();
    double seconds = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        literal::DeviceList list(
            [&f](HKOVAITEM item, uint8_t mac[6]) { return f.read(item, mac); });
        for (size_t i = 0; i < f.rows.size(); ++i)
            list.AddDevice(&f.rows[i], f.items[i]);
        list.OnColumnClick(veltrona::ColIpAddress);
        list.OnColumnClick(veltrona::ColModel);
        benchmark::DoNotOptimize(list.rows.front().item);
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    g_literalSeconds = seconds / double(state.iterations());
}

BENCHMARK(BM_DeviceListAddAndSort)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_LiteralAddAndSort)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

int main(int argc, char **argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (g_listSeconds > 0 && g_literalSeconds > 0)
        std::printf("%d rows, AddDevice and two header clicks: literal %.3f s, list %.3f s, "
                    "ratio %.1f\n",
                    kRows, g_literalSeconds, g_listSeconds, g_literalSeconds / g_listSeconds);
    return 0;
}
