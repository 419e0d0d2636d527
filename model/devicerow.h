#pragma once
// A device's decoded reply, the row of the device list made from it and the
// texts of the row's eleven columns; and the message for a device's answer to
// a change. Shared by the main window, the setting page and the command-line
// client; no Qt here.

#include "kova.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>

struct DEVICE_ROW {
    int32_t mode; // 0 static IP, 1 DHCP, 2 PPPoE
    uint8_t mac[6];
    char ipAddress[16];
    char hostName[64];
    char modelName[64];
    uint16_t webPort;
    uint16_t av1Port;
    uint16_t av2Port;
    uint16_t conf;
    uint8_t av1Protocol;
    uint8_t av2Protocol;
    uint8_t av1Flag;
    uint8_t av2Flag;
    uint8_t fwMajor;
    uint8_t fwMinor;
    uint8_t fwPatch;
    uint8_t fwReserved;
    char serialNumber[16]; // may fill the field without a terminator
};

// One listed device: the record its row was made from, its library item, the
// interface its reply arrived on (empty when not known) and its configured
// address.
struct DeviceListRow {
    DEVICE_ROW row;
    HKOVAITEM item;
    char interfaceName[KOVA_INTERFACE_NAME_SIZE] = {};
    // A static device's configured address (it holds it too); empty otherwise.
    char configuredAddress[16] = {};
};

namespace veltrona {

class KovaLibrary;

// Everything decoded from one device-information reply, each field read from
// the library once. The window keeps only the row made from it; the
// command-line client keeps the whole record.
struct DeviceRecord {
    HKOVAITEM item = nullptr;
    KOVA_DEVICE_INFO info{};
    KOVA_NETWORK_SETTINGS network{};
    int32_t guestAccount = 0;
    std::optional<int32_t> version;
    std::optional<KOVA_SERVICE_PORTS> ports;    // none below version 3
    std::optional<KOVA_FIRMWARE_INFO> firmware; // none below version 3
    std::string interfaceName;                  // where the reply arrived; empty if unknown
};

// Decodes a device-information item as the scan does: false when the device
// information, guest flag, item flag or network settings cannot be read (the
// reply is then dropped).
bool decodeDevice(KovaLibrary &library, HKOVAITEM item, DeviceRecord &record);

// The list row of a decoded reply: ports and firmware 0 when it has none.
DEVICE_ROW rowOf(const DeviceRecord &record);

// The row of a device-information item, decoded and made as above; false when
// the reply is dropped.
bool assembleDeviceRow(KovaLibrary &library, HKOVAITEM item, DEVICE_ROW &row);
// The same with the item and the interface the reply arrived on, read at once
// so that each reply keeps its own even when the device answers again.
bool assembleDeviceRow(KovaLibrary &library, HKOVAITEM item, DeviceListRow &listed);

inline constexpr int kColumnCount = 11;

enum Column {
    ColType = 0,
    ColIpAddress = 1,
    ColMacAddress = 2,
    ColModel = 3,
    ColSerial = 4,
    ColFirmware = 5,
    ColWeb = 6,
    ColAv1 = 7,
    ColAv2 = 8,
    ColConf = 9,
    ColHostName = 10,
};

// Marks a text that the window shows translated (in the context kTextContext)
// while the client shows it as it stands; the translation tools take it for
// QT_TRANSLATE_NOOP.
#define VELTRONA_TEXT(context, text) text
inline constexpr const char *kTextContext = "DeviceRow";

// Column titles and widths in pixels, in index order.
extern const std::array<const char *, kColumnCount> kColumnTitles;
extern const std::array<int, kColumnCount> kColumnWidths;

// "%.2X-%.2X-%.2X-%.2X-%.2X-%.2X".
std::string formatMac(const uint8_t mac[6]);

// A MAC as one number, for hash maps keyed by device.
uint64_t macKey(const uint8_t mac[6]);

// Six bytes written as two hexadecimal digits each, joined by "-" or ":" (one
// separator throughout), in either case.
std::optional<std::array<uint8_t, 6>> parseMac(const std::string &text);

// The names of the network modes, indexed by the record's coding
// (KOVA_MODE_STATIC, KOVA_MODE_DHCP, KOVA_MODE_PPPOE).
inline constexpr std::array<const char *, 3> kModeTexts = {"static", "dhcp", "pppoe"};

// "static", "dhcp", "pppoe", or empty for another mode.
std::string modeText(int32_t mode);

// The text of one column (0 to 10) of the row; empty for another index.
std::string columnText(const DEVICE_ROW &row, int column);

std::array<std::string, kColumnCount> rowTexts(const DEVICE_ROW &row);

// The message for a device's answer to a configuration request; null for an
// event that shows none (6 among them). Marked for translation, as are the
// column titles.
const char *updateResultText(int32_t event);

} // namespace veltrona
