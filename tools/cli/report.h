#pragma once
// What veltrona-cli knows of one device, and the scan's output formats.

#include "devicerow.h"
#include "fieldtext.h"
#include "json.h"
#include "kova.h"

#include <string>
#include <vector>

namespace veltrona::cli {

// Everything decoded from one device-information reply, copied on the receive
// thread at the moment the reply arrived (see veltrona::decodeDevice); its list
// row is made from it (veltrona::rowOf).
using FoundDevice = DeviceRecord;

// The eleven column titles and one line per device, aligned, in UTF-8; device
// texts pass veltrona::printable (control characters shown as '?'). CSV and
// JSON keep the texts exact.
std::string formatTable(const std::vector<FoundDevice> &devices, bool showSecrets);

// The eleven column titles and one line per device, comma-separated, "\n" at
// each line end; the interface each device was heard on in a last column.
std::string formatCsv(const std::vector<FoundDevice> &devices, bool showSecrets);

// One object per device: the column texts under "columns", every decoded field
// under its record field name, the reply's version byte as "version", the
// interface it was heard on as "interfaceName".
json::Value deviceJson(const FoundDevice &device, bool showSecrets);
std::string formatJson(const std::vector<FoundDevice> &devices, bool showSecrets);

// The title of the extra column that --show-secrets adds to table and CSV.
inline constexpr const char *kSecretColumnTitle = "PPPoE Password";
// The title of the CSV's last column.
inline constexpr const char *kInterfaceColumnTitle = "Interface";

} // namespace veltrona::cli
