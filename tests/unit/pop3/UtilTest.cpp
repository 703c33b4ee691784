#include "pop3/Util.h"

#include "pop3/WireMessage.h"
#include "tests/unit/pop3/Fixtures.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using TLines = std::vector<std::string>;

std::string Formatted(const std::string& header, const char* separator = "/")
{
    return FormatMessageDate(header, ParseMessageDate(header), separator);
}

TLines SplitWrapped(const std::string& text)
{
    TLines lines;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find("\r\n", start);
        lines.push_back(text.substr(start, end - start));
        if (end == std::string::npos)
            return lines;
        start = end + 2;
    }
}

std::size_t Characters(const std::string& text)
{
    return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

std::string Without(std::string text, const std::string& drop)
{
    text.erase(std::remove_if(text.begin(), text.end(),
                              [&](char c) { return drop.find(c) != std::string::npos; }),
               text.end());
    return text;
}

} // namespace

// FormatMessageDate

TEST(FormatMessageDate, UsualFormShowsTheTimeAtCharacters18To25)
{
    EXPECT_EQ(Formatted("Sun, 06 Dec 2026 20:07:05 +0000"), "06/12/2026 20:07:05");
    EXPECT_EQ(Formatted("Sun, 06 Dec 2026 20:07:05 +0000", "."), "06.12.2026 20:07:05");
    EXPECT_EQ(Formatted("Sun, 06 Dec 2026 20:07:05 +0000", ". "), "06. 12. 2026 20:07:05");
    EXPECT_EQ(Formatted("Mon, 01 Jan 2000 00:00:00 GMT"), "01/01/2000 00:00:00");
}

// Other forms used to show whatever characters 18 to 25 held ("5 +0000", "at all, ").
TEST(FormatMessageDate, OtherFormsShowTheHeadersOwnTime)
{
    EXPECT_EQ(Formatted("Mon, 1 Jan 2000 08:30:00 GMT"), "01/01/2000 08:30:00");
    EXPECT_EQ(Formatted("6 Dec 2026 20:07:05 +0000"), "06/12/2026 20:07:05");
    EXPECT_EQ(Formatted("06 Dec 26 20:07"), "06/12/2026 20:07");
    EXPECT_EQ(Formatted("Sun, 06 Dec 2026 20:07 +0000"), "06/12/2026 20:07");
    EXPECT_EQ(Formatted("Sun, 6 Dec 2026 9:07:05 +0000"), "06/12/2026 9:07:05");
    EXPECT_EQ(Formatted("  Sun, 06 Dec 2026 20:07:05 +0000"), "06/12/2026 20:07:05");
    // Digits that are part of a longer number are no time.
    EXPECT_EQ(Formatted("Sun, 06 Dec 2026 120:07:05"), "06/12/2026 ");
    EXPECT_EQ(Formatted("06 Dec 2026 at 10:1 or 11:22:3"), "06/12/2026 11:22");
}

TEST(FormatMessageDate, NoTimeAppendsOnlyABlank)
{
    EXPECT_EQ(Formatted("Sun, 06 Dec 2026"), "06/12/2026 ");
    EXPECT_EQ(Formatted("Sun, 06 Dec 2026 "), "06/12/2026 ");
    EXPECT_EQ(Formatted(""), "30/12/1899 ");
    EXPECT_EQ(FormatMessageDate("no date here at all, really", 0, "/"), "30/12/1899 ");
}

TEST(FormatMessageDate, DatesOutsideTheCalendarShowAsNoDate)
{
    EXPECT_EQ(FormatMessageDate("", -1, "-"), "29-12-1899 ");
    EXPECT_EQ(FormatMessageDate("", 1e12, "/"), "30/12/1899 ");
    EXPECT_EQ(FormatMessageDate("", -1e12, "/"), "30/12/1899 ");
}

// MessageDateTime

TEST(MessageDateTime, OrdersByTheMomentInUtc)
{
    const TDateTime day = ParseMessageDate("Sun, 06 Dec 2026");
    const struct
    {
        const char* Header;
        double Hours;
    } table[] = {
        {"Sun, 06 Dec 2026 20:07:05 +0000", 20 + 7 / 60.0 + 5 / 3600.0},
        {"Sun, 06 Dec 2026 20:07:05 +0100", 19 + 7 / 60.0 + 5 / 3600.0},
        {"Sun, 06 Dec 2026 20:07:05 -0530", 25 + 37 / 60.0 + 5 / 3600.0},
        {"Sun, 06 Dec 2026 20:07 EST", 25 + 7 / 60.0},
        {"Sun, 06 Dec 2026 20:07:05 GMT", 20 + 7 / 60.0 + 5 / 3600.0},
        {"6 Dec 2026 08:00:00 (no zone)", 8},
        {"Sun, 06 Dec 2026", 0},
    };
    for (const auto& row : table)
        EXPECT_NEAR(MessageDateTime(row.Header), day + row.Hours / 24, 1e-9) << row.Header;
    EXPECT_EQ(MessageDateTime(""), 0);
}

// Sender

struct TSenderCase
{
    const char* From;
    const char* Name;
    const char* Address;
};

class Sender : public testing::TestWithParam<TSenderCase>
{};

TEST_P(Sender, NameAndAddress)
{
    EXPECT_EQ(ExtractSenderName(GetParam().From), GetParam().Name) << GetParam().From;
    EXPECT_EQ(ExtractSenderAddress(GetParam().From), GetParam().Address) << GetParam().From;
}

INSTANTIATE_TEST_SUITE_P(
    Util, Sender,
    testing::Values(TSenderCase{"\"Doe, Jane\" <jane@example.org>", "Doe, Jane",
                                "jane@example.org"},
                    TSenderCase{"Jane Doe <jane@example.org>", "Jane Doe", "jane@example.org"},
                    TSenderCase{"jane@example.org", "", ""}, TSenderCase{"", "", ""},
                    TSenderCase{"\"Jane <jane@example.org>", "", "jane@example.org"},
                    TSenderCase{"<jane@example.org>", "", "jane@example.org"},
                    TSenderCase{"jane@example.org (Jane \"JD\" Doe)", "JD", ""},
                    TSenderCase{"a> Jane <b", "a> Jane", ""}, TSenderCase{"x <>", "x", ""},
                    TSenderCase{"Jane <jane@example.org", "Jane", ""},
                    TSenderCase{"jane@example.org>", "", "jane@example.org"},
                    TSenderCase{"A <a@x> B <b@y>", "A", "a@x"}));

// ExtractBodyText

TEST(ExtractBodyText, StartsAfterTheHeaderWithoutLeadingEmptyLines)
{
    EXPECT_EQ(ExtractBodyText(MessageLines("status-last-header.eml")),
              (TLines{"Shall we meet at noon?", "", "Ann"}));
    // Servers that add no Status header get the same.
    EXPECT_EQ(ExtractBodyText({"From: a@b", "Subject: x", "", "Hello", "status: shipped", "Bye"}),
              (TLines{"Hello", "status: shipped", "Bye"}));
}

TEST(ExtractBodyText, NothingWithoutABody)
{
    EXPECT_TRUE(ExtractBodyText({}).empty());
    EXPECT_TRUE(ExtractBodyText({"From: a@b", "Status: RO"}).empty());
    EXPECT_TRUE(ExtractBodyText({"From: a@b", "Status: RO", ""}).empty());
    EXPECT_TRUE(ExtractBodyText({"From: a@b", "", "", ""}).empty());
}

TEST(ExtractBodyText, MimeMessageShowsItsFirstTextPartOnly)
{
    EXPECT_EQ(ExtractBodyText(MessageLines("multipart-with-attachments.eml")),
              TLines{"Here is the report, and the data behind it."});
}

TEST(ExtractBodyText, WithoutMimeStructureDropsLinesThatLookLikeBookkeeping)
{
    EXPECT_EQ(ExtractBodyText({"", "see the content-length", "ChArSeT=x", "--boundary1",
                               "a multi-part thing", "kept"}),
              TLines{"kept"});
}

TEST(ExtractBodyText, StopsAtHtmlInAnyLetterCase)
{
    EXPECT_EQ(ExtractBodyText(MessageLines("html-stops-preview.eml")),
              TLines{"Plain introduction."});
    EXPECT_EQ(ExtractBodyText({"", "text", "<!doctype html>", "more"}), TLines{"text"});
}

// ExtractAttachmentNames

TEST(ExtractAttachmentNames, OnePerPartItsFilenameElseItsName)
{
    // The PDF part's filename is "figures.PDF", its type's name "Figures.pdf"; the last part's
    // name is on a folded line.
    EXPECT_EQ(ExtractAttachmentNames(MessageLines("multipart-with-attachments.eml")),
              (TLines{"report.txt", "figures.PDF", "folded.png"}));
    // A message of one part names it in its own header.
    EXPECT_EQ(ExtractAttachmentNames({"Content-Type: text/plain; name=report.txt"}),
              TLines{"report.txt"});
}

TEST(ExtractAttachmentNames, NoneWithoutMimeStructure)
{
    EXPECT_TRUE(ExtractAttachmentNames({"Subject: x", "", "Content-Type: image/png; name=\"b.png\"",
                                        "Content-Disposition: attachment; filename=\"a.txt\""})
                    .empty());
}

// WrapText

TEST(WrapText, ShortTextIsUnchanged)
{
    const std::string eighty(80, 'x');
    EXPECT_EQ(WrapText(eighty, " ,;"), eighty);
    EXPECT_EQ(WrapText("a, b; c", " ,;"), "a, b; c");
    EXPECT_EQ(WrapText("", ","), "");
    // Eighty characters of two bytes each still fit.
    std::string accented;
    for (int i = 0; i < 16; ++i)
        accented += "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9 ";
    EXPECT_EQ(WrapText(accented, " "), accented);
}

TEST(WrapText, BreaksAfterTheLastBreakCharacterThatFits)
{
    std::string list;
    for (int i = 0; i < 12; ++i)
        list += (i ? ", " : "") + std::string("person") + std::to_string(i) + "@example.org";
    const std::string wrapped = WrapText(list, " ,;");
    const TLines lines = SplitWrapped(wrapped);
    ASSERT_GT(lines.size(), 1U);
    for (const std::string& line : lines) {
        EXPECT_LE(Characters(line), 80U) << line;
        EXPECT_NE(line.front(), ' ') << line;
    }
    EXPECT_EQ(lines[0], "person0@example.org, person1@example.org, person2@example.org, ");
    // Only line breaks were added and only blanks at line starts dropped.
    EXPECT_EQ(Without(wrapped, "\r\n "), Without(list, " "));

    // With the comma as the only break character the blank stays with the comma's line.
    const TLines byComma = SplitWrapped(WrapText(list, ","));
    EXPECT_EQ(byComma[0].back(), ',');
    EXPECT_EQ(byComma[1].substr(0, 7), "person3");
}

TEST(WrapText, QuotedTextIsNotBroken)
{
    const std::string text = std::string(70, 'a') + ", \"Doe, Jane; Smith\" <jane@example.org>";
    const TLines lines = SplitWrapped(WrapText(text, " ,;"));
    EXPECT_EQ(lines,
              (TLines{std::string(70, 'a') + ", ", "\"Doe, Jane; Smith\" <jane@example.org>"}));
    // A lone apostrophe quotes nothing.
    const std::string apostrophe = "O'Brien " + std::string(75, 'b') + " end";
    EXPECT_EQ(SplitWrapped(WrapText(apostrophe, " ")).size(), 2U);
}

TEST(WrapText, LongPiecesStayWhole)
{
    const std::string word(100, 'w');
    EXPECT_EQ(WrapText(word, " "), word);
    EXPECT_EQ(SplitWrapped(WrapText(word + " tail", " ")), (TLines{word + " ", "tail"}));
    // Trailing blanks are not moved to a line of their own.
    const std::string padded = std::string(79, 'p') + "       ";
    EXPECT_EQ(WrapText(padded, " "), padded);
    // A line break already in the text starts the count again.
    const std::string twoLines = std::string(60, 'a') + "\n" + std::string(60, 'b') + " c";
    EXPECT_EQ(WrapText(twoLines, " "), twoLines);
}
