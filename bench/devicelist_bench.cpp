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
#include <ctime>
#include <map>
#include <string>
#include <utility>
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

// A whole /16 of rows in a shown list: each header click on "IP Address"
// (descending, then ascending) with the repaint that shows it.
double g_sixteenDescendingMs = 0;
double g_sixteenAscendingMs = 0;
double g_sixteenDescendingCpuMs = 0;
double g_sixteenAscendingCpuMs = 0;

// Processor time of this thread: on a busy machine the wall time holds waits too.
double threadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}
constexpr int kSixteenRows = 65533;

void BM_HeaderClickSortWholeSixteen(benchmark::State &state) {
    static const Fixture f(kSixteenRows);
    FixtureItems library;
    library.fixture = &f;
    std::vector<DeviceListRow> rows;
    for (size_t i = 0; i < f.rows.size(); ++i)
        rows.push_back({f.rows[i], f.items[i]});
    double descending = 0, ascending = 0, descendingCpu = 0, ascendingCpu = 0;
    for (auto _ : state) {
        CDeviceListCtrl list(nullptr, library);
        list.InitColumns();
        list.resize(900, 500);
        list.show();
        list.AddDevices(rows);
        list.viewport()->repaint();
        for (auto [total, cpu] :
             {std::pair{&descending, &descendingCpu}, std::pair{&ascending, &ascendingCpu}}) {
            const auto start = std::chrono::steady_clock::now();
            const double cpuStart = threadCpuMs();
            list.OnColumnClick(veltrona::ColIpAddress);
            list.viewport()->repaint();
            *total +=
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                    .count();
            *cpu += threadCpuMs() - cpuStart;
        }
        benchmark::DoNotOptimize(list.GetItemData(0));
    }
    g_sixteenDescendingMs = descending / double(state.iterations());
    g_sixteenAscendingMs = ascending / double(state.iterations());
    g_sixteenDescendingCpuMs = descendingCpu / double(state.iterations());
    g_sixteenAscendingCpuMs = ascendingCpu / double(state.iterations());
}

BENCHMARK(BM_DeviceListAddAndSort)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_LiteralAddAndSort)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_HeaderClickSortWholeSixteen)->Unit(benchmark::kMillisecond)->Iterations(5);

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
    if (g_sixteenDescendingMs > 0)
        std::printf("%d rows shown, header click on IP Address with its repaint: %.1f ms "
                    "descending, %.1f ms ascending (%.1f and %.1f ms on the processor)\n",
                    kSixteenRows, g_sixteenDescendingMs, g_sixteenAscendingMs,
                    g_sixteenDescendingCpuMs, g_sixteenAscendingCpuMs);
    return 0;
}
