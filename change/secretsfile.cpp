#include "secretsfile.h"

#include "csv.h"
#include "devicerow.h"
#include "password.h"
#include "secrets.h"

#include <fcntl.h>
#include <string.h> // explicit_bzero
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

namespace veltrona::change {

namespace {

enum Column { MacColumn, User, Password, NewPassword, ColumnCount };
constexpr std::array<const char *, ColumnCount> kColumnNames = {"mac", "user", "password",
                                                                "new_password"};

// The file's bytes, read into one buffer sized once.
std::string readPrivateFile(const std::string &path, std::string &problem) {
    const int fd = openPrivateFile(path, problem);
    if (fd < 0)
        return {};
    std::string content;
    struct stat status {};
    if (fstat(fd, &status) != 0) {
        problem = "cannot read " + path + ": " + std::strerror(errno);
    } else if (static_cast<std::uint64_t>(status.st_size) > kMaxSecretsFileBytes) {
        problem = path + " is larger than " + std::to_string(kMaxSecretsFileBytes) + " bytes";
    } else {
        content.resize(static_cast<std::size_t>(status.st_size));
        std::size_t got = 0;
        while (got < content.size()) {
            const ssize_t n = read(fd, content.data() + got, content.size() - got);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            got += static_cast<std::size_t>(n);
        }
        explicit_bzero(content.data() + got, content.size() - got);
        content.resize(got);
    }
    close(fd);
    return content;
}

// One secret cell as devices take it, into `into`; `problem` names the row and
// column.
void secretCell(const std::string &cell, std::size_t maxLength, const std::string &where,
                const char *column, const char *what, std::string &into, std::string &problem) {
    std::string why;
    std::optional<std::string> latin1 = passwordFromLocale(cell, maxLength, why);
    if (!latin1) {
        problem = where + column + ": the " + what + " " + why;
        return;
    }
    into = std::move(*latin1);
    wipe(*latin1); // a short text stays in the moved-from string's own buffer
}

} // namespace

void wipeCredentials(Credentials &credentials) {
    wipe(credentials.user);
    wipe(credentials.password);
    if (credentials.newPassword)
        wipe(*credentials.newPassword);
}

std::string readSecretsFile(const std::string &path, std::map<std::uint64_t, Credentials> &out) {
    keepSecretsOutOfCoreFiles();
    std::string problem;
    std::string content = readPrivateFile(path, problem);
    if (!problem.empty()) {
        wipe(content);
        return "--secrets: " + problem;
    }
    return parseSecrets(content, out);
}

std::string parseSecrets(std::string &content, std::map<std::uint64_t, Credentials> &out) {
    std::string problem;
    std::array<int, ColumnCount> columns;
    columns.fill(-1);
    std::size_t width = 0;
    const std::string csvProblem = readCsv(content, [&](const CsvRecord &record) {
        const std::string where = "row " + std::to_string(record.row) + ": ";
        if (width == 0) {
            // The header; a cell that is no column name may be a password.
            width = record.cells.size();
            for (std::size_t i = 0; i < width && problem.empty(); ++i) {
                std::string_view name = record.cells[i];
                name.remove_prefix(std::min(name.find_first_not_of(' '), name.size()));
                name.remove_suffix(name.size() - (name.find_last_not_of(' ') + 1));
                int at = 0;
                while (at < ColumnCount && name != kColumnNames[at])
                    ++at;
                if (at == ColumnCount)
                    problem = where + "cell " + std::to_string(i + 1) +
                              " is not a column name (the first row names the columns mac, "
                              "user, password and optionally new_password)";
                else if (columns[at] >= 0)
                    problem = where + "column '" + kColumnNames[at] + "' is given twice";
                else
                    columns[at] = static_cast<int>(i);
            }
            if (problem.empty() &&
                (columns[MacColumn] < 0 || columns[User] < 0 || columns[Password] < 0))
                problem = where + "the columns mac, user and password are needed";
            return problem.empty();
        }
        if (record.cells.size() > width) {
            problem = where + std::to_string(record.cells.size()) +
                      " cells, but the header names " + std::to_string(width) + " columns";
            return false;
        }
        static const std::string kEmpty;
        auto cell = [&](Column column) -> const std::string & {
            const int at = columns[column];
            return at >= 0 && static_cast<std::size_t>(at) < record.cells.size()
                       ? record.cells[static_cast<std::size_t>(at)]
                       : kEmpty;
        };
        const auto mac = parseMac(cell(MacColumn));
        if (!mac) {
            problem = where + "mac: not a MAC address";
            return false;
        }
        Credentials credentials;
        secretCell(cell(User), kMaxUserId, where, "user", "ID", credentials.user, problem);
        if (problem.empty() && credentials.user.empty())
            problem = where + "user: the ID is empty";
        if (problem.empty())
            secretCell(cell(Password), kMaxPassword, where, "password", "password",
                       credentials.password, problem);
        if (problem.empty() && !cell(NewPassword).empty())
            secretCell(cell(NewPassword), kMaxPassword, where, "new_password", "new password",
                       credentials.newPassword.emplace(), problem);
        if (problem.empty()) {
            auto [at, added] = out.try_emplace(macKey(mac->data()), std::move(credentials));
            if (!added)
                problem = where + "mac: " + formatMac(mac->data()) + " is listed twice";
        }
        wipeCredentials(credentials);
        return problem.empty();
    });
    wipe(content);
    if (problem.empty())
        problem = csvProblem;
    if (problem.empty() && width == 0)
        problem = "the file is empty (the first row names the columns mac, user, password and "
                  "optionally new_password)";
    if (!problem.empty()) {
        for (auto &[key, credentials] : out)
            wipeCredentials(credentials);
        out.clear();
        return "--secrets: " + problem;
    }
    return {};
}

} // namespace veltrona::change
