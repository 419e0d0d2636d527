// Untrusted texts: the terminal filter, one case per row.

#include "printable.h"

#include <gtest/gtest.h>

#include <string>

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

} // namespace
