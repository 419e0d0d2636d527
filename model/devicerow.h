#pragma once
// One row of the device list: the record assembled from a device's decoded
// reply, and the texts of its eleven columns; and the message for a device's
// answer to a change. Shared by the main window, the setting page and the
// command-line client; no Qt here.

#include "kova.h"

#include <array>
#include <cstdint>
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

// One listed device: the record its row was made from and its library item.
struct DeviceListRow {
    DEVICE_ROW row;
    HKOVAITEM item;
};

namespace veltrona {

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

// Column titles and widths in pixels, in index order.
extern const std::array<const char *, kColumnCount> kColumnTitles;
extern const std::array<int, kColumnCount> kColumnWidths;

// "%.2X-%.2X-%.2X-%.2X-%.2X-%.2X".
std::string formatMac(const uint8_t mac[6]);

// "static", "dhcp", "pppoe", or empty for another mode.
std::string modeText(int32_t mode);

// The text of one column (0 to 10) of the row; empty for another index.
std::string columnText(const DEVICE_ROW &row, int column);

std::array<std::string, kColumnCount> rowTexts(const DEVICE_ROW &row);

// Builds the row of a device-information item as the scan does: false when the
// device information, guest flag, item flag or network settings cannot be read
// (the reply is then dropped); ports and firmware stay 0 when the reply has none.
bool assembleDeviceRow(HKOVAITEM item, DEVICE_ROW &row);

// The message for a device's answer to a configuration request; null for an
// event that shows none (6 among them).
const char *updateResultText(int32_t event);

} // namespace veltrona
