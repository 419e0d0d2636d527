// Storing replies of 10,000 distinct devices in the item table, against a
// baseline that finds devices by walking a linked list; and decoding a record.
#include "item_table.h"
#include "reply_builder.h"
#include "wire.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int kDevices = 10000;

const std::vector<std::vector<uint8_t>> &Replies() {
    static const auto replies = [] {
        std::vector<std::vector<uint8_t>> all;
        for (int i = 0; i < kDevices; ++i) {
            kova::test::ReplyFields fields;
            fields.mac = {0x00,
                          0x1A,
                          0x2B,
                          static_cast<uint8_t>(i >> 16),
                          static_cast<uint8_t>(i >> 8),
                          static_cast<uint8_t>(i)};
            auto bytes = kova::test::BuildReply(fields);
            bytes.resize(KOVA_MAX_DATAGRAM, 0); // the work buffer of the receive loop
            all.push_back(std::move(bytes));
        }
        return all;
    }();
    return replies;
}

// Each device answers twice (a scan sends two discoveries).
void BM_StoreHashIndexed(benchmark::State &state) {
    const auto &replies = Replies();
    const uint8_t source[4] = {10, 0, 0, 1};
    for (auto _ : state) {
        kova::RecordRegistry registry;
        kova::ItemTable table;
        for (int pass = 0; pass < 2; ++pass)
            for (const auto &r : replies)
                benchmark::DoNotOptimize(table.Store(
                    registry,
                    std::span<const uint8_t, KOVA_MAX_DATAGRAM>(r.data(), KOVA_MAX_DATAGRAM),
                    r.size(), source));
    }
    state.SetItemsProcessed(state.iterations() * 2 * kDevices);
}

// The list walk: every reply compares keys from the head to the spare record.
struct Node {
    KOVA_ITEM item{};
    std::unique_ptr<Node> next;
};

void BM_StoreLinearListBaseline(benchmark::State &state) {
    const auto &replies = Replies();
    for (auto _ : state) {
        auto head = std::make_unique<Node>();
        for (int pass = 0; pass < 2; ++pass) {
            for (const auto &r : replies) {
                Node *n = head.get();
                while (n->next && std::memcmp(n->item.datagram + 9, r.data() + 9, 6) != 0)
                    n = n->next.get();
                if (!n->next)
                    n->next = std::make_unique<Node>(); // the fresh spare record
                std::memcpy(n->item.datagram, r.data(), KOVA_MAX_DATAGRAM);
                benchmark::DoNotOptimize(n);
            }
        }
        while (head) // iterative release: a recursive one would overflow the stack
            head = std::move(head->next);
    }
    state.SetItemsProcessed(state.iterations() * 2 * kDevices);
}

void BM_DecodeAll(benchmark::State &state) {
    const auto reply = kova::test::BuildReply({});
    const uint8_t source[4] = {10, 0, 0, 1};
    KOVA_DEVICE_INFO info;
    KOVA_NETWORK_SETTINGS settings;
    KOVA_SERVICE_PORTS ports;
    KOVA_FIRMWARE_INFO firmware;
    for (auto _ : state) {
        kova::wire::DecodeDeviceInfo(reply, source, info);
        kova::wire::DecodeNetworkSettings(reply, settings);
        kova::wire::DecodeServicePorts(reply, ports);
        kova::wire::DecodeFirmwareInfo(reply, firmware);
        benchmark::DoNotOptimize(kova::wire::DecodeGuestAccount(reply));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_StoreHashIndexed)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StoreLinearListBaseline)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeAll);

// Remembers the CPU time per iteration of each benchmark to print the ratio.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run> &runs) override {
        for (const auto &run : runs)
            if (run.run_type == Run::RT_Iteration && run.iterations > 0)
                perIteration[run.benchmark_name()] = run.GetAdjustedCPUTime();
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> perIteration;
};

} // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const auto &t = reporter.perIteration;
    const auto hash = t.find("BM_StoreHashIndexed");
    const auto list = t.find("BM_StoreLinearListBaseline");
    if (hash != t.end() && list != t.end() && hash->second > 0)
        std::printf(
            "storing %d devices twice: list walk %.2f ms, hash index %.2f ms, %.1fx faster\n",
            kDevices, list->second, hash->second, list->second / hash->second);
    benchmark::Shutdown();
    return 0;
}
