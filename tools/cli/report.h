#pragma once
// What veltrona-cli knows of one device, and the scan's output formats.

#include "devicerow.h"
#include "kova.h"

#include <QByteArray>
#include <QJsonObject>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace veltrona::cli {

// Everything decoded from one device-information reply, copied on the receive
// thread at the moment the reply arrived.
struct FoundDevice {
    HKOVAITEM item = nullptr;
    DEVICE_ROW row{}; // the list row, as the scan of the main window makes it
    KOVA_DEVICE_INFO info{};
    KOVA_NETWORK_SETTINGS network{};
    std::int32_t guestAccount = 0;
    std::optional<std::int32_t> version;
    std::optional<KOVA_SERVICE_PORTS> ports;    // none below version 3
    std::optional<KOVA_FIRMWARE_INFO> firmware; // none below version 3
};

// Decodes a device-information item as the scan does; false when the reply is
// dropped (see assembleDeviceRow).
bool decodeDevice(HKOVAITEM item, FoundDevice &device);

// The text of a fixed-size field that may fill it without a terminator.
template <std::size_t N> std::string fieldText(const char (&field)[N]) {
    std::size_t length = 0;
    while (length < N && field[length] != '\0')
        ++length;
    return std::string(field, length);
}

// One field of comma-separated values, quoted when it holds a comma, a quote
// or a line end (quotes doubled).
std::string csvField(const std::string &text);

// The eleven column titles and one line per device, aligned; control
// characters in device texts (C0, DEL and C1) are shown as '?'. CSV and JSON
// keep the texts exact.
std::string formatTable(const std::vector<FoundDevice> &devices, bool showSecrets);

// The eleven column titles and one line per device, comma-separated, "\n" at
// each line end.
std::string formatCsv(const std::vector<FoundDevice> &devices, bool showSecrets);

// One object per device: the column texts under "columns", every decoded field
// under its record field name, the reply's version byte as "version".
QJsonObject deviceJson(const FoundDevice &device, bool showSecrets);
QByteArray formatJson(const std::vector<FoundDevice> &devices, bool showSecrets);

// The title of the extra column that --show-secrets adds to table and CSV.
inline constexpr const char *kSecretColumnTitle = "PPPoE Password";

} // namespace veltrona::cli
