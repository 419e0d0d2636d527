#include "plan.h"

#include "addresscheck.h"
#include "csv.h"
#include "fieldtext.h"
#include "json.h"
#include "printable.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <numeric>
#include <set>

namespace veltrona::change {

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

// The first character of a UTF-8 text that Latin-1 cannot hold, as people
// read it: "'ā' (U+0101)".
std::string unsendable(std::string_view utf8) {
    for (char32_t code = 0; !utf8.empty(); utf8.remove_prefix(1)) {
        const std::size_t length = utf8Sequence(utf8, code);
        if (length == 0 || code <= 0xff)
            continue;
        char number[16];
        std::snprintf(number, sizeof number, "U+%04X", static_cast<unsigned>(code));
        if (code == 0xFFFD)
            return std::string("U+FFFD, which stands for bytes that are not UTF-8");
        // A byte-order mark is shown as nothing.
        const std::string_view shown = code == 0xFEFF ? "" : utf8.substr(0, length);
        return "'" + printable(shown) + "' (" + number + ")";
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
            if (std::optional<Mac> mac = parseMac(value))
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
        // A cell is UTF-8 when it decodes as such, else Latin-1 (a plan saved
        // by a program that writes Latin-1).
        const std::string decoded = utf8OrLatin1(fromSpreadsheetText(value));
        std::optional<std::string> latin1 = latin1Of(decoded);
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
void checkAcrossRows(PlanInput &input, const std::string &unit, const ProblemWords &words) {
    std::map<Mac, int> macs;
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
                    checkModes(row.changes.network, false, *row.changes.network.mode))
                input.problems.push_back(where + ": " + words(*problem));
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

PlanInput parseCsvPlan(std::string_view text, const ProblemWords &words) {
    PlanInput input;
    std::vector<std::string> header;
    const std::string csvProblem = readCsv(
        text,
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
    checkAcrossRows(input, "row", words);
    return input;
}

std::string jsonTypeName(const json::Value &value) {
    switch (value.type()) {
    case json::Value::Type::Null:
        return "null";
    case json::Value::Type::Bool:
        return "true or false";
    case json::Value::Type::Number:
        return "a number";
    case json::Value::Type::Array:
        return "a list";
    case json::Value::Type::Object:
        return "an object";
    default:
        return "this";
    }
}

// The first field name given twice in one object of an entry, in the order
// of the text ("entry 2: field 'mac' is given twice"), or an empty text.
std::string duplicateField(const json::Value &value, int entry) {
    const std::vector<std::string> &keys = value.keys();
    const std::vector<json::Value> &items = value.isObject() ? value.members() : value.elements();
    std::set<std::string_view> seen;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (value.isObject() && !seen.insert(keys[i]).second)
            return "entry " + std::to_string(entry) + ": field '" + printable(keys[i]) +
                   "' is given twice";
        if (std::string twice = duplicateField(items[i], entry); !twice.empty())
            return twice;
    }
    return {};
}

// One entry of a JSON plan, its fields in a fixed order.
void readEntry(const json::Value &value, int n, PlanInput &input) {
    PlanRow row;
    row.row = n;
    const std::string where = "entry " + std::to_string(n);
    if (!value.isObject()) {
        input.problems.push_back(where + ": not an object of fields");
        return;
    }
    RowReader reader(row, input.problems, where);
    if (!value.contains("mac"))
        reader.problem("mac", "the MAC address is missing");
    const std::vector<std::string> &keys = value.keys();
    std::vector<std::size_t> order(keys.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::sort(order.begin(), order.end(),
              [&](std::size_t a, std::size_t b) { return json::keyLess(keys[a], keys[b]); });
    for (const std::size_t i : order) {
        const std::string &name = keys[i];
        const json::Value &field = value.members()[i];
        if (!isPlanColumn(name))
            input.problems.push_back(where + ": unknown field '" + printable(name) + "'");
        else if (!field.isString())
            reader.problem(name, "a text is needed (in quotes), not " + jsonTypeName(field));
        else
            reader.read(name, field.text());
    }
    input.rows.push_back(std::move(row));
}

// A JSON plan is read entry by entry; a text that is not JSON, or has a field
// given twice, is refused with that problem alone.
PlanInput parseJsonPlan(std::string_view text, const ProblemWords &words) {
    PlanInput input;
    std::string twice;
    bool stopped = false;
    int n = 0;
    json::Error error;
    const auto type = json::Value::readList(
        text,
        [&](const json::Value &entry) {
            if (twice.empty())
                twice = duplicateField(entry, ++n);
            if (!twice.empty() || stopped)
                return;
            readEntry(entry, n, input);
            if (input.problems.size() >= kMaxProblems) {
                input.problems.push_back("(reading stopped after " + std::to_string(kMaxProblems) +
                                         " problems)");
                stopped = true;
            }
        },
        error);
    if (!type)
        return {{},
                {"the plan is not valid JSON: " + error.what + " at byte " +
                 std::to_string(error.offset + 1)}};
    if (*type != json::Value::Type::Array)
        return {{},
                {"the plan is JSON, but not a list: its top level is an object, where a list of "
                 "entries, one per device, is needed"}};
    if (!twice.empty())
        return {{}, {twice}};
    if (!stopped)
        checkAcrossRows(input, "entry", words);
    return input;
}

std::string serialOf(const DeviceRecord &device) {
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

std::optional<std::string> readPlanFile(const std::string &path, std::string &error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat status {};
    if (fd < 0 || ::fstat(fd, &status) != 0 || S_ISDIR(status.st_mode)) {
        error = fd >= 0 && S_ISDIR(status.st_mode) ? "file to open is a directory"
                                                   : std::strerror(errno);
        if (fd >= 0)
            ::close(fd);
        return std::nullopt;
    }
    std::string text;
    char buffer[65536];
    ssize_t n = 0;
    while (text.size() <= kMaxPlanBytes &&
           (n = ::read(fd, buffer, std::min(sizeof buffer, kMaxPlanBytes + 1 - text.size()))) !=
               0) {
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    const int readError = n < 0 ? errno : 0;
    ::close(fd);
    if (text.size() > kMaxPlanBytes) {
        error = "the plan is larger than " + std::to_string(kMaxPlanBytes >> 20) + " MiB";
        return std::nullopt;
    }
    if (readError != 0) {
        error = std::strerror(readError);
        return std::nullopt;
    }
    return text;
}

PlanInput parsePlan(std::string_view text, const ProblemWords &words) {
    // JSON starts with a list (or, wrongly, an object), after a byte-order mark
    // and white space.
    const std::string_view json = withoutByteOrderMark(text);
    const std::size_t start = json.find_first_not_of(" \t\n\v\f\r");
    if (start != std::string_view::npos && (json[start] == '[' || json[start] == '{'))
        return parseJsonPlan(json, words);
    return parseCsvPlan(text, words);
}

std::vector<Desired> desiredOf(const std::deque<PlanRow> &rows,
                               const std::map<std::uint64_t, Credentials> &secrets,
                               const Credentials &common) {
    std::vector<Desired> desired(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const PlanRow &row = rows[i];
        Desired &d = desired[i];
        d.row = row.row;
        d.mac = row.mac;
        d.network = row.changes.network;
        d.hostName = row.changes.hostName;
        d.domainName = row.changes.domainName;
        d.guest = row.changes.guest;
        const auto own = secrets.find(macKey(row.mac.data()));
        d.credentials = own != secrets.end() ? &own->second : &common;
    }
    return desired;
}

std::string currentValue(const DeviceRecord &device, const std::string &column) {
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

void sortDevices(std::vector<DeviceRecord> &devices, PlanOrder order) {
    auto key = [order](const DeviceRecord &d) -> std::string {
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
        return "--static-range: " + dotted(first) + " and " + dotted(last) +
               " are not in the same subnet of netmask " + *fill.netMask;
    if (mask < 0xFFFFFFFEu && (first == net || last == broadcast))
        return "--static-range: the range holds the subnet's " +
               std::string(first == net ? "own address " + dotted(net)
                                        : "broadcast address " + dotted(broadcast));
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
                                             const DeviceRecord &device, std::string &error) {
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

std::string formatPlan(const std::vector<DeviceRecord> &devices, const PlanFill &fill, bool json,
                       std::string &error) {
    std::vector<std::string> columns = kCurrent;
    columns.insert(columns.end(), kNew.begin(), kNew.end());
    json::Value array = json::Value::array();
    std::string csv;
    for (std::size_t i = 0; i < columns.size(); ++i)
        csv += (i == 0 ? "" : ",") + columns[i];
    csv += '\n';
    int n = 0;
    std::uint32_t next = fill.rangeFirst.value_or(0);
    for (const DeviceRecord &device : devices) {
        ++n;
        std::map<std::string, std::string> values;
        for (const std::string &column : kCurrent)
            values[column] = currentValue(device, column);
        if (fill.rangeFirst && !fill.noAddress.count(macKey(device.info.mac))) {
            values["new_mode"] = "static";
            values["new_ip"] = dotted(next++);
            values["new_netmask"] = *fill.netMask;
            values["new_gateway"] = *fill.gateway;
            values["new_dns"] = fill.dnsServer.value_or("");
        }
        if (fill.hostPattern) {
            const std::optional<std::string> host =
                expandHostPattern(*fill.hostPattern, n, device, error);
            if (!host)
                return {};
            const std::optional<std::string> latin1 = latin1Of(wellFormedUtf8(*host));
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
        json::Value object = json::Value::object();
        for (std::size_t i = 0; i < columns.size(); ++i) {
            const std::string &value = values[columns[i]];
            csv += (i == 0 ? "" : ",") + csvField(spreadsheetText(value));
            object.insert(columns[i], json::Value::string(value));
        }
        csv += '\n';
        array.append(std::move(object));
    }
    return json ? array.write() : csv;
}

} // namespace veltrona::change
