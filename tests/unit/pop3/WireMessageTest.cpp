#include "pop3/WireMessage.h"

#include "tests/unit/pop3/Fixtures.h"

#include <gtest/gtest.h>

namespace {

using TLines = std::vector<std::string>;

TWireMessage Parsed(TLines lines)
{
    TWireMessage message;
    message.SetHeaderLines(std::move(lines));
    return message;
}

TDateTime DateOf(int year, int month, int day)
{
    TDateTime value = 0;
    EXPECT_TRUE(TryEncodeDate(year, month, day, value));
    return value;
}

} // namespace

// Header list rules

TEST(WireMessage, UnfoldedLinesGiveOneEntryEachInOrder)
{
    const TWireMessage message =
        Parsed({"Received: from a", "From: ann@example.org", "Received: from b", "Subject: Hi"});
    EXPECT_EQ(message.Headers(),
              (TLines{"Received=from a", "From=ann@example.org", "Received=from b", "Subject=Hi"}));
}

TEST(WireMessage, LookupFindsTheFirstEntryInAnyLetterCase)
{
    const TWireMessage message = Parsed(
        {"Received: from a", "Date: Sun, 06 Dec 2026", "received: from b", "X-Note: a=b: c"});
    for (const char* name : {"Received", "RECEIVED", "received"})
        EXPECT_EQ(message.HeaderValue(name), "from a") << name;
    EXPECT_EQ(message.HeaderValue("DATE"), message.HeaderValue("Date"));
    // Only the first colon separates; later colons and equals signs belong to the value.
    EXPECT_EQ(message.HeaderValue("X-Note"), "a=b: c");
    EXPECT_EQ(message.HeaderValue("Missing"), "");
    EXPECT_EQ(message.HeaderValue("X-Not"), "");
}

TEST(WireMessage, SettingReplacesAppendsOrDeletesTheFirstEntry)
{
    TWireMessage message = Parsed({"Received: one", "Subject: old", "Received: two"});
    message.SetSubject("new");
    message.SetOrganization("Example Ltd");
    message.SetHeaderValue("RECEIVED", "");
    EXPECT_EQ(message.Headers(),
              (TLines{"Subject=new", "Received=two", "Organization=Example Ltd"}));
    message.SetHeaderValue("No-Such-Header", "");
    EXPECT_EQ(message.Headers().size(), 3U);
}

TEST(WireMessage, NamedPropertiesReadTheirHeaders)
{
    const TWireMessage message =
        Parsed({"From: Ann <ann@example.org>", "Organization: Example", "References: <r@x>",
                "Reply-To: back@example.org", "Subject: Hello", "Message-ID: <id@x>"});
    EXPECT_EQ(message.From(), "Ann <ann@example.org>");
    EXPECT_EQ(message.Organization(), "Example");
    EXPECT_EQ(message.References(), "<r@x>");
    EXPECT_EQ(message.ReplyTo(), "back@example.org");
    EXPECT_EQ(message.Subject(), "Hello");
    EXPECT_EQ(message.MsgID(), "<id@x>");
}

// RFC 5322 lets the blank after the colon out; such headers must still be found.
TEST(WireMessage, HeaderWithoutBlankAfterColonIsFound)
{
    const TWireMessage message = Parsed(HeaderLines("colon-without-blank.eml"));
    EXPECT_EQ(message.Subject(), "No blank after the colon");
    EXPECT_EQ(message.Date(), DateOf(2026, 12, 6));
    EXPECT_EQ(Parsed({"Subject:\tTabbed"}).Subject(), "Tabbed");
    EXPECT_EQ(Parsed({"Subject:  two blanks"}).Subject(), " two blanks");
    EXPECT_EQ(Parsed({"No colon at all"}).Headers(), TLines{"No colon at all"});
}

// Folded lines

TEST(WireMessage, FoldedSubjectIsJoinedWithSingleBlanks)
{
    const TWireMessage message = Parsed(HeaderLines("folded-subject.eml"));
    EXPECT_EQ(message.Subject(), "Quarterly figures for the northern region");
    EXPECT_EQ(message.Headers().size(), 5U);
    EXPECT_EQ(message.Headers()[4], "Date=Tue, 03 Mar 2026 09:15:00 +0100");
    EXPECT_EQ(Parsed({"Subject: a", "\tb\tc\x01", " \x02 d "}).Subject(), "a b c d");
}

TEST(WireMessage, FoldedFirstLineIsKeptAsAnEntry)
{
    const TWireMessage message = Parsed(HeaderLines("folded-first-line.eml"));
    EXPECT_EQ(message.Headers(),
              (TLines{"Subject=starts folded and goes on", "From=ann@example.org"}));
}

// Address lists

struct TAddressCase
{
    const char* Value;
    TLines Expected;
};

class AddressList : public testing::TestWithParam<TAddressCase>
{};

TEST_P(AddressList, SplitsAtCommasOutsideAQuotedName)
{
    EXPECT_EQ(SplitAddressList(GetParam().Value), GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(
    WireMessage, AddressList,
    testing::Values(TAddressCase{"ann@example.org, bob@example.net",
                                 {"ann@example.org", "bob@example.net"}},
                    TAddressCase{"\"Doe, Jane\" <jane@x.org>, bob@y.org",
                                 {"\"Doe, Jane\" <jane@x.org>", "bob@y.org"}},
                    TAddressCase{"", {}}, TAddressCase{" ,, \t, ", {}},
                    TAddressCase{"\tann@x.org\r,bob@y.org,", {"ann@x.org", "bob@y.org"}},
                    // An unclosed quote keeps the rest of the value in one item.
                    TAddressCase{"\"Doe, Jane <jane@x.org>, bob@y.org",
                                 {"\"Doe, Jane <jane@x.org>, bob@y.org"}},
                    // The count of quotes decides, not their pairing: three quotes allow a split.
                    TAddressCase{"\"a\" \"b, c\" <x@y>", {"\"a\" \"b", "c\" <x@y>"}}));

TEST(WireMessage, ToCcAndNewsgroupsAreSplitAfterJoining)
{
    const TWireMessage message = Parsed(HeaderLines("quoted-name-with-comma.eml"));
    EXPECT_EQ(message.Too(), (TLines{"\"Smith, John\" <john@example.net>", "carol@example.com",
                                     "\"Lee, Dan\" <dan@example.com>"}));
    EXPECT_EQ(message.CCList(), TLines{"dave@example.com"});
    EXPECT_EQ(message.Newsgroups(), (TLines{"comp.mail.misc", "comp.mail.pop"}));
    EXPECT_TRUE(message.BCCList().empty());
    EXPECT_TRUE(Parsed({"To: ", "Subject: x"}).Too().empty());
}

// Title

TEST(WireMessage, TitleBecomesTheSubject)
{
    const TWireMessage both = Parsed(HeaderLines("title-replaces-subject.eml"));
    EXPECT_EQ(both.Subject(), "Subject from the Title header");
    EXPECT_EQ(both.HeaderValue("Title"), "");
    EXPECT_EQ(both.Headers().size(), 3U);

    const TWireMessage titleOnly = Parsed({"TITLE: Only a title", "From: a@b"});
    EXPECT_EQ(titleOnly.Headers(), (TLines{"From=a@b", "Subject=Only a title"}));

    // An empty Title changes nothing.
    const TWireMessage emptyTitle = Parsed({"Subject: kept", "Title: "});
    EXPECT_EQ(emptyTitle.Headers(), (TLines{"Subject=kept", "Title="}));
}

// Reuse

TEST(WireMessage, ClearEmptiesTheMessageButKeepsTheCallersOptions)
{
    TWireMessage message = Parsed(HeaderLines("quoted-name-with-comma.eml"));
    message.MsgNo = 7;
    message.DefaultDomain = "example.org";
    message.ExtractAttachments = false;
    message.UseNowForDate = false;
    message.NoDecode = true;
    message.ContentType = "text/html";
    message.Clear();
    EXPECT_TRUE(message.Headers().empty());
    EXPECT_TRUE(message.Too().empty());
    EXPECT_TRUE(message.CCList().empty());
    EXPECT_TRUE(message.Newsgroups().empty());
    EXPECT_EQ(message.MsgNo, 0);
    EXPECT_EQ(message.DefaultDomain, "");
    EXPECT_FALSE(message.ExtractAttachments);
    EXPECT_FALSE(message.UseNowForDate);
    EXPECT_TRUE(message.NoDecode);
    EXPECT_EQ(message.ContentType, "text/html");
    EXPECT_EQ(message.Date(), 0);
}

TEST(WireMessage, NewHeaderLinesLeaveNothingOfThePreviousMessage)
{
    TWireMessage message = Parsed(HeaderLines("quoted-name-with-comma.eml"));
    message.SetHeaderLines({"Subject: second"});
    EXPECT_EQ(message.Headers(), TLines{"Subject=second"});
    EXPECT_TRUE(message.Too().empty());
    EXPECT_TRUE(message.CCList().empty());
    EXPECT_TRUE(message.Newsgroups().empty());
}

TEST(WireMessage, NulAndHighBytesAreKeptAsReceived)
{
    const TWireMessage message = Parsed(HeaderLines("nul-in-header.eml"));
    EXPECT_EQ(message.Subject(), std::string("caf\xe9\0 \xff\xfe", 8));
    // The NUL is a control character, trimmed with the blanks.
    EXPECT_EQ(message.Too(), (TLines{"a@example.org", "b@example.org"}));
    EXPECT_EQ(message.Date(), DateOf(2026, 12, 6));
}

// Date

struct TDateCase
{
    const char* Value;
    int Year;
    int Month;
    int Day;
};

class MessageDate : public testing::TestWithParam<TDateCase>
{};

TEST_P(MessageDate, ReadsTheCalendarDate)
{
    const TDateCase& c = GetParam();
    const TDateTime expected = c.Year == 0 ? 0 : DateOf(c.Year, c.Month, c.Day);
    EXPECT_EQ(ParseMessageDate(c.Value), expected) << c.Value;
    EXPECT_EQ(Parsed({std::string("dAtE: ") + c.Value}).Date(), expected) << c.Value;
}

// Year 0 stands for the value 0 (no date).
INSTANTIATE_TEST_SUITE_P(
    WireMessage, MessageDate,
    testing::Values(TDateCase{"Sun, 06 Dec 2026 20:07:05 +0000", 2026, 12, 6},
                    TDateCase{"6 Dec 26 20:07", 2026, 12, 6},
                    TDateCase{"31 Dec 99 23:59", 1999, 12, 31}, TDateCase{"Dec 6 2026", 2026, 1, 1},
                    TDateCase{"Mon, 1 Jan 2000 00:00:00 GMT", 2000, 1, 1},
                    TDateCase{"29 Feb 2001", 0, 0, 0}, TDateCase{"29 Feb 2000", 2000, 2, 29},
                    TDateCase{"15 Foo 2020", 2020, 1, 15}, TDateCase{"   ", 0, 0, 0},
                    TDateCase{"31 Apr 2020", 0, 0, 0}, TDateCase{"00 Jan 2020", 0, 0, 0},
                    TDateCase{"thu, 01 jan 1970 00:00:00 +0000", 1970, 1, 1},
                    TDateCase{"\tWed, 03 Mar 2021 10:00:00 -0500\r", 2021, 3, 3},
                    TDateCase{"Sun,  6 Dec 2026 20:07:05 +0000", 2026, 12, 6},
                    // The day name ends at its comma; before, a fixed five characters went and
                    // this date read as the 3rd.
                    TDateCase{"Thu,13 Feb 2025 10:00:00 +0100", 2025, 2, 13},
                    TDateCase{"Thursday, 13 Feb 2025", 2025, 2, 13},
                    TDateCase{"1 Jan 79", 2079, 1, 1}, TDateCase{"1 Jan 80", 1980, 1, 1},
                    TDateCase{"1 Jan 2k", 1900, 1, 1}, TDateCase{"1 Jan 0000", 2000, 1, 1},
                    TDateCase{"x", 1900, 1, 1}));

TEST(WireMessage, MissingDateHeaderGivesZero)
{
    EXPECT_EQ(Parsed({"Subject: no date"}).Date(), 0);
    EXPECT_EQ(Parsed({"Date:"}).Date(), 0);
}

TEST(DateTime, EncodesAndDecodesDaysSince30December1899)
{
    EXPECT_EQ(DateOf(1899, 12, 30), 0);
    EXPECT_EQ(DateOf(1900, 1, 1), 2);
    EXPECT_EQ(DateOf(2000, 1, 1), 36526);
    EXPECT_EQ(DateOf(1, 1, 1), -693593);
    EXPECT_EQ(DateOf(9999, 12, 31), 2958465);
    TDateTime unused = 0;
    EXPECT_FALSE(TryEncodeDate(1900, 2, 29, unused));
    EXPECT_FALSE(TryEncodeDate(0, 1, 1, unused));
    EXPECT_FALSE(TryEncodeDate(2000, 13, 1, unused));

    // Every day of the calendar decodes to the date it was made from.
    int checked = 0;
    for (TDateTime value = -693593; value <= 2958465; value += 1, ++checked) {
        int year = 0;
        int month = 0;
        int day = 0;
        ASSERT_TRUE(DecodeDate(value + 0.75, year, month, day));
        TDateTime again = 0;
        ASSERT_TRUE(TryEncodeDate(year, month, day, again)) << value;
        ASSERT_EQ(again, value);
    }
    EXPECT_EQ(checked, 3652059);
    int year = 0;
    int month = 0;
    int day = 0;
    EXPECT_FALSE(DecodeDate(2958466, year, month, day));
    EXPECT_FALSE(DecodeDate(-693594, year, month, day));
    EXPECT_FALSE(DecodeDate(std::numeric_limits<double>::quiet_NaN(), year, month, day));
}
