#include "devicerow.h"

#include <cctype>

#include "fieldtext.h"
#include "kovalibrary.h"

#include <cstdio>
#include <cstring>

namespace veltrona {

const std::array<const char *, kColumnCount> kColumnTitles = {
    VELTRONA_TEXT("DeviceRow", "Type"),        VELTRONA_TEXT("DeviceRow", "IP Address"),
    VELTRONA_TEXT("DeviceRow", "MAC Address"), VELTRONA_TEXT("DeviceRow", "Model"),
    VELTRONA_TEXT("DeviceRow", "SN"),          VELTRONA_TEXT("DeviceRow", "FW"),
    VELTRONA_TEXT("DeviceRow", "Web"),         VELTRONA_TEXT("DeviceRow", "AV1"),
    VELTRONA_TEXT("DeviceRow", "AV2"),         VELTRONA_TEXT("DeviceRow", "Conf"),
    VELTRONA_TEXT("DeviceRow", "Hostname"),
};

const std::array<int, kColumnCount> kColumnWidths = {60, 120, 125, 90, 90, 40, 40, 90, 90, 50, 90};

namespace {

// Protocol names; a flag of 0 or 1 shows entry 4 or 5.
constexpr std::array<const char *, 6> kProtocolNames = {"N/A", "vsm", "rtp", "3gpp", "X", "O"};

const char *protocolName(unsigned value) {
    return value < kProtocolNames.size() ? kProtocolNames[value] : "N/A";
}

const char *flagName(unsigned value) {
    return value <= 1 ? kProtocolNames[4 + value] : "N/A";
}

std::string number(unsigned value) {
    return std::to_string(value);
}

std::string portWithProtocol(unsigned port, unsigned protocol, unsigned flag) {
    return number(port) + "/" + protocolName(protocol) + "(" + flagName(flag) + ")";
}

// Into a zeroed field: at most N - 1 bytes, so the row's texts keep a terminator.
template <size_t N, size_t M> void copyText(char (&to)[N], const char (&from)[M]) {
    static_assert(N >= M);
    const std::string_view text = fieldView(from);
    std::memcpy(to, text.data(), text.size() < N ? text.size() : N - 1);
}

} // namespace

std::string formatMac(const uint8_t mac[6]) {
    char text[18];
    std::snprintf(text, sizeof text, "%.2X-%.2X-%.2X-%.2X-%.2X-%.2X", mac[0], mac[1], mac[2],
                  mac[3], mac[4], mac[5]);
    return text;
}

std::optional<std::array<uint8_t, 6>> parseMac(const std::string &text) {
    if (text.size() != 17)
        return std::nullopt;
    const char separator = text[2];
    if (separator != '-' && separator != ':')
        return std::nullopt;
    std::array<uint8_t, 6> mac{};
    for (std::size_t i = 0; i < mac.size(); ++i) {
        const std::size_t at = i * 3;
        if (i > 0 && text[at - 1] != separator)
            return std::nullopt;
        unsigned value = 0;
        for (std::size_t k = at; k < at + 2; ++k) {
            const unsigned char c = static_cast<unsigned char>(text[k]);
            if (!std::isxdigit(c))
                return std::nullopt;
            value = value * 16 +
                    static_cast<unsigned>(std::isdigit(c) ? c - '0' : std::tolower(c) - 'a' + 10);
        }
        mac[i] = static_cast<std::uint8_t>(value);
    }
    return mac;
}

uint64_t macKey(const uint8_t mac[6]) {
    uint64_t key = 0;
    for (int i = 0; i < 6; ++i)
        key = key << 8 | mac[i];
    return key;
}

static_assert(KOVA_MODE_STATIC == 0 && KOVA_MODE_DHCP == 1 && KOVA_MODE_PPPOE == 2,
              "kModeTexts is indexed by the mode");

std::string modeText(int32_t mode) {
    return mode >= 0 && static_cast<size_t>(mode) < kModeTexts.size() ? kModeTexts[mode]
                                                                      : std::string();
}

std::string columnText(const DEVICE_ROW &row, int column) {
    switch (column) {
    case ColType:
        return modeText(row.mode);
    case ColIpAddress:
        return fieldText(row.ipAddress);
    case ColMacAddress:
        return formatMac(row.mac);
    case ColModel:
        return fieldText(row.modelName);
    case ColSerial:
        return row.serialNumber[0] == 0 ? "N/A" : fieldText(row.serialNumber);
    case ColFirmware:
        // Version numbers: shown unsigned.
        return row.fwMajor == 0
                   ? "N/A"
                   : number(row.fwMajor) + "." + number(row.fwMinor) + "." + number(row.fwPatch);
    case ColWeb:
        return row.webPort == 0 ? "N/A" : number(row.webPort);
    case ColAv1:
        if (row.av1Port == 0)
            return "N/A";
        return row.av2Port == 0 ? number(row.av1Port)
                                : portWithProtocol(row.av1Port, row.av1Protocol, row.av1Flag);
    case ColAv2:
        return row.av2Port == 0 ? "N/A"
                                : portWithProtocol(row.av2Port, row.av2Protocol, row.av2Flag);
    case ColConf:
        return row.conf == 0 ? "N/A" : number(row.conf);
    case ColHostName:
        return fieldText(row.hostName);
    default:
        return {};
    }
}

std::array<std::string, kColumnCount> rowTexts(const DEVICE_ROW &row) {
    std::array<std::string, kColumnCount> texts;
    for (int column = 0; column < kColumnCount; ++column)
        texts[column] = columnText(row, column);
    return texts;
}

bool decodeDevice(KovaLibrary &library, HKOVAITEM item, DeviceRecord &record) {
    record = DeviceRecord{};
    record.item = item;
    if (library.getDeviceInfo(item, &record.info) != KOVA_OK)
        return false;
    KOVA_SERVICE_PORTS ports{};
    if (library.getServicePorts(item, &ports) == KOVA_OK)
        record.ports = ports;
    KOVA_FIRMWARE_INFO firmware{};
    if (library.getFirmwareInfo(item, &firmware) == KOVA_OK)
        record.firmware = firmware;
    int32_t flag = 0;
    if (library.getGuestAccount(item, &record.guestAccount) != KOVA_OK ||
        library.getItemFlag(item, &flag) != KOVA_OK)
        return false;
    if (library.getNetworkSettings(item, &record.network) != KOVA_OK)
        return false;
    int32_t version = 0;
    if (library.getReplyVersion(item, &version) == KOVA_OK)
        record.version = version;
    char interfaceName[KOVA_INTERFACE_NAME_SIZE] = {};
    if (library.getReplyInterface(item, interfaceName) == KOVA_OK)
        record.interfaceName = fieldText(interfaceName);
    return true;
}

DEVICE_ROW rowOf(const DeviceRecord &record) {
    DEVICE_ROW row{};
    const KOVA_DEVICE_INFO &info = record.info;
    copyText(row.ipAddress, info.ipAddress);
    std::memcpy(row.mac, info.mac, sizeof row.mac);
    copyText(row.hostName, info.hostName);
    copyText(row.modelName, info.modelName);
    if (const std::optional<KOVA_SERVICE_PORTS> &ports = record.ports) {
        row.webPort = ports->webPort;
        row.av1Port = ports->av1Port;
        row.av2Port = ports->av2Port;
        row.conf = ports->conf;
        row.av1Protocol = ports->av1Protocol;
        row.av2Protocol = ports->av2Protocol;
        row.av1Flag = ports->av1Flag;
        row.av2Flag = ports->av2Flag;
    }
    if (const std::optional<KOVA_FIRMWARE_INFO> &firmware = record.firmware) {
        row.fwMajor = firmware->fwMajor;
        row.fwMinor = firmware->fwMinor;
        row.fwPatch = firmware->fwPatch;
        row.fwReserved = firmware->fwReserved;
        std::memcpy(row.serialNumber, firmware->serialNumber, sizeof row.serialNumber);
    }
    row.mode = record.network.mode;
    return row;
}

bool assembleDeviceRow(KovaLibrary &library, HKOVAITEM item, DEVICE_ROW &row) {
    DeviceListRow listed;
    const bool decoded = assembleDeviceRow(library, item, listed);
    row = listed.row;
    return decoded;
}

bool assembleDeviceRow(KovaLibrary &library, HKOVAITEM item, DeviceListRow &listed) {
    listed = DeviceListRow{DEVICE_ROW{}, item};
    DeviceRecord record;
    if (!decodeDevice(library, item, record))
        return false;
    listed.row = rowOf(record);
    record.interfaceName.copy(listed.interfaceName, sizeof listed.interfaceName - 1);
    if (record.network.mode == KOVA_MODE_STATIC)
        std::memcpy(listed.configuredAddress, record.network.ipAddress,
                    std::min(sizeof listed.configuredAddress - 1, sizeof record.network.ipAddress));
    return true;
}

const char *updateResultText(int32_t event) {
    switch (static_cast<uint32_t>(event)) {
    case 1:
        return VELTRONA_TEXT("DeviceRow", "Protocol Type mismatched!");
    case KOVA_EVENT_AUTH_FAILED:
        return VELTRONA_TEXT("DeviceRow", "Authentication Failed!");
    case 3:
        return VELTRONA_TEXT("DeviceRow", "Update failed! Try later...");
    case KOVA_EVENT_SUCCESS:
        return VELTRONA_TEXT("DeviceRow", "Success");
    case 5:
        return VELTRONA_TEXT("DeviceRow", "Update failed! Unknown error...");
    default:
        return nullptr;
    }
}

} // namespace veltrona
