// Fuzz target: an arbitrary datagram goes through the receive path's checks,
// into an item table, and through every decoder and request builder.
#include "item_table.h"
#include "wire.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

void Require(bool condition) {
    if (!condition)
        std::abort();
}

template <size_t N> void RequireTerminated(const char (&text)[N]) {
    Require(std::memchr(text, '\0', N) != nullptr);
}

void DecodeEverything(std::span<const uint8_t> stored) {
    const uint8_t source[4] = {10, 0, 0, 5};
    KOVA_DEVICE_INFO info;
    kova::wire::DecodeDeviceInfo(stored, source, info);
    RequireTerminated(info.ipAddress);
    RequireTerminated(info.modelName);
    RequireTerminated(info.hostName);
    RequireTerminated(info.domainName);
    KOVA_NETWORK_SETTINGS settings;
    kova::wire::DecodeNetworkSettings(stored, settings);
    RequireTerminated(settings.ipAddress);
    RequireTerminated(settings.netMask);
    RequireTerminated(settings.gateway);
    RequireTerminated(settings.dnsServer);
    RequireTerminated(settings.pppoeDnsServer);
    KOVA_SERVICE_PORTS ports;
    kova::wire::DecodeServicePorts(stored, ports);
    KOVA_FIRMWARE_INFO firmware;
    kova::wire::DecodeFirmwareInfo(stored, firmware);
    Require(kova::wire::DecodeGuestAccount(stored) <= 255);
    kova::wire::ReplyVersion(stored);
}

const kova::wire::BlockRandom kFixed = [] { return std::array<uint8_t, 5>{0x5A, 1, 2, 3, 4}; };

void BuildEveryRequest(const KOVA_ITEM &item) {
    KOVA_NETWORK_SETTINGS settings;
    kova::wire::DecodeNetworkSettings(kova::StoredBytes(item), settings);
    std::vector<uint8_t> request;
    for (int32_t mode : {KOVA_MODE_STATIC, KOVA_MODE_DHCP, KOVA_MODE_PPPOE}) {
        settings.mode = mode;
        if (kova::wire::BuildSetNetwork(item, "admin", "secret", &settings, kFixed, request) ==
            KOVA_OK) {
            const auto sent = kova::wire::Finish(request, item.version, kova::wire::kTrailer);
            Require(sent.size() == static_cast<size_t>(sent[5] | sent[6] << 8));
        }
    }
    KOVA_DEVICE_INFO info;
    kova::wire::DecodeDeviceInfo(kova::StoredBytes(item), item.sourceAddress, info);
    const char *host = std::strlen(info.hostName) <= 32 ? info.hostName : "h";
    Require(kova::wire::BuildSetHostName(item, "admin", "", host, info.domainName, kFixed,
                                         request) == KOVA_OK);
    const int32_t guest = 1;
    Require(kova::wire::BuildSetAccount(item, "admin", "a", "b", &guest, kFixed, request) ==
            KOVA_OK);
    Require(request.size() == 69);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::span<const uint8_t> datagram(data, size);
    // The decoders read whatever a record holds; here straight from the input,
    // whose exact size lets the address sanitizer see any read past it.
    if (size <= KOVA_MAX_DATAGRAM)
        DecodeEverything(datagram);
    if (size == 0 || size > KOVA_MAX_DATAGRAM)
        return 0;
    const auto event = kova::wire::EventForReply(datagram);
    if (!event)
        return 0;

    kova::RecordRegistry registry;
    kova::ItemTable table;
    uint8_t work[KOVA_MAX_DATAGRAM] = {};
    std::memcpy(work, data, size);
    const uint8_t source[4] = {192, 168, 0, 7};
    KOVA_ITEM *item = table.Store(registry, work, size, source);
    // A result from a new device keeps only its key.
    Require(item != nullptr && item->storedLength == (work[7] == 5 ? size : 15));
    // The same device answering again, with a result, keeps its record.
    uint8_t result[KOVA_MAX_DATAGRAM] = {};
    std::memcpy(result, work, 16);
    result[7] = 0;
    Require(table.Store(registry, result, 16, source) == item);
    DecodeEverything(kova::StoredBytes(*item));
    BuildEveryRequest(*item);
    return 0;
}
