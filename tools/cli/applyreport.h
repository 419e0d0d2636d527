#pragma once
// What `veltrona-cli apply` did, row by row: the report file, written as each
// row's outcome becomes known (so that an interrupted run leaves its record)
// and once more, complete and in plan order, at the end; and the table on
// standard output.

#include <QFile>

#include <string>
#include <vector>

namespace veltrona::cli {

struct AppliedRow {
    int row = 0;
    std::string mac;
    std::string result; // the key word: confirmed, auth-failed, not-sent...
    std::string detail;
    std::string addressBefore; // where the device answered the first scan
    std::string addressAfter;  // where it answered after the run; empty when unknown
};

class ApplyReport {
public:
    // Whether `path` can be written, before anything is sent: the file is
    // created when missing, an existing one is left as it is. An error text
    // or empty.
    static std::string checkWritable(const std::string &path);

    // Truncates the file and writes its start (JSON when the name ends in
    // ".json", else CSV with a header line).
    bool open(const std::string &path, std::string &error);
    // Appends one row and flushes it to the file.
    bool add(const AppliedRow &row, std::string &error);
    // Writes the whole report anew.
    bool rewrite(const std::vector<AppliedRow> &rows, std::string &error);

private:
    bool put(const QByteArray &data, std::string &error);
    QFile file_;
    bool json_ = false;
    bool first_ = true;
};

// One line of the table printed at the end.
struct TableLine {
    std::string mac, hostName, address, result, detail;
};

// The table with its title line; device texts are shown with control
// characters as '?'.
std::string formatAppliedTable(const std::vector<TableLine> &lines);

} // namespace veltrona::cli
