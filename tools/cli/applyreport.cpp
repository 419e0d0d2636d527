#include "applyreport.h"

#include "commandline.h"
#include "csv.h"
#include "printable.h"
#include "report.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <random>

namespace veltrona::cli {

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

QJsonObject jsonValues(const ShownValues &values) {
    QJsonObject object;
    for (const auto &[name, value] : values)
        object.insert(QString::fromStdString(name), QString::fromStdString(value));
    return object;
}

QJsonObject jsonRow(const AppliedRow &row) {
    QJsonObject object{{"row", row.row},
                       {"mac", QString::fromStdString(row.mac)},
                       {"result", QString::fromStdString(row.result)},
                       {"detail", QString::fromStdString(row.detail)},
                       {"address_before", QString::fromStdString(row.addressBefore)},
                       {"address_after", QString::fromStdString(row.addressAfter)}};
    if (!row.before.empty()) {
        object.insert(QStringLiteral("before"), jsonValues(row.before));
        object.insert(QStringLiteral("after"), jsonValues(row.after));
    }
    return object;
}

std::string compact(const AppliedRow &row) {
    return QJsonDocument(jsonRow(row)).toJson(QJsonDocument::Compact).toStdString();
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
        QJsonArray array;
        for (const AppliedRow &row : rows)
            array.append(jsonRow(row));
        data = QJsonDocument(array).toJson().toStdString();
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
std::string formatAppliedTable(const std::vector<TableLine> &lines) {
    std::vector<std::array<std::string, 5>> cells = {
        {"MAC", "Host name", "Address", "Result", "Detail"}};
    for (const TableLine &line : lines)
        cells.push_back({line.mac, printable(line.hostName), line.address, line.result,
                         printable(line.detail)});
    std::array<std::size_t, 5> width{};
    for (const auto &line : cells)
        for (std::size_t i = 0; i < 5; ++i)
            width[i] = std::max(width[i], displayWidth(line[i]));
    std::string out;
    for (const auto &line : cells) {
        std::string text;
        for (std::size_t i = 0; i < 5; ++i)
            text += line[i] + (i < 4 ? std::string(width[i] - displayWidth(line[i]) + 2, ' ') : "");
        out += text.substr(0, text.find_last_not_of(' ') + 1) + '\n';
    }
    return out;
}

} // namespace veltrona::cli
