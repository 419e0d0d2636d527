#include "report.h"

#include "csv.h"
#include "printable.h"

#include <algorithm>

namespace veltrona::cli {

namespace {

// Device texts are 8-bit; they are UTF-8 when they decode as such, else Latin-1.
json::Value jsonText(const std::string &bytes) {
    return json::Value::string(deviceTextUtf8(bytes));
}

template <std::size_t N> json::Value jsonField(const char (&field)[N]) {
    return jsonText(fieldText(field));
}

std::vector<std::string> titles(bool showSecrets) {
    std::vector<std::string> result(kColumnTitles.begin(), kColumnTitles.end());
    if (showSecrets)
        result.push_back(kSecretColumnTitle);
    return result;
}

std::vector<std::string> cells(const FoundDevice &device, bool showSecrets) {
    const auto texts = rowTexts(rowOf(device));
    std::vector<std::string> result(texts.begin(), texts.end());
    if (showSecrets)
        result.push_back(fieldText(device.network.pppoePassword));
    return result;
}

} // namespace

std::string formatTable(const std::vector<FoundDevice> &devices, bool showSecrets) {
    std::vector<std::vector<std::string>> lines{titles(showSecrets)};
    for (const FoundDevice &device : devices) {
        std::vector<std::string> line = cells(device, showSecrets);
        for (std::string &cell : line)
            cell = printable(cell);
        lines.push_back(std::move(line));
    }
    std::vector<std::size_t> widths(lines.front().size(), 0);
    for (const auto &line : lines)
        for (std::size_t i = 0; i < line.size(); ++i)
            widths[i] = std::max(widths[i], displayWidth(line[i]));
    std::string out;
    for (const auto &line : lines) {
        std::string text;
        for (std::size_t i = 0; i < line.size(); ++i) {
            text += line[i];
            if (i + 1 < line.size())
                text += std::string(widths[i] - displayWidth(line[i]) + 2, ' ');
        }
        while (!text.empty() && text.back() == ' ')
            text.pop_back();
        out += text + "\n";
    }
    return out;
}

std::string formatCsv(const std::vector<FoundDevice> &devices, bool showSecrets) {
    auto join = [](const std::vector<std::string> &fields) {
        std::string line;
        for (std::size_t i = 0; i < fields.size(); ++i)
            line += (i == 0 ? "" : ",") + csvField(fields[i]);
        return line + "\n";
    };
    std::vector<std::string> header = titles(showSecrets);
    header.push_back(kInterfaceColumnTitle);
    std::string out = join(header);
    for (const FoundDevice &device : devices) {
        std::vector<std::string> line = cells(device, showSecrets);
        line.push_back(device.interfaceName);
        out += join(line);
    }
    return out;
}

json::Value deviceJson(const FoundDevice &device, bool showSecrets) {
    using json::Value;
    Value columns = Value::object();
    const auto texts = rowTexts(rowOf(device));
    for (int i = 0; i < kColumnCount; ++i)
        columns.insert(kColumnTitles[i], jsonText(texts[i]));

    const KOVA_DEVICE_INFO &info = device.info;
    const KOVA_NETWORK_SETTINGS &net = device.network;
    Value object = Value::object();
    object.insert("columns", std::move(columns));
    object.insert("mac", Value::string(formatMac(info.mac)));
    object.insert("ipAddress", jsonField(info.ipAddress));
    object.insert("modelName", jsonField(info.modelName));
    object.insert("hostName", jsonField(info.hostName));
    object.insert("domainName", jsonField(info.domainName));
    object.insert("mode", Value::number(net.mode));
    // The address in the device's network settings; "ipAddress" is the
    // address its reply came from.
    object.insert("settingsIpAddress", jsonField(net.ipAddress));
    object.insert("netMask", jsonField(net.netMask));
    object.insert("gateway", jsonField(net.gateway));
    object.insert("dnsServer", jsonField(net.dnsServer));
    object.insert("pppoeUserName", jsonField(net.pppoeUserName));
    object.insert("pppoeServiceName", jsonField(net.pppoeServiceName));
    object.insert("mtu", Value::number(static_cast<std::uint32_t>(net.mtu)));
    object.insert("dnsMode", Value::number(net.dnsMode));
    object.insert("pppoeDnsServer", jsonField(net.pppoeDnsServer));
    object.insert("guestAccount", Value::number(device.guestAccount));
    object.insert("version", device.version ? Value::number(*device.version) : Value());
    if (showSecrets)
        object.insert("pppoePassword", jsonField(net.pppoePassword));

    // Ports and firmware are null for replies that carry none (below version 3).
    const std::optional<KOVA_SERVICE_PORTS> &ports = device.ports;
    auto port = [&](auto member) {
        return ports ? Value::number(static_cast<int>((*ports).*member)) : Value();
    };
    object.insert("av1Port", port(&KOVA_SERVICE_PORTS::av1Port));
    object.insert("webPort", port(&KOVA_SERVICE_PORTS::webPort));
    object.insert("av2Port", port(&KOVA_SERVICE_PORTS::av2Port));
    object.insert("conf", port(&KOVA_SERVICE_PORTS::conf));
    object.insert("av1Protocol", port(&KOVA_SERVICE_PORTS::av1Protocol));
    object.insert("av2Protocol", port(&KOVA_SERVICE_PORTS::av2Protocol));
    object.insert("av1Flag", port(&KOVA_SERVICE_PORTS::av1Flag));
    object.insert("av2Flag", port(&KOVA_SERVICE_PORTS::av2Flag));

    const std::optional<KOVA_FIRMWARE_INFO> &firmware = device.firmware;
    auto part = [&](auto member) {
        return firmware ? Value::number(static_cast<int>((*firmware).*member)) : Value();
    };
    object.insert("fwMajor", part(&KOVA_FIRMWARE_INFO::fwMajor));
    object.insert("fwMinor", part(&KOVA_FIRMWARE_INFO::fwMinor));
    object.insert("fwPatch", part(&KOVA_FIRMWARE_INFO::fwPatch));
    object.insert("fwReserved", part(&KOVA_FIRMWARE_INFO::fwReserved));
    object.insert("serialNumber", firmware ? jsonField(firmware->serialNumber) : Value());
    object.insert("interfaceName", jsonText(device.interfaceName));
    return object;
}

std::string formatJson(const std::vector<FoundDevice> &devices, bool showSecrets) {
    json::Value array = json::Value::array();
    for (const FoundDevice &device : devices)
        array.append(deviceJson(device, showSecrets));
    return array.write();
}

} // namespace veltrona::cli
