#include "csv.h"

#include <string.h> // explicit_bzero

namespace veltrona {

namespace {

void wipeCells(std::vector<std::string> &cells) {
    for (std::string &cell : cells)
        explicit_bzero(cell.data(), cell.size());
    cells.clear();
}

std::string rowProblem(int row, const std::string &text) {
    return "row " + std::to_string(row) + ": " + text;
}

} // namespace

std::string readCsv(std::string_view text, const CsvRecordFunction &onRecord,
                    std::size_t maxCells) {
    CsvRecord record;
    std::size_t at = text.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0;
    int line = 1;
    std::string problem;
    while (at < text.size() && problem.empty()) {
        record.row = line;
        bool quotedAny = false;
        bool recordEnds = false;
        while (!recordEnds) {
            if (record.cells.size() == maxCells) {
                problem =
                    rowProblem(record.row, "more than " + std::to_string(maxCells) + " cells");
                break;
            }
            // Each cell is sized once, so that no grown copy is left in freed memory.
            std::string &cell = record.cells.emplace_back();
            if (at < text.size() && text[at] == '"') {
                const int opens = line;
                std::size_t end = at + 1;
                for (;;) {
                    end = text.find('"', end);
                    if (end == std::string_view::npos || end + 1 >= text.size() ||
                        text[end + 1] != '"')
                        break;
                    end += 2;
                }
                if (end == std::string_view::npos) {
                    problem = rowProblem(opens, "a quote opens a cell and is never closed");
                    break;
                }
                cell.reserve(end - at - 1);
                for (std::size_t i = at + 1; i < end; ++i) {
                    cell += text[i];
                    line += text[i] == '\n';
                    i += text[i] == '"'; // the second of a doubled quote
                }
                at = end + 1;
                quotedAny = true;
                if (at < text.size() && text.find_first_of(",\r\n", at) != at) {
                    problem = rowProblem(opens, "text follows a quoted cell's closing quote");
                    break;
                }
            } else {
                std::size_t end = text.find_first_of(",\r\n\"", at);
                if (end == std::string_view::npos)
                    end = text.size();
                if (end < text.size() && text[end] == '"') {
                    problem = rowProblem(line, "a quote inside a cell that does not start with "
                                               "one (quote the whole cell)");
                    break;
                }
                cell.assign(text.substr(at, end - at));
                at = end;
            }
            if (at >= text.size()) {
                recordEnds = true;
            } else if (text[at] == ',') {
                ++at;
            } else {
                at += text.substr(at, 2) == "\r\n" ? 2 : 1;
                ++line;
                recordEnds = true;
            }
        }
        if (problem.empty()) {
            bool any = quotedAny;
            for (const std::string &cell : record.cells)
                any = any || !cell.empty();
            if (any && !onRecord(record))
                break;
        }
        wipeCells(record.cells);
    }
    wipeCells(record.cells);
    return problem;
}

std::string csvField(std::string_view text) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos)
        return std::string(text);
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"')
            quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

bool isFormulaStart(char c) {
    return c == '=' || c == '+' || c == '-' || c == '@' || c == '\t' || c == '\r';
}

std::string spreadsheetText(std::string_view text) {
    if (!text.empty() && (isFormulaStart(text.front()) || text.front() == '\''))
        return "'" + std::string(text);
    return std::string(text);
}

std::string_view fromSpreadsheetText(std::string_view cell) {
    if (cell.size() >= 2 && cell.front() == '\'' && (isFormulaStart(cell[1]) || cell[1] == '\''))
        cell.remove_prefix(1);
    return cell;
}

} // namespace veltrona
