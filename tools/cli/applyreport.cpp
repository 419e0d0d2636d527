#include "applyreport.h"

#include "commandline.h"
#include "csv.h"
#include "printable.h"
#include "report.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <array>

namespace veltrona::cli {

namespace {

bool isJson(const std::string &path) {
    return path.size() >= 5 && path.compare(path.size() - 5, 5, ".json") == 0;
}

const char *const kCsvHeader = "row,mac,result,detail,address_before,address_after\n";

std::string csvLine(const AppliedRow &row) {
    return std::to_string(row.row) + "," + row.mac + "," + row.result + "," +
           csvField(spreadsheetText(row.detail)) + "," + row.addressBefore + "," +
           row.addressAfter + "\n";
}

QJsonObject jsonRow(const AppliedRow &row) {
    return QJsonObject{{"row", row.row},
                       {"mac", QString::fromStdString(row.mac)},
                       {"result", QString::fromStdString(row.result)},
                       {"detail", QString::fromStdString(row.detail)},
                       {"address_before", QString::fromStdString(row.addressBefore)},
                       {"address_after", QString::fromStdString(row.addressAfter)}};
}

} // namespace

std::string ApplyReport::checkWritable(const std::string &path) {
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return "--report: " + toLocale(file.errorString());
    return {};
}

bool ApplyReport::open(const std::string &path, std::string &error) {
    json_ = isJson(path);
    first_ = true;
    file_.setFileName(QString::fromStdString(path));
    if (!file_.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        error = "--report: " + toLocale(file_.errorString());
        return false;
    }
    return put(json_ ? QByteArray("[\n") : QByteArray(kCsvHeader), error);
}

bool ApplyReport::add(const AppliedRow &row, std::string &error) {
    if (!json_)
        return put(QByteArray::fromStdString(csvLine(row)), error);
    QByteArray data = first_ ? QByteArray() : QByteArray(",\n");
    first_ = false;
    return put(data + QJsonDocument(jsonRow(row)).toJson(QJsonDocument::Compact), error);
}

bool ApplyReport::rewrite(const std::vector<AppliedRow> &rows, std::string &error) {
    QByteArray data;
    if (json_) {
        QJsonArray array;
        for (const AppliedRow &row : rows)
            array.append(jsonRow(row));
        data = QJsonDocument(array).toJson();
    } else {
        std::string csv = kCsvHeader;
        for (const AppliedRow &row : rows)
            csv += csvLine(row);
        data = QByteArray::fromStdString(csv);
    }
    if (!file_.resize(0) || !file_.seek(0)) {
        error = "--report: " + toLocale(file_.errorString());
        return false;
    }
    return put(data, error);
}

bool ApplyReport::put(const QByteArray &data, std::string &error) {
    if (file_.write(data) != data.size() || !file_.flush()) {
        error = "--report: " + toLocale(file_.errorString());
        return false;
    }
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
