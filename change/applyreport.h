#pragma once
// What an apply did, row by row: the records made from the engine's outcomes,
// and the report file.
//
// The report file is a journal while the run goes: a line (CSV) or an entry of
// the JSON list is added each time a row's state changes, written at once (a
// killed run leaves it) and forced to disk at least every quarter second, so
// that the last line of a row holds its latest state. At the end the complete
// report, one line per row in plan order, replaces it. The file at the path is
// only ever replaced by a rename of a new file made in the same folder: an
// existing file is never truncated or written through a symbolic link.

#include "changeengine.h"
#include "plan.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace veltrona::change {

// A device's settings as it shows them, by name (host, domain, guest, mode,
// ip, ...), in a fixed order; never a password.
using ShownValues = std::vector<std::pair<std::string, std::string>>;

struct AppliedRow {
    int row = 0;
    std::string mac;
    std::string result; // the key word: confirmed, auth-failed, not-sent, sent...
    std::string detail;
    std::string addressBefore; // where the device answered the first scan
    std::string addressAfter;  // where it answered after the run; empty when unknown
    // The JSON report's values of the device as the scan found them and as the
    // row leaves them; empty when the device was not heard.
    ShownValues before, after;
};

class ApplyReport {
public:
    ApplyReport() = default;
    ~ApplyReport();
    ApplyReport(const ApplyReport &) = delete;
    ApplyReport &operator=(const ApplyReport &) = delete;

    // Whether a report may be written to `path`, before anything is read or
    // sent: not a symbolic link, nothing but a regular file there, not the
    // same file as any of `keep` (the plan, the secrets or password file), and
    // a folder a new file can be made in. An error text or empty.
    static std::string check(const std::string &path, const std::vector<std::string> &keep);

    // Starts the journal (JSON when the name ends in ".json", else CSV with a
    // header line): a new file holding no row replaces `path`.
    bool open(const std::string &path, std::string &error);
    // Adds a row's latest state to the journal.
    bool add(const AppliedRow &row, std::string &error);
    // The complete report replaces the file at `path` (opened or not).
    bool finish(const std::string &path, const std::vector<AppliedRow> &rows, std::string &error);

private:
    bool put(const std::string &data, std::string &error);
    int fd_ = -1;
    bool json_ = false;
    bool first_ = true;
    long long end_ = 0; // JSON: where the closing bracket's line starts
    std::chrono::steady_clock::time_point synced_{};
};

// The values a device shows, under the report's names.
ShownValues shownValues(const DeviceRecord &device);

// The device as the change's requests leave it.
DeviceRecord deviceAfter(const DeviceChange &change);

// A row's record as its outcome stands: result key word, detail, addresses.
AppliedRow appliedRow(const DeviceChange &change, const Outcome &outcome);

// The key word of a row's state in the journal: a row whose request went out
// is `sent` until it settles, or `applied` (answered Success, not confirmed).
std::string journalKey(State state, bool sent);

// Replies the library lost while the requests went and in the confirmation
// scan.
struct LostReplies {
    std::uint32_t sending = 0;
    std::uint32_t confirming = 0;
};

// "3 replies were lost while sending".
std::string lostNote(std::uint32_t count, const char *when);

// A row for the final report and table, with the device's values before and
// after: the detail also says when its answer may have been among the
// replies lost.
AppliedRow finalRow(const DeviceChange &change, const Outcome &outcome, const LostReplies &lost);

// The rows of a plan refused before anything was sent: every one not-sent,
// with the problems that name it, else `why`. A plan without rows gives one
// line, row 0, for the whole plan.
std::vector<AppliedRow> refusedRows(const std::deque<PlanRow> &rows,
                                    const std::vector<std::string> &problems,
                                    const std::string &why);

// What a dry run would do: the devices to change and the requests that would go.
struct DryRunCount {
    std::size_t devices = 0;
    std::size_t requests = 0;
};
DryRunCount dryRunCount(const std::vector<DeviceChange> &planned,
                        const std::vector<Outcome> &outcomes);

} // namespace veltrona::change
