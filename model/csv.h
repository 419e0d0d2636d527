#pragma once
// Comma-separated values as spreadsheets write them (RFC 4180), for plans and
// secrets files, and the cells written for spreadsheets. No Qt here.

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace veltrona {

struct CsvRecord {
    int row = 0; // the line the record starts on, counting from 1
    std::vector<std::string> cells;
};

// Called for each record; returns false to stop reading.
using CsvRecordFunction = std::function<bool(const CsvRecord &record)>;

// Reads `text` record by record: cells separated by commas, records ended by
// LF, CR LF or CR; a quoted cell may hold commas, line ends and doubled quotes;
// a UTF-8 byte-order mark at the start is skipped. Records whose cells are all
// empty and unquoted (a spreadsheet's unused rows) are skipped. Nothing is
// trimmed. Returns what is wrong ("row N: ..."; an unterminated quote names the
// row where it opens), or an empty text. Messages never repeat a cell, and
// every cell is overwritten before its memory is given back, so that the
// reader leaves no copy of a secret behind; at most `maxCells` cells a record
// are held.
std::string readCsv(std::string_view text, const CsvRecordFunction &onRecord,
                    std::size_t maxCells = 256);

// One cell as CSV: quoted when it holds a comma, a quote or a line end (quotes
// doubled), else as it is.
std::string csvField(std::string_view text);

// A cell of device text for a spreadsheet: one that a spreadsheet would take
// for a formula (starting with '=', '+', '-', '@', TAB or CR), or that starts
// with an apostrophe itself, gets a leading apostrophe.
std::string spreadsheetText(std::string_view text);

// The reverse of spreadsheetText: the text without that apostrophe.
std::string_view fromSpreadsheetText(std::string_view cell);

// Whether a spreadsheet would take a cell starting with this character for a
// formula.
bool isFormulaStart(char c);

} // namespace veltrona
