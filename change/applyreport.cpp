#include "applyreport.h"

#include "csv.h"
#include "fieldtext.h"
#include "json.h"
#include "printable.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>

namespace veltrona::change {

namespace {

using namespace std::chrono_literals;

bool isJson(const std::string &path) {
    return path.size() >= 5 && path.compare(path.size() - 5, 5, ".json") == 0;
}

const char *const kCsvHeader = "row,mac,result,detail,address_before,address_after\n";

std::string csvLine(const AppliedRow &row) {
    return std::to_string(row.row) + "," + row.mac + "," + row.result + "," +
           csvField(spreadsheetText(row.detail)) + "," + row.addressBefore + "," +
           row.addressAfter + "\n";
}

json::Value jsonValues(const ShownValues &values) {
    json::Value object = json::Value::object();
    for (const auto &[name, value] : values)
        object.insert(name, json::Value::string(value));
    return object;
}

json::Value jsonRow(const AppliedRow &row) {
    json::Value object = json::Value::object();
    object.insert("row", json::Value::number(row.row));
    object.insert("mac", json::Value::string(row.mac));
    object.insert("result", json::Value::string(row.result));
    object.insert("detail", json::Value::string(row.detail));
    object.insert("address_before", json::Value::string(row.addressBefore));
    object.insert("address_after", json::Value::string(row.addressAfter));
    if (!row.before.empty()) {
        object.insert("before", jsonValues(row.before));
        object.insert("after", jsonValues(row.after));
    }
    return object;
}

std::string compact(const AppliedRow &row) {
    return jsonRow(row).write(json::Value::Layout::Compact);
}

template <std::size_t N> void putField(char (&field)[N], const std::string &text) {
    std::memset(field, 0, N);
    std::memcpy(field, text.data(), std::min(text.size(), N));
}

std::string folderOf(const std::string &path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

std::string failure(const std::string &path, const std::string &what) {
    return "--report: " + path + ": " + what;
}

// A new, empty file beside `path` that nobody else opened, or -1.
int makeTemporary(const std::string &path, std::string &name, std::string &error) {
    const std::string folder = folderOf(path);
    std::random_device seed;
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, "%08x", static_cast<unsigned>(seed()));
        name = folder + "/.veltrona-report-" + suffix + ".tmp";
        const int fd =
            ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0)
            return fd;
        if (errno != EEXIST) {
            error = failure(path, std::string("cannot make a file in ") + folder + ": " +
                                      std::strerror(errno));
            return -1;
        }
    }
    error = failure(path, "cannot make a file in " + folder);
    return -1;
}

bool writeAll(int fd, const std::string &data, long long offset) {
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = offset < 0
                              ? ::write(fd, data.data() + done, data.size() - done)
                              : ::pwrite(fd, data.data() + done, data.size() - done,
                                         static_cast<off_t>(offset) + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Writes `data` into a new file beside `path`, forces it to disk and renames it
// to `path`; the open file (for more writes) or -1.
int replaceWith(const std::string &path, const std::string &data, std::string &error) {
    std::string temporary;
    const int fd = makeTemporary(path, temporary, error);
    if (fd < 0)
        return -1;
    if (!writeAll(fd, data, -1) || ::fsync(fd) != 0 ||
        ::rename(temporary.c_str(), path.c_str()) != 0) {
        error = failure(path, std::strerror(errno));
        ::close(fd);
        ::unlink(temporary.c_str());
        return -1;
    }
    // The rename itself reaches the disk with the folder.
    const int folder = ::open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    return fd;
}

} // namespace

ApplyReport::~ApplyReport() {
    if (fd_ >= 0)
        ::close(fd_);
}

std::string ApplyReport::check(const std::string &path, const std::vector<std::string> &keep) {
    if (path.empty())
        return "--report: the file name is empty";
    struct stat status {};
    if (::lstat(path.c_str(), &status) == 0) {
        if (S_ISLNK(status.st_mode))
            return failure(path, "is a symbolic link; name the file itself");
        if (!S_ISREG(status.st_mode))
            return failure(path, "is not a regular file");
        for (const std::string &other : keep) {
            struct stat kept {};
            if (!other.empty() && ::stat(other.c_str(), &kept) == 0 &&
                kept.st_dev == status.st_dev && kept.st_ino == status.st_ino)
                return failure(path,
                               "is the same file as " + other + ", which the report would replace");
        }
    } else if (errno != ENOENT) {
        return failure(path, std::strerror(errno));
    }
    std::string temporary, error;
    const int fd = makeTemporary(path, temporary, error);
    if (fd < 0)
        return error;
    ::close(fd);
    ::unlink(temporary.c_str());
    return {};
}

bool ApplyReport::open(const std::string &path, std::string &error) {
    json_ = isJson(path);
    first_ = true;
    const std::string start = json_ ? "[\n]\n" : kCsvHeader;
    end_ = 2;
    fd_ = replaceWith(path, start, error);
    synced_ = std::chrono::steady_clock::now();
    return fd_ >= 0;
}

bool ApplyReport::add(const AppliedRow &row, std::string &error) {
    if (fd_ < 0)
        return true;
    if (!json_)
        return put(csvLine(row), error);
    // The entry goes over the closing bracket, which it writes anew behind
    // itself: every write leaves a whole list.
    const std::string entry = (first_ ? "" : ",\n") + compact(row);
    first_ = false;
    if (!writeAll(fd_, entry + "\n]\n", end_)) {
        error = "--report: " + std::string(std::strerror(errno));
        return false;
    }
    end_ += static_cast<long long>(entry.size());
    return put({}, error);
}

bool ApplyReport::put(const std::string &data, std::string &error) {
    if (!data.empty() && !writeAll(fd_, data, -1)) {
        error = "--report: " + std::string(std::strerror(errno));
        return false;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now - synced_ >= 250ms) {
        ::fdatasync(fd_);
        synced_ = now;
    }
    return true;
}

bool ApplyReport::finish(const std::string &path, const std::vector<AppliedRow> &rows,
                         std::string &error) {
    std::string data;
    if (isJson(path)) {
        json::Value array = json::Value::array();
        for (const AppliedRow &row : rows)
            array.append(jsonRow(row));
        data = array.write();
    } else {
        data = kCsvHeader;
        for (const AppliedRow &row : rows)
            data += csvLine(row);
    }
    const int fd = replaceWith(path, data, error);
    if (fd < 0)
        return false;
    ::close(fd);
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    return true;
}
ShownValues shownValues(const DeviceRecord &d) {
    ShownValues values;
    for (const char *column :
         {"host", "domain", "guest", "mode", "ip", "netmask", "gateway", "dns"})
        values.emplace_back(column, currentValue(d, column));
    const KOVA_NETWORK_SETTINGS &n = d.network;
    values.emplace_back("pppoe_user", deviceTextUtf8(fieldView(n.pppoeUserName)));
    values.emplace_back("pppoe_service", deviceTextUtf8(fieldView(n.pppoeServiceName)));
    values.emplace_back("mtu", std::to_string(n.mtu));
    values.emplace_back("dns_mode", n.dnsMode != 0 ? "manual" : "auto");
    values.emplace_back("pppoe_dns", fieldText(n.pppoeDnsServer));
    return values;
}

DeviceRecord deviceAfter(const DeviceChange &change) {
    DeviceRecord after = *change.device;
    for (Step step : change.steps) {
        if (step == Step::HostName) {
            putField(after.info.hostName, change.hostName);
            putField(after.info.domainName, change.domainName);
        } else if (step == Step::Account) {
            after.guestAccount = change.guest;
        } else {
            after.network = change.settings;
        }
    }
    return after;
}

AppliedRow appliedRow(const DeviceChange &change, const Outcome &outcome) {
    return {change.row,
            formatMac(change.mac.data()),
            stateWords(outcome.state).key,
            outcome.detail,
            outcome.addressBefore,
            outcome.addressAfter,
            {},
            {}};
}

std::string journalKey(State state, bool sent) {
    if (state == State::Applied)
        return "applied";
    if (state == State::InFlight || (state == State::Pending && sent))
        return "sent";
    return stateWords(state).key;
}

std::string lostNote(std::uint32_t count, const char *when) {
    return std::to_string(count) + (count == 1 ? " reply was" : " replies were") + " lost " + when;
}

AppliedRow finalRow(const DeviceChange &change, const Outcome &outcome, const LostReplies &lost) {
    AppliedRow row = appliedRow(change, outcome);
    if (change.device) {
        row.before = shownValues(*change.device);
        row.after = shownValues(deviceAfter(change));
    }
    const State state = outcome.state;
    if (lost.sending != 0 &&
        (state == State::NoAnswer ||
         (state == State::NotSent && row.detail.find("was not seen") != std::string::npos)))
        row.detail += "; " + lostNote(lost.sending, "while sending") +
                      ", its answer may have been among them";
    if (lost.confirming != 0 && state == State::NotConfirmed &&
        row.detail.rfind("no answer to the confirmation scan", 0) == 0)
        row.detail += "; " + lostNote(lost.confirming, "in that scan") +
                      ", its answer may have been among them";
    return row;
}

std::vector<AppliedRow> refusedRows(const std::deque<PlanRow> &rows,
                                    const std::vector<std::string> &problems,
                                    const std::string &why) {
    std::vector<AppliedRow> out;
    for (const PlanRow &row : rows) {
        const std::string n = std::to_string(row.row);
        std::string detail;
        for (const std::string &problem : problems)
            for (const std::string &start :
                 {"row " + n + ": ", "entry " + n + ": ", "row " + n + " ("})
                if (problem.rfind(start, 0) == 0) {
                    detail += (detail.empty() ? "" : "; ") + problem;
                    break;
                }
        out.push_back({row.row,
                       formatMac(row.mac.data()),
                       "not-sent",
                       detail.empty() ? "not sent: " + why : detail,
                       {},
                       {},
                       {},
                       {}});
    }
    if (out.empty())
        out.push_back({0, {}, "not-sent", "not sent: " + why, {}, {}, {}, {}});
    return out;
}

DryRunCount dryRunCount(const std::vector<DeviceChange> &planned,
                        const std::vector<Outcome> &outcomes) {
    DryRunCount count;
    for (std::size_t i = 0; i < planned.size(); ++i)
        if (outcomes[i].state == State::Pending)
            ++count.devices, count.requests += planned[i].steps.size();
    return count;
}

} // namespace veltrona::change
