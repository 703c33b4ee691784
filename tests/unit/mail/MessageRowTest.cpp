#include "mail/MessageRow.h"

#include "mail/MailSession.h"
#include "pop3/WireMessage.h"

#include <gtest/gtest.h>

#include <memory>
#include <utility>

TEST(MessageRowTest, KilobytesFollowTheFormulaWithTiesToEven)
{
    const std::pair<std::int64_t, std::int64_t> table[] = {
        {-1, 0},   {0, 0},    {1, 1},    {1023, 1}, {1024, 2}, {2047, 2},
        {2048, 2}, {2049, 3}, {3071, 3}, {3072, 4}, {4096, 4}, {5120, 6}};
    for (const auto& [size, kilobytes] : table)
        EXPECT_EQ(Kilobytes(size), kilobytes) << size << " bytes";
    EXPECT_EQ(SizeText(1024), "2 KB");
    EXPECT_EQ(SizeText(-1), "0 KB");
}

TEST(MessageRowTest, CommaTextQuotesWhatWouldSplitIt)
{
    EXPECT_EQ(CommaText({}), "");
    EXPECT_EQ(CommaText({""}), "\"\"");
    EXPECT_EQ(CommaText({"a@example.org", "b@example.org"}), "a@example.org,b@example.org");
    EXPECT_EQ(CommaText({"a@example.org", "\"Doe, Jo\" <jo@example.org>"}),
              "a@example.org,\"\"\"Doe, Jo\"\" <jo@example.org>\"");
    EXPECT_EQ(CommaText({"tab\there", "x"}), "\"tab\there\",x");
    EXPECT_EQ(CommaText({"a", "", "b"}), "a,,b");
}

TEST(MessageRowTest, FromColumnFallsBackToTheAddress)
{
    EXPECT_EQ(SenderDisplayText("\"Smith, Ann\" <ann@example.org>"), "Smith, Ann");
    EXPECT_EQ(SenderDisplayText("Ann Smith <ann@example.org>"), "Ann Smith");
    EXPECT_EQ(SenderDisplayText("=?UTF-8?B?SsO8cmdlbg==?= <j@example.org>"), "J\xC3\xBCrgen");
    EXPECT_EQ(SenderDisplayText("<ann@example.org>"), "ann@example.org");
    EXPECT_EQ(SenderDisplayText("\"\" <ann@example.org>"), "ann@example.org");
    EXPECT_EQ(SenderDisplayText("ann@example.org"), "ann@example.org");
    EXPECT_EQ(SenderDisplayText(""), "");
}

TEST(MessageRowTest, RowKeepsTheRawHiddenTextsAndDecodesTheColumns)
{
    TWireMessage header;
    header.SetHeaderLines(
        {"From: bare@example.org", "To: a@example.org, \"Doe, Jo\" <jo@example.org>",
         "Subject: =?ISO-8859-1?Q?Gr=FC=DFe?=", "Date: Sun, 06 Dec 2026 20:07:05 +0000",
         "Message-ID: <m1@example.org>"});
    auto record = std::make_shared<TAccount>();
    record->Name = "Home";
    const TMessageRow row = MakeMessageRow(SnapshotOf(record), 3, header, 2048, ".");
    EXPECT_EQ(row.Account, record);
    EXPECT_EQ(row.Text(0), "Home");
    EXPECT_EQ(row.Text(1), "bare@example.org");
    EXPECT_EQ(row.Text(2), "Gr\xC3\xBC\xC3\x9F"
                           "e");
    EXPECT_EQ(row.Text(3), "06.12.2026 20:07:05");
    EXPECT_EQ(row.Text(4), "2 KB");
    EXPECT_EQ(row.Text(5), "a@example.org,\"\"\"Doe, Jo\"\" <jo@example.org>\"");
    EXPECT_EQ(row.Text(6), "") << "a bare address has no text between angle brackets";
    EXPECT_EQ(row.Text(7), "3");
    EXPECT_EQ(row.Text(8), "<m1@example.org>");
    EXPECT_EQ(row.Text(9), "");
    EXPECT_EQ(row.SizeBytes, 2048);
    EXPECT_EQ(row.MessageNumber(), 3);
    for (const char* notANumber : {"", "x", "0", "-2", "3 "}) {
        TMessageRow other;
        other.Number = notANumber;
        EXPECT_EQ(other.MessageNumber(), 0) << '"' << notANumber << '"';
    }
}

// Before, a message without a date showed 30/12/1899 and an ISO 8601 date 20/01/1900.
TEST(MessageRowTest, DateThatCannotBeReadLeavesTheCellEmpty)
{
    const auto record = std::make_shared<TAccount>();
    for (const char* date : {"", "Date: ", "Date: 2025-02-13T10:00:00Z", "Date: soon"}) {
        TWireMessage header;
        header.SetHeaderLines({"From: a@example.org", date});
        const TMessageRow row = MakeMessageRow(SnapshotOf(record), 1, header, 10, "/");
        EXPECT_EQ(row.Date, "") << date;
        EXPECT_EQ(row.DateIso, "") << date;
    }
    TWireMessage header;
    header.SetHeaderLines({"Date: Thu,13 Feb 2025 10:00:00 +0100"});
    const TMessageRow row = MakeMessageRow(SnapshotOf(record), 1, header, 10, "/");
    EXPECT_EQ(row.Date, "13/02/2025 10:00:00");
    EXPECT_EQ(row.DateIso, "2025-02-13T10:00:00+01:00");
}

TEST(MessageRowTest, AddressesAloneForTheSenderAndEachRecipient)
{
    const std::pair<const char*, const char*> table[] = {
        {"\"Smith, Ann\" <ann@example.org>", "ann@example.org"},
        {"<ann@example.org>", "ann@example.org"},
        {" bare@example.org ", "bare@example.org"},
        {"Team: a@example.org", "a@example.org"},
        {"b@example.org;", "b@example.org"},
        {"Undisclosed recipients:;", ""},
        {"Ann Smith", ""},
        {"", ""}};
    for (const auto& [entry, address] : table)
        EXPECT_EQ(CleanAddress(entry), address) << entry;

    TWireMessage header;
    header.SetHeaderLines({"From: bare@example.org",
                           "To: \"Doe, Jo\" <jo@example.org>, Undisclosed recipients:;, "
                           "team@example.com"});
    const TMessageRow row =
        MakeMessageRow(SnapshotOf(std::make_shared<TAccount>()), 1, header, 10, "/");
    EXPECT_EQ(row.SenderAddress, "bare@example.org");
    EXPECT_EQ(row.ToList, (std::vector<std::string>{"jo@example.org", "team@example.com"}));
}

TEST(MessageRowTest, SameMessageByIdElseBySenderDateAndSubject)
{
    TMessageRow listed;
    listed.From = "Ann";
    listed.Date = "06/12/2026 20:07:05";
    listed.Subject = "Hello";
    TMessageRow fetched = listed;
    EXPECT_TRUE(SameMessage(listed, fetched));
    fetched.Subject = "Other";
    EXPECT_FALSE(SameMessage(listed, fetched));

    listed.MessageId = "<a@x>";
    fetched = listed;
    fetched.Subject = "Subject changed by a filter";
    EXPECT_TRUE(SameMessage(listed, fetched)) << "the Message-ID decides";
    fetched.MessageId = "<b@x>";
    EXPECT_FALSE(SameMessage(listed, fetched));
    fetched.MessageId.clear();
    fetched.Subject = listed.Subject;
    EXPECT_FALSE(SameMessage(listed, fetched)) << "one with an ID, one without";
}
