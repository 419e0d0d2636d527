#pragma once
// What `veltrona-cli apply` did, row by row: the report file and the table on
// standard output.
//
// The report file is a journal while the run goes: a line (CSV) or an entry of
// the JSON list is added each time a row's state changes, written at once (a
// killed run leaves it) and forced to disk at least every quarter second, so
// that the last line of a row holds its latest state. At the end the complete
// report, one line per row in plan order, replaces it. The file at the path is
// only ever replaced by a rename of a new file made in the same folder: an
// existing file is never truncated or written through a symbolic link.

#include <chrono>
#include <string>
#include <utility>
#include <vector>

namespace veltrona::cli {

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

// One line of the table printed at the end.
struct TableLine {
    std::string mac, hostName, address, result, detail;
};

// The table with its title line; device texts are shown with control
// characters as '?'.
std::string formatAppliedTable(const std::vector<TableLine> &lines);

} // namespace veltrona::cli
