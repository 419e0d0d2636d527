#include "plan.h"

#include "csv.h"
#include "devicerow.h"
#include "printable.h"
#include "problems.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <QStringDecoder>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>

namespace veltrona::cli {

namespace {

const std::vector<std::string> kCurrent = {"mac",  "model", "serial",  "address",
                                           "mode", "ip",    "netmask", "gateway",
                                           "dns",  "host",  "domain",  "guest"};
const std::vector<std::string> kNew = {"new_mode", "new_ip",   "new_netmask", "new_gateway",
                                       "new_dns",  "new_host", "new_domain",  "new_guest"};
const std::vector<std::string> kOptionalNew = {"new_mtu", "new_dns_mode", "new_pppoe_user",
                                               "new_pppoe_service", "new_pppoe_dns"};

std::optional<std::uint32_t> addressValue(const std::string &text) {
    const std::optional<std::string> canonical = canonicalIpv4(text);
    if (!canonical)
        return std::nullopt;
    std::uint32_t value = 0;
    std::size_t at = 0;
    for (int part = 0; part < 4; ++part) {
        const std::size_t dot = canonical->find('.', at);
        value =
            value << 8 | static_cast<std::uint32_t>(std::stoul(canonical->substr(at, dot - at)));
        at = dot + 1;
    }
    return value;
}

// Why a Latin-1 text cannot be a name on a device, or an empty text: control
// characters never, and a host name no formula start either (a spreadsheet
// would run it).
std::string textProblem(const std::string &latin1, bool hostName) {
    for (const char c : latin1) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || (byte >= 0x7f && byte <= 0x9f))
            return "holds a control character";
    }
    if (hostName && !latin1.empty() && isFormulaStart(latin1.front()))
        return "starts with '" + printable(latin1.substr(0, 1)) +
               "', which spreadsheets take for a formula";
    return {};
}

// The first character of `text` that Latin-1 cannot hold, as people read it:
// "'ā' (U+0101)".
std::string unsendable(const QString &text) {
    for (const char32_t code : text.toUcs4()) {
        if (code <= 0xff)
            continue;
        char number[16];
        std::snprintf(number, sizeof number, "U+%04X", static_cast<unsigned>(code));
        if (code == 0xFFFD)
            return std::string("U+FFFD, which stands for bytes that are not UTF-8");
        const std::string shown = printable(QString::fromUcs4(&code, 1).toStdString());
        return "'" + shown + "' (" + number + ")";
    }
    return "a character";
}

class RowReader {
public:
    RowReader(PlanRow &row, std::vector<std::string> &problems, const std::string &where)
        : row_(row), problems_(problems), where_(where) {}

    void problem(const std::string &column, const std::string &text) {
        problems_.push_back(where_ + ": " + column + ": " + text);
    }

    void read(const std::string &column, const std::string &value) {
        PlanChanges &c = row_.changes;
        NetworkChanges &n = c.network;
        if (column == "mac") {
            if (std::optional<MacAddress> mac = parseMac(value))
                row_.mac = *mac;
            else
                problem(column, value.empty() ? "the MAC address is missing"
                                              : "'" + value + "' is not a MAC address");
            return;
        }
        if (value.empty() || column.rfind("new_", 0) != 0)
            return;
        if (column == "new_mode") {
            const int mode =
                word(column, value, std::vector<std::string>(kModeTexts.begin(), kModeTexts.end()));
            if (mode >= 0)
                n.mode = mode; // the words are in record coding order
        } else if (column == "new_ip") {
            n.ipAddress = address(column, value);
        } else if (column == "new_netmask") {
            n.netMask = address(column, value);
        } else if (column == "new_gateway") {
            n.gateway = address(column, value);
        } else if (column == "new_dns") {
            n.dnsServer = address(column, value);
        } else if (column == "new_pppoe_dns") {
            n.pppoeDnsServer = address(column, value);
        } else if (column == "new_host") {
            c.hostName = text(column, value, kMaxHostName, "host name");
        } else if (column == "new_domain") {
            c.domainName = text(column, value, kMaxDomainName, "domain name");
        } else if (column == "new_pppoe_user") {
            n.pppoeUserName = text(column, value, kMaxPppoeUser, "PPPoE user name");
        } else if (column == "new_pppoe_service") {
            n.pppoeServiceName = text(column, value, kMaxPppoeService, "PPPoE service name");
        } else if (column == "new_guest") {
            const int guest = word(column, value, {"no", "yes"});
            if (guest >= 0)
                c.guest = guest == 1;
        } else if (column == "new_dns_mode") {
            const int mode = word(column, value, {"auto", "manual"});
            if (mode >= 0)
                n.dnsMode = static_cast<std::uint8_t>(mode);
        } else if (column == "new_mtu") {
            const bool digits =
                value.size() <= 5 && std::all_of(value.begin(), value.end(),
                                                 [](char ch) { return ch >= '0' && ch <= '9'; });
            if (digits && std::stoul(value) <= kMaxMtu)
                n.mtu = static_cast<std::uint32_t>(std::stoul(value));
            else
                problem(column,
                        "'" + value + "' is not a number from 0 to " + std::to_string(kMaxMtu));
        }
    }

private:
    int word(const std::string &column, const std::string &value,
             const std::vector<std::string> &words) {
        for (std::size_t i = 0; i < words.size(); ++i)
            if (value == words[i])
                return static_cast<int>(i);
        std::string list;
        for (std::size_t i = 0; i < words.size(); ++i)
            list += (i == 0 ? "" : i + 1 == words.size() ? " or " : ", ") + words[i];
        problem(column, "'" + value + "' is not " + list);
        return -1;
    }

    std::optional<std::string> address(const std::string &column, const std::string &value) {
        std::optional<std::string> canonical = canonicalIpv4(value);
        if (!canonical)
            problem(column, "'" + value + "' is not an IPv4 address");
        return canonical;
    }

    std::optional<std::string> text(const std::string &column, const std::string &value,
                                    std::size_t limit, const std::string &what) {
        const std::string_view cell = fromSpreadsheetText(value);
        // A cell is UTF-8 when it decodes as such, else Latin-1 (a plan saved
        // by a program that writes Latin-1).
        QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        QString decoded = decoder(QByteArrayView(cell.data(), static_cast<qsizetype>(cell.size())));
        if (decoder.hasError())
            decoded = QString::fromLatin1(cell.data(), static_cast<qsizetype>(cell.size()));
        std::optional<std::string> latin1 = toLatin1(decoded);
        if (!latin1)
            problem(column, "the " + what + " holds " + unsendable(decoded) +
                                ", which devices cannot take (they take Latin-1 characters only)");
        else if (latin1->size() > limit)
            problem(column,
                    "the " + what + " is longer than " + std::to_string(limit) + " characters");
        else if (std::string why = textProblem(*latin1, column == "new_host"); !why.empty())
            problem(column, "the " + what + " " + why);
        else
            return latin1;
        return std::nullopt;
    }

    PlanRow &row_;
    std::vector<std::string> &problems_;
    std::string where_;
};

// Checks that need every row: duplicate MACs and duplicate new addresses.
void checkAcrossRows(PlanInput &input, const std::string &unit) {
    std::map<MacAddress, int> macs;
    std::map<std::string, int> addresses;
    for (const PlanRow &row : input.rows) {
        const std::string where = unit + " " + std::to_string(row.row);
        const auto [mac, newMac] = macs.emplace(row.mac, row.row);
        if (!newMac)
            input.problems.push_back(where + ": mac: " + formatMac(row.mac.data()) +
                                     " is also in " + unit + " " + std::to_string(mac->second));
        if (const auto &ip = row.changes.network.ipAddress) {
            const auto [other, newIp] = addresses.emplace(*ip, row.row);
            if (!newIp)
                input.problems.push_back(where + ": new_ip: " + *ip +
                                         " is also the new address in " + unit + " " +
                                         std::to_string(other->second));
        }
        if (row.changes.network.mode)
            if (const auto problem =
                    change::checkModes(row.changes.network, false, *row.changes.network.mode))
                input.problems.push_back(where + ": " + problemText(*problem, Terms::Columns));
    }
}

// The column names of a plan's first row, spaces around them dropped.
void readHeader(const std::vector<std::string> &cells, std::vector<std::string> &header,
                std::vector<std::string> &problems) {
    std::set<std::string> seen;
    for (const std::string &cell : cells) {
        std::string name = cell;
        name.erase(0, name.find_first_not_of(' '));
        name.erase(name.find_last_not_of(' ') + 1);
        if (!isPlanColumn(name))
            problems.push_back("row 1: unknown column '" + printable(name) + "'");
        else if (!seen.insert(name).second)
            problems.push_back("row 1: column '" + name + "' is given twice");
        header.push_back(name);
    }
    if (!seen.count("mac"))
        problems.push_back("row 1: there is no 'mac' column");
}

// Reading stops once this many problems are listed.
constexpr std::size_t kMaxProblems = 100;

PlanInput parseCsvPlan(const QByteArray &text) {
    PlanInput input;
    std::vector<std::string> header;
    const std::string csvProblem = readCsv(
        std::string_view(text.data(), static_cast<std::size_t>(text.size())),
        [&](const CsvRecord &record) {
            if (header.empty()) {
                readHeader(record.cells, header, input.problems);
                return input.problems.empty();
            }
            const std::string where = "row " + std::to_string(record.row);
            if (record.cells.size() > header.size()) {
                input.problems.push_back(where + ": " + std::to_string(record.cells.size()) +
                                         " cells, but the header names " +
                                         std::to_string(header.size()) + " columns");
            } else {
                PlanRow row;
                row.row = record.row;
                RowReader reader(row, input.problems, where);
                for (std::size_t i = 0; i < header.size(); ++i)
                    reader.read(header[i],
                                i < record.cells.size() ? record.cells[i] : std::string());
                input.rows.push_back(std::move(row));
            }
            return input.problems.size() < kMaxProblems;
        },
        kMaxPlanColumns);
    if (!csvProblem.empty())
        input.problems.push_back(csvProblem);
    if (input.problems.size() >= kMaxProblems)
        input.problems.push_back("(reading stopped after " + std::to_string(kMaxProblems) +
                                 " problems)");
    if (header.empty() && input.problems.empty())
        input.problems.push_back("row 1: the plan is empty (no header line)");
    checkAcrossRows(input, "row");
    return input;
}

std::string jsonTypeName(const QJsonValue &value) {
    switch (value.type()) {
    case QJsonValue::Null:
        return "null";
    case QJsonValue::Bool:
        return "true or false";
    case QJsonValue::Double:
        return "a number";
    case QJsonValue::Array:
        return "a list";
    case QJsonValue::Object:
        return "an object";
    default:
        return "this";
    }
}

// The first field name given twice in one object of a JSON text that parses
// ("entry 2: field 'mac' is given twice"), or an empty text; the reader keeps
// only the last of them.
std::string duplicateField(const QByteArray &text) {
    struct Level {
        bool object;
        bool expectKey;
        std::set<QString> keys;
    };
    std::vector<Level> levels;
    int entry = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == ':')
            continue;
        if (levels.size() == 1 && c != ',' && c != ']')
            ++entry; // a value of the top-level list starts
        if (c == '{' || c == '[') {
            levels.push_back({c == '{', c == '{', {}});
        } else if (c == '}' || c == ']') {
            if (!levels.empty())
                levels.pop_back();
        } else if (c == ',') {
            if (!levels.empty())
                levels.back().expectKey = levels.back().object;
        } else if (c == '"') {
            const qsizetype start = i;
            for (++i; i < text.size() && text[i] != '"'; ++i)
                if (text[i] == '\\')
                    ++i;
            if (levels.empty() || !levels.back().object || !levels.back().expectKey)
                continue;
            levels.back().expectKey = false;
            const QByteArray token = text.mid(start, i - start + 1);
            const QString key =
                QJsonDocument::fromJson("[" + token + "]").array().first().toString();
            if (!levels.back().keys.insert(key).second)
                return "entry " + std::to_string(entry) + ": field '" +
                       printable(key.toStdString()) + "' is given twice";
        } else {
            // A number or a word: up to the next delimiter.
            while (i + 1 < text.size() && !std::strchr(",]} \t\r\n", text[i + 1]))
                ++i;
        }
    }
    return {};
}

PlanInput parseJsonPlan(const QByteArray &text) {
    PlanInput input;
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(text, &error);
    if (error.error != QJsonParseError::NoError) {
        input.problems.push_back(
            "the plan is not valid JSON: " + error.errorString().toStdString() + " at byte " +
            std::to_string(error.offset + 1));
        return input;
    }
    if (!document.isArray()) {
        input.problems.push_back(
            "the plan is JSON, but not a list: its top level is an object, where a list of "
            "entries, one per device, is needed");
        return input;
    }
    if (std::string twice = duplicateField(text); !twice.empty()) {
        input.problems.push_back(twice);
        return input;
    }
    int n = 0;
    for (const QJsonValue &value : document.array()) {
        PlanRow row;
        row.row = ++n;
        const std::string where = "entry " + std::to_string(n);
        if (!value.isObject()) {
            input.problems.push_back(where + ": not an object of fields");
            continue;
        }
        const QJsonObject object = value.toObject();
        RowReader reader(row, input.problems, where);
        if (!object.contains(QStringLiteral("mac")))
            reader.problem("mac", "the MAC address is missing");
        for (auto it = object.begin(); it != object.end(); ++it) {
            const std::string name = it.key().toStdString();
            if (!isPlanColumn(name))
                input.problems.push_back(where + ": unknown field '" + printable(name) + "'");
            else if (!it.value().isString())
                reader.problem(name,
                               "a text is needed (in quotes), not " + jsonTypeName(it.value()));
            else
                reader.read(name, it.value().toString().toStdString());
        }
        input.rows.push_back(std::move(row));
        if (input.problems.size() >= kMaxProblems) {
            input.problems.push_back("(reading stopped after " + std::to_string(kMaxProblems) +
                                     " problems)");
            return input;
        }
    }
    checkAcrossRows(input, "entry");
    return input;
}

std::string serialOf(const FoundDevice &device) {
    return device.firmware ? fieldText(device.firmware->serialNumber) : std::string();
}

} // namespace

const std::vector<std::string> &planCurrentColumns() {
    return kCurrent;
}

const std::vector<std::string> &planNewColumns() {
    return kNew;
}

bool isPlanColumn(const std::string &name) {
    for (const auto *list : {&kCurrent, &kNew, &kOptionalNew})
        if (std::find(list->begin(), list->end(), name) != list->end())
            return true;
    return false;
}

std::optional<QByteArray> readPlanFile(const QString &path, std::string &error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = toLocale(file.errorString());
        return std::nullopt;
    }
    QByteArray text = file.read(kMaxPlanBytes + 1);
    if (text.size() > kMaxPlanBytes) {
        error = "the plan is larger than " + std::to_string(kMaxPlanBytes >> 20) + " MiB";
        return std::nullopt;
    }
    if (file.error() != QFileDevice::NoError) {
        error = toLocale(file.errorString());
        return std::nullopt;
    }
    return text;
}

PlanInput parsePlan(const QByteArray &text) {
    // JSON starts with a list (or, wrongly, an object), after a byte-order mark
    // and white space.
    QByteArray json = text.startsWith("\xEF\xBB\xBF") ? text.mid(3) : text;
    const QByteArray start = json.trimmed().left(1);
    if (start == "[" || start == "{")
        return parseJsonPlan(json);
    return parseCsvPlan(text);
}

std::string ipv4Text(std::uint32_t a) {
    return std::to_string(a >> 24) + "." + std::to_string(a >> 16 & 255) + "." +
           std::to_string(a >> 8 & 255) + "." + std::to_string(a & 255);
}

std::string currentValue(const FoundDevice &device, const std::string &column) {
    const KOVA_NETWORK_SETTINGS &n = device.network;
    if (column == "mac")
        return formatMac(device.info.mac);
    if (column == "model")
        return deviceTextUtf8(fieldView(device.info.modelName));
    if (column == "serial")
        return deviceTextUtf8(serialOf(device));
    if (column == "address")
        return fieldText(device.info.ipAddress);
    if (column == "mode")
        return modeText(n.mode);
    if (column == "ip")
        return fieldText(n.ipAddress);
    if (column == "netmask")
        return fieldText(n.netMask);
    if (column == "gateway")
        return fieldText(n.gateway);
    if (column == "dns")
        return fieldText(n.dnsServer);
    if (column == "host")
        return deviceTextUtf8(fieldView(device.info.hostName));
    if (column == "domain")
        return deviceTextUtf8(fieldView(device.info.domainName));
    if (column == "guest")
        return device.guestAccount != 0 ? "yes" : "no";
    return {};
}

void sortDevices(std::vector<FoundDevice> &devices, PlanOrder order) {
    auto key = [order](const FoundDevice &d) -> std::string {
        switch (order) {
        case PlanOrder::Ip: {
            const auto value = addressValue(fieldText(d.info.ipAddress)).value_or(0);
            char text[9];
            std::snprintf(text, sizeof text, "%08x", value);
            return text;
        }
        case PlanOrder::Model:
            return fieldText(d.info.modelName);
        case PlanOrder::Serial:
            return serialOf(d);
        case PlanOrder::Mac:
            break;
        }
        return {};
    };
    std::stable_sort(devices.begin(), devices.end(), [&](const auto &a, const auto &b) {
        const std::string ka = key(a), kb = key(b);
        if (ka != kb)
            return ka < kb;
        return std::memcmp(a.info.mac, b.info.mac, 6) < 0;
    });
}

std::optional<std::pair<std::uint32_t, std::uint32_t>> parseRange(const std::string &text) {
    const std::size_t dash = text.find('-');
    if (dash == std::string::npos)
        return std::nullopt;
    const auto first = addressValue(text.substr(0, dash));
    const auto last = addressValue(text.substr(dash + 1));
    if (!first || !last || *first > *last)
        return std::nullopt;
    return std::make_pair(*first, *last);
}

std::string checkFill(const PlanFill &fill, std::size_t count) {
    if (!fill.rangeFirst)
        return {};
    if (!fill.netMask || !fill.gateway)
        return "--static-range: --netmask and --gateway are needed too";
    const std::uint32_t mask = *addressValue(*fill.netMask);
    if ((~mask & (~mask + 1)) != 0)
        return "--netmask: " + *fill.netMask + " is not a netmask";
    const std::uint32_t first = *fill.rangeFirst, last = *fill.rangeLast;
    const std::uint32_t net = first & mask, broadcast = net | ~mask;
    if ((last & mask) != net)
        return "--static-range: " + ipv4Text(first) + " and " + ipv4Text(last) +
               " are not in the same subnet of netmask " + *fill.netMask;
    if (mask < 0xFFFFFFFEu && (first == net || last == broadcast))
        return "--static-range: the range holds the subnet's " +
               std::string(first == net ? "own address " + ipv4Text(net)
                                        : "broadcast address " + ipv4Text(broadcast));
    const std::uint64_t size = std::uint64_t{last} - first + 1;
    if (size < count)
        return "--static-range: " + std::to_string(size) + " addresses for " +
               std::to_string(count) + " devices";
    const std::uint32_t gateway = *addressValue(*fill.gateway);
    if ((gateway & mask) != net)
        return "--gateway: " + *fill.gateway + " is not in the subnet of the range";
    if (gateway >= first && gateway < first + count)
        return "--gateway: " + *fill.gateway + " would be given to a device";
    return {};
}

std::optional<std::string> expandHostPattern(const std::string &pattern, int n,
                                             const FoundDevice &device, std::string &error) {
    std::string out;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const char c = pattern[i];
        if ((c == '{' || c == '}') && i + 1 < pattern.size() && pattern[i + 1] == c) {
            out += c;
            ++i;
            continue;
        }
        if (c == '}') {
            error = "--hostname-pattern: a '}' without its '{' (write '}}' for one)";
            return std::nullopt;
        }
        if (c != '{') {
            out += c;
            continue;
        }
        const std::size_t end = pattern.find('}', i);
        const std::string field = pattern.substr(i + 1, end == std::string::npos ? 0 : end - i - 1);
        if (end == std::string::npos) {
            error = "--hostname-pattern: a '{' without its '}'";
            return std::nullopt;
        }
        i = end;
        if (field == "mac") {
            char text[7];
            std::snprintf(text, sizeof text, "%.2x%.2x%.2x", device.info.mac[3], device.info.mac[4],
                          device.info.mac[5]);
            out += text;
        } else if (field == "serial") {
            out += serialOf(device);
        } else if (field == "n") {
            out += std::to_string(n);
        } else if (field.size() == 4 && field.compare(0, 3, "n:0") == 0 && field[3] >= '1' &&
                   field[3] <= '9') {
            std::string digits = std::to_string(n);
            out += std::string(
                       static_cast<std::size_t>(std::max(0, field[3] - '0' - int(digits.size()))),
                       '0') +
                   digits;
        } else {
            error = "--hostname-pattern: unknown field '{" + field +
                    "}' (use {n}, {n:03}, {mac} or {serial})";
            return std::nullopt;
        }
    }
    return out;
}

QByteArray formatPlan(const std::vector<FoundDevice> &devices, const PlanFill &fill, bool json,
                      std::string &error) {
    std::vector<std::string> columns = kCurrent;
    columns.insert(columns.end(), kNew.begin(), kNew.end());
    QJsonArray array;
    std::string csv;
    for (std::size_t i = 0; i < columns.size(); ++i)
        csv += (i == 0 ? "" : ",") + columns[i];
    csv += '\n';
    int n = 0;
    std::uint32_t next = fill.rangeFirst.value_or(0);
    for (const FoundDevice &device : devices) {
        ++n;
        std::map<std::string, std::string> values;
        for (const std::string &column : kCurrent)
            values[column] = currentValue(device, column);
        if (fill.rangeFirst && !fill.noAddress.count(macKey(device.info.mac))) {
            values["new_mode"] = "static";
            values["new_ip"] = ipv4Text(next++);
            values["new_netmask"] = *fill.netMask;
            values["new_gateway"] = *fill.gateway;
            values["new_dns"] = fill.dnsServer.value_or("");
        }
        if (fill.hostPattern) {
            const std::optional<std::string> host =
                expandHostPattern(*fill.hostPattern, n, device, error);
            if (!host)
                return {};
            const std::optional<std::string> latin1 = toLatin1(QString::fromUtf8(*host));
            const std::string why =
                !latin1 ? "holding a character devices cannot take"
                : latin1->size() > kMaxHostName
                    ? "longer than " + std::to_string(kMaxHostName) + " characters"
                    : textProblem(*latin1, true);
            if (!why.empty()) {
                error = "--hostname-pattern: the host name of " + formatMac(device.info.mac) +
                        " would be '" + printable(*host) + "': " + why;
                return {};
            }
            values["new_host"] = *host;
        }
        QJsonObject object;
        for (std::size_t i = 0; i < columns.size(); ++i) {
            const std::string &value = values[columns[i]];
            csv += (i == 0 ? "" : ",") + csvField(spreadsheetText(value));
            object.insert(QString::fromStdString(columns[i]), QString::fromStdString(value));
        }
        csv += '\n';
        array.append(object);
    }
    return json ? QJsonDocument(array).toJson() : QByteArray::fromStdString(csv);
}

} // namespace veltrona::cli
