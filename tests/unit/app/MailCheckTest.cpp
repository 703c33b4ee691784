#include "app/MailCheck.h"

#include "pop3/Pop3Wire.h"
#include "pop3/WireMessage.h"
#include "tests/support/FakeMailbox.h"
#include "tests/support/FakePop3Server.h"
#include "tests/support/PopServers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>

namespace {

using TLines = std::vector<std::string>;

std::string Mail(const std::string& from, const std::string& subject,
                 const std::string& extraHeaders = {})
{
    return "From: " + from + "\r\nTo: alice@example.org, \"Doe, Jo\" <jo@example.org>\r\n" +
           "Subject: " + subject + "\r\nDate: Sun, 06 Dec 2026 20:07:05 +0000\r\n" + extraHeaders +
           "\r\nHello.\r\n";
}

// Everything a check reported, in order: "S " status, "E<kind> " failure, "R " row.
class TRecorder : public ICheckEvents
{
public:
    void Status(const std::string& text) override { Trace.push_back("S " + text); }
    void Failure(const std::string& text, TFailureReport report) override
    {
        const char* kind = report == TFailureReport::LogLine      ? "EL "
                           : report == TFailureReport::StatusText ? "ES "
                                                                  : "EP ";
        Trace.push_back(kind + text);
        ++Errors;
    }
    void ListRow(const TMessageRow& row) override
    {
        Trace.push_back("R " + row.AccountName + " " + row.Number);
        Rows.push_back(row);
        if (OnRow)
            OnRow(row);
    }

    // The entries of one kind ("S ", "E", "R "), in order.
    TLines Only(const std::string& prefix) const
    {
        TLines lines;
        for (const std::string& entry : Trace)
            if (entry.rfind(prefix, 0) == 0)
                lines.push_back(entry);
        return lines;
    }

    TLines Trace;
    std::vector<TMessageRow> Rows;
    int Errors = 0;
    std::function<void(const TMessageRow&)> OnRow;
};

// Accounts on fake servers, checked with one client, as the window's worker does.
class MailCheckTest : public ::testing::Test
{
protected:
    TAccountSnapshot Account(const std::string& name, std::uint16_t port,
                             const std::string& password = "secret")
    {
        auto record = std::make_shared<TAccount>();
        record->Name = name;
        record->Host = "127.0.0.1";
        record->Port = port;
        record->UserId = "alice";
        record->Password = password;
        return SnapshotOf(record);
    }

    void Check()
    {
        Client.ConnectTimeout = 5000;
        Client.ReadTimeout = 5000;
        CheckMail(Client, Request, Events, Cancel);
    }

    TWirePOP3 Client;
    TCheckRequest Request;
    TRecorder Events;
    std::atomic<bool> Cancel{false};
};

} // namespace

// Row texts

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

// Runs

TEST_F(MailCheckTest, AccountsInOrderWithTheirRowsStatusTextsAndCommands)
{
    TFakePop3Server first;
    TFakeMailbox firstBox;
    firstBox.SetMessages({Mail("Ann <ann@example.org>", "one"),
                          Mail("\"Bob\" <bob@example.org>", "two", "Message-ID: <2@x>\r\n")});
    firstBox.ServeOn(first, 1);
    first.Start();
    TFakePop3Server second;
    TFakeMailbox secondBox;
    secondBox.SetMessages({Mail("Cy <cy@example.org>", "three")});
    secondBox.ServeOn(second, 1);
    second.Start();
    Request.Accounts = {Account("First", first.Port()), Account("Second", second.Port())};

    Check();

    ASSERT_EQ(Events.Rows.size(), 3u);
    EXPECT_EQ(Events.Only("R "), (TLines{"R First 1", "R First 2", "R Second 1"}));
    EXPECT_EQ(Events.Rows[1].From, "Bob");
    EXPECT_EQ(Events.Rows[1].Subject, "two");
    EXPECT_EQ(Events.Rows[1].Address, "bob@example.org");
    EXPECT_EQ(Events.Rows[1].MessageId, "<2@x>");
    EXPECT_EQ(Events.Rows[1].SizeBytes, static_cast<int>(firstBox.Messages()[1].size()));
    EXPECT_EQ(Events.Rows[2].Account, Request.Accounts[1].Record);
    EXPECT_EQ(Events.Errors, 0);

    ASSERT_TRUE(first.WaitDone());
    EXPECT_EQ(first.Commands(), (TLines{"User alice", "Pass secret", "STAT", "TOP 1 0", "LIST 1",
                                        "TOP 2 0", "LIST 2", "Quit"}));
    const TLines expectedStatus{
        "S Connecting to 127.0.0.1", "S Socket Connected",  "S Connected",
        "S User Account is valid",   "S Password is valid", "S Checking for messages",
        "S Retrieving headers",      "S Retrieving size",   "R First 1",
        "S Retrieving headers",      "S Retrieving size",   "R First 2",
        "S Disconnecting",           "S Disconnected"};
    EXPECT_EQ(TLines(Events.Trace.begin(), Events.Trace.begin() + 14), expectedStatus);
}

TEST_F(MailCheckTest, ExcludedAccountIsSkippedWithoutATrace)
{
    TFakePop3Server server;
    TFakeMailbox box;
    box.SetMessages({Mail("Ann <ann@example.org>", "one")});
    box.ServeOn(server, 1);
    server.Start();
    TAccountSnapshot excluded = Account("Off", FreeLoopbackPort());
    excluded.Data.Include = false;
    Request.Accounts = {excluded, Account("On", server.Port())};

    Check();

    EXPECT_EQ(Events.Only("R "), (TLines{"R On 1"}));
    EXPECT_EQ(Events.Errors, 0);
    EXPECT_EQ(Events.Trace.front(), "S Connecting to 127.0.0.1");
}

TEST_F(MailCheckTest, ConnectionAndLogInFailuresAreLoggedAndTheRunGoesOn)
{
    TFakePop3Server wrongPassword;
    TFakeMailbox box;
    box.SetMessages({Mail("Ann <ann@example.org>", "one")});
    box.ServeOn(wrongPassword, 1);
    wrongPassword.Start();
    TFakePop3Server good;
    TFakeMailbox goodBox;
    goodBox.SetMessages({Mail("Ann <ann@example.org>", "two")});
    goodBox.ServeOn(good, 1);
    good.Start();
    Request.Accounts = {Account("Refused", FreeLoopbackPort()),
                        Account("Wrong", wrongPassword.Port(), "not it"),
                        Account("Good", good.Port())};

    Check();

    EXPECT_EQ(Events.Only("E"), (TLines{"EL ERROR - Connection to Refused failed.",
                                        "EL ERROR - Connection to Wrong failed."}));
    EXPECT_EQ(Events.Only("R "), (TLines{"R Good 1"}));
}

TEST_F(MailCheckTest, ErrorAfterLogInClosesTheSessionKeepsTheRowsAndGoesOn)
{
    TFakePop3Server dropping;
    dropping.Reply("+OK ready")
        .Receive("User alice")
        .Reply("+OK")
        .Receive("Pass secret")
        .Reply("+OK")
        .Receive("STAT")
        .Reply("+OK 3 300")
        .Receive("TOP 1 0")
        .Send("+OK\r\nFrom: Ann <ann@example.org>\r\nSubject: kept\r\n\r\n.\r\n")
        .Receive("LIST 1")
        .Reply("+OK 1 100")
        .Receive("TOP 2 0")
        .Close();
    dropping.Start();
    TFakePop3Server refusing;
    refusing.Reply("+OK ready")
        .Receive()
        .Reply("+OK")
        .Receive()
        .Reply("+OK")
        .Receive("STAT")
        .Reply("+OK 2 200")
        .Receive("TOP 1 0")
        .Reply("-ERR Message 1 vanished")
        .Receive("Quit");
    refusing.Start();
    TFakePop3Server good;
    TFakeMailbox box;
    box.SetMessages({Mail("Ann <ann@example.org>", "after")});
    box.ServeOn(good, 1);
    good.Start();
    Request.Accounts = {Account("Dropping", dropping.Port()), Account("Refusing", refusing.Port()),
                        Account("Good", good.Port())};

    Check();

    EXPECT_EQ(Events.Only("R "), (TLines{"R Dropping 1", "R Good 1"}));
    EXPECT_EQ(Events.Rows[0].Subject, "kept");
    EXPECT_EQ(Events.Only("E"),
              (TLines{"ES Connection Closed Gracefully.", "ES -ERR Message 1 vanished"}));
    EXPECT_EQ(Events.Errors, 2);
    ASSERT_TRUE(refusing.WaitDone());
    EXPECT_EQ(refusing.Problems(), "") << "the refused session ends with QUIT";
    // The session is closed before the error is posted.
    const auto failure =
        std::find(Events.Trace.begin(), Events.Trace.end(), "ES -ERR Message 1 vanished");
    ASSERT_NE(failure, Events.Trace.end());
    EXPECT_EQ(*(failure - 1), "S Disconnected");
}

TEST_F(MailCheckTest, ConnectionLostWhileAskingTheSizeIsAnError)
{
    TFakePop3Server server;
    server.Reply("+OK ready")
        .Receive()
        .Reply("+OK")
        .Receive()
        .Reply("+OK")
        .Receive("STAT")
        .Reply("+OK 2 200")
        .Receive("TOP 1 0")
        .Send("+OK\r\nSubject: one\r\n\r\n.\r\n")
        .Receive("LIST 1")
        .Close();
    server.Start();
    Request.Accounts = {Account("Home", server.Port())};

    Check();

    ASSERT_EQ(Events.Rows.size(), 1u) << "the header came whole: the row is listed";
    EXPECT_EQ(Events.Rows[0].Size, "0 KB");
    EXPECT_EQ(Events.Only("E"), (TLines{"EP Connection Closed Gracefully."}));
}

TEST_F(MailCheckTest, CancelIsSeenBeforeEachMessageAndEachAccount)
{
    TFakePop3Server first;
    TFakeMailbox box;
    box.SetMessages({Mail("A <a@x>", "1"), Mail("A <a@x>", "2"), Mail("A <a@x>", "3")});
    box.ServeOn(first, 1);
    first.Start();
    const std::uint16_t unused = FreeLoopbackPort();
    Request.Accounts = {Account("First", first.Port()), Account("Second", unused)};
    Events.OnRow = [this](const TMessageRow&) { Cancel = true; };

    Check();

    EXPECT_EQ(Events.Only("R "), (TLines{"R First 1"}));
    EXPECT_EQ(Events.Errors, 0) << "the second account is not visited";
    ASSERT_TRUE(first.WaitDone());
    EXPECT_EQ(first.Commands(),
              (TLines{"User alice", "Pass secret", "STAT", "TOP 1 0", "LIST 1", "Quit"}));
}
