#pragma once
// Batch plans: one row per device with its current settings and the new
// values to give it. Written by `veltrona-cli plan`, edited by hand, read back
// and checked by `veltrona-cli apply`. Nothing here touches the network.

#include "changeengine.h"
#include "devicerow.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace veltrona::change {

// The values a row asks for; nothing means "keep".
struct PlanChanges {
    NetworkChanges network;
    std::optional<std::string> hostName;   // Latin-1
    std::optional<std::string> domainName; // Latin-1
    std::optional<bool> guest;

    bool any() const { return network.any() || hostName || domainName || guest; }
};

struct PlanRow {
    int row = 0; // the row's number in the file, the header being row 1
    Mac mac{};
    PlanChanges changes;
};

// Columns: the current ones are written for the reader and ignored on input;
// the "new_" ones are the changes.
const std::vector<std::string> &planCurrentColumns();
const std::vector<std::string> &planNewColumns(); // the ones `plan` writes
bool isPlanColumn(const std::string &name);       // any known column, the optional new ones too

struct PlanInput {
    std::deque<PlanRow> rows;          // grows without copying (a plan may be 16 MiB)
    std::vector<std::string> problems; // one line each, naming the row; none when all is well
};

// The largest plan file read, and the most cells a row of it may have.
inline constexpr std::size_t kMaxPlanBytes = std::size_t{16} << 20;
inline constexpr std::size_t kMaxPlanColumns = 64;

// The whole plan file, at most kMaxPlanBytes; nothing, with `error` set, when
// it cannot be read or is larger.
std::optional<std::string> readPlanFile(const std::string &path, std::string &error);

// How the front end words a coded problem of a row (a setting that the row's
// mode does not send), after the row is named.
using ProblemWords = std::function<std::string(const Problem &)>;

// Reads a plan: CSV with a header line (columns in any order, blank cells keep
// the current value; RFC 4180 quoting; a leading apostrophe that protects a
// text from spreadsheets is dropped) or the JSON list that `plan --format
// json` writes (every value a text). Every row is checked: MAC, addresses,
// words, numbers, text lengths, control characters in texts, a host name that
// starts like a formula, duplicate MACs and duplicate new addresses, unknown
// columns, broken quoting, JSON values that are not texts, settings the row's
// mode does not send (worded by `words`).
PlanInput parsePlan(std::string_view text, const ProblemWords &words);

// What each row of a plan asks of its device, with the credentials to use:
// its own in `secrets` (by macKey) when there are some, else `common`.
std::vector<Desired> desiredOf(const std::deque<PlanRow> &rows,
                               const std::map<std::uint64_t, Credentials> &secrets,
                               const Credentials &common);

// What `plan` fills in for every listed device.
struct PlanFill {
    std::optional<std::uint32_t> rangeFirst, rangeLast; // host order
    std::optional<std::string> netMask, gateway, dnsServer;
    std::optional<std::string> hostPattern;
    // Devices (by macKey) whose address cells stay blank; the range goes on
    // with the next device.
    std::set<std::uint64_t> noAddress;
};

enum class PlanOrder { Mac, Ip, Model, Serial };

// Sorts the devices by `order` (then by MAC).
void sortDevices(std::vector<DeviceRecord> &devices, PlanOrder order);

// "FIRST-LAST" as two addresses in host order, FIRST not after LAST.
std::optional<std::pair<std::uint32_t, std::uint32_t>> parseRange(const std::string &text);

// Why the fill cannot be made for `count` devices (range too small, range
// crossing the netmask or holding the subnet's own or broadcast address,
// gateway outside it), or an empty text.
std::string checkFill(const PlanFill &fill, std::size_t count);

// The host name of the `n`th device (counting from 1): "{n}" the counter,
// "{n:03}" the counter padded with zeros to 3 digits, "{mac}" the last three
// bytes of the MAC in lower-case hex, "{serial}" the serial number, "{{" and
// "}}" single braces. Nothing when the pattern is malformed.
std::optional<std::string> expandHostPattern(const std::string &pattern, int n,
                                             const DeviceRecord &device, std::string &error);

// The plan of the given devices, in their order, with the fill applied.
// Returns the problem (e.g. a host name over its limit) in `error`.
std::string formatPlan(const std::vector<DeviceRecord> &devices, const PlanFill &fill, bool json,
                       std::string &error);

// The current values of a device under the plan's current column names.
std::string currentValue(const DeviceRecord &device, const std::string &column);

} // namespace veltrona::change
