#include "pop3/HeaderText.h"

#include <gtest/gtest.h>

namespace {

struct TDecodeCase
{
    const char* Why;
    std::string Raw;
    std::string Shown;
};

class DisplayText : public testing::TestWithParam<TDecodeCase>
{};

} // namespace

TEST_P(DisplayText, DecodesRawHeaderText)
{
    EXPECT_EQ(DecodeHeaderText(GetParam().Raw), GetParam().Shown) << GetParam().Why;
}

INSTANTIATE_TEST_SUITE_P(
    HeaderText, DisplayText,
    testing::Values(
        TDecodeCase{"plain ASCII", "Re: lunch (today)", "Re: lunch (today)"},
        TDecodeCase{"B", "=?UTF-8?B?SGVsbG8gV29ybGQ=?=", "Hello World"},
        TDecodeCase{"B without padding", "=?utf-8?b?SGk?=", "Hi"},
        TDecodeCase{"Q in Latin-1",
                    "=?iso-8859-1?q?J=F6rg_M=fcller?=", "J\xC3\xB6rg M\xC3\xBCller"},
        TDecodeCase{"text around a word", "Re: =?UTF-8?Q?caf=C3=A9?= time", "Re: caf\xC3\xA9 time"},
        TDecodeCase{"blanks between words dropped", "=?UTF-8?Q?a?= \t =?UTF-8?Q?b?=", "ab"},
        TDecodeCase{"other text between words kept", "=?UTF-8?Q?a?= x =?UTF-8?Q?b?=", "a x b"},
        TDecodeCase{"character split across words",
                    "=?UTF-8?Q?caf=C3?= =?UTF-8?Q?=A9?=", "caf\xC3\xA9"},
        TDecodeCase{"adjacent words of two charsets", "=?iso-8859-1?Q?=E9?= =?koi8-r?B?8NLJ18XU?=",
                    "\xC3\xA9\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82"},
        TDecodeCase{"stateful charset",
                    "=?ISO-2022-JP?B?GyRCRnxLXDhsGyhC?=", "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E"},
        TDecodeCase{"Windows-1252 quotes",
                    "=?windows-1252?Q?=93quoted=94?=", "\xE2\x80\x9Cquoted\xE2\x80\x9D"},
        TDecodeCase{"alias iconv lacks",
                    "=?ks_c_5601-1987?B?x9Gx2w==?=", "\xED\x95\x9C\xEA\xB8\x80"},
        TDecodeCase{"language after the charset", "=?UTF-8*en?Q?hi?=", "hi"},
        TDecodeCase{"unknown charset guessed", "=?x-unknown?Q?caf=E9?=", "caf\xC3\xA9"},
        TDecodeCase{"UTF-8 label on Latin-1 bytes", "=?utf-8?Q?caf=E9?=", "caf\xC3\xA9"},
        TDecodeCase{"invalid bytes in a known charset", "=?EUC-JP?Q?a=FF=FFb?=",
                    "a\xEF\xBF\xBD\xEF\xBF\xBD"
                    "b"},
        TDecodeCase{"bad base64 kept as written", "=?UTF-8?B?***?=", "=?UTF-8?B?***?="},
        TDecodeCase{"unknown encoding kept", "=?UTF-8?X?abc?=", "=?UTF-8?X?abc?="},
        TDecodeCase{"unterminated word kept", "=?UTF-8?Q?no end", "=?UTF-8?Q?no end"},
        TDecodeCase{"empty charset kept", "=??Q?a?=", "=??Q?a?="},
        TDecodeCase{"no conversion flags through the name",
                    "=?UTF-8//IGNORE?Q?a?=", "=?UTF-8//IGNORE?Q?a?="},
        TDecodeCase{"raw UTF-8",
                    "Gr\xC3\xBC\xC3\x9F"
                    "e",
                    "Gr\xC3\xBC\xC3\x9F"
                    "e"},
        TDecodeCase{"raw Latin-1",
                    "Gr\xFC\xDF"
                    "e",
                    "Gr\xC3\xBC\xC3\x9F"
                    "e"},
        TDecodeCase{"raw Windows-1252", "\x80 \x81", "\xE2\x82\xAC \xEF\xBF\xBD"},
        TDecodeCase{"overlong UTF-8 is not UTF-8", "\xC0\xAF", "\xC3\x80\xC2\xAF"},
        TDecodeCase{"controls", std::string("a\tb\0c", 5),
                    "a b\xEF\xBF\xBD"
                    "c"},
        TDecodeCase{"encoded line break", "=?UTF-8?Q?a=0D=0Ab=7F?=", "a  b\xEF\xBF\xBD"}));

// What reaches a terminal or the log from a server or the system: one line, no control
// character a terminal would obey.
TEST(PrintableText, KeepsOneLineWithoutControlCharacters)
{
    const std::string replaced = "\xEF\xBF\xBD";
    const struct
    {
        std::string Raw;
        std::string Shown;
    } table[] = {
        {"Socket Error #10060\r\nConnection timed out.",
         "Socket Error #10060 Connection timed out."},
        {"a\rb\nc\td", "a b c\td"},
        {"-ERR \x1b]0;title\x07\x1b[2J",
         "-ERR " + replaced + "]0;title" + replaced + replaced + "[2J"},
        {"C1 \xC2\x9B"
         "31m and DEL \x7F",
         "C1 " + replaced + "31m and DEL " + replaced},
        {"NUL " + std::string(1, '\0') + " end", "NUL " + replaced + " end"},
        {"Gr\xFC\xDF"
         "e",
         "Gr\xC3\xBC\xC3\x9F"
         "e"},
        {"caf\xC3\xA9", "caf\xC3\xA9"},
    };
    for (const auto& row : table)
        EXPECT_EQ(PrintableText(row.Raw), row.Shown) << row.Raw;
}
