#include "mail/MailCheck.h"

#include "mail/HeaderCache.h"
#include "pop3/Pop3Wire.h"
#include "tests/support/FakeMailbox.h"
#include "tests/support/FakePop3Server.h"
#include "tests/support/PopServers.h"
#include "tests/support/TempDir.h"
#include "tests/unit/mail/MailRecorder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

namespace {

using TLines = std::vector<std::string>;

std::string Mail(const std::string& from, const std::string& subject,
                 const std::string& extraHeaders = {})
{
    return "From: " + from + "\r\nTo: alice@example.org, \"Doe, Jo\" <jo@example.org>\r\n" +
           "Subject: " + subject + "\r\nDate: Sun, 06 Dec 2026 20:07:05 +0000\r\n" + extraHeaders +
           "\r\nHello.\r\n";
}

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
        Client.ReadTimeout = ReadTimeout;
        CheckMail(Client, Request, Events, Cancel);
    }

    static std::string At(std::uint16_t port) { return "127.0.0.1:" + std::to_string(port); }

    int ReadTimeout = 5000;
    TWirePOP3 Client;
    TCheckRequest Request;
    TMailRecorder Events;
    std::atomic<bool> Cancel{false};
};

} // namespace

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
    EXPECT_EQ(first.Commands(), (TLines{"CAPA", "User alice", "Pass secret", "STAT", "UIDL", "LIST",
                                        "TOP 1 0", "TOP 2 0", "Quit"}));
    EXPECT_EQ(Events.Rows[0].Uid, "fake-1");
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
    TFakePop3Server hostile;
    hostile.Reply("+OK").Receive("CAPA").Reply("-ERR unknown command");
    hostile.Receive().Reply("-ERR \x1b]0;owned\x07\x1b[2J no");
    hostile.Start();
    // Pipelined, the refusal of USER reads as it does one command at a time.
    TFakePop3Server unknown;
    unknown.Reply("+OK")
        .Receive("CAPA")
        .Send("+OK\r\nPIPELINING\r\n.\r\n")
        .Receive("User alice")
        .Receive("Pass secret")
        .Receive("STAT")
        .Reply("-ERR no such user")
        .Receive("Quit");
    unknown.Start();
    TFakePop3Server endless;
    endless.SendEndless(std::string(4096, 'z'));
    endless.Start();
    TFakePop3Server unsent;
    unsent.Reply("+OK").Receive("CAPA").Send("+OK\r\nPIPELINING\r\n.\r\n").Receive();
    unsent.Start();
    const std::uint16_t refused = FreeLoopbackPort();
    TAccountSnapshot lineBreak = Account("Break", unsent.Port());
    lineBreak.Data.UserId = "alice\r\nDELE 1";
    Request.Accounts = {
        Account("Refused", refused),        Account("Wrong", wrongPassword.Port(), "not it"),
        Account("Hostile", hostile.Port()), Account("Unknown", unknown.Port()),
        Account("Endless", endless.Port()), lineBreak,
        Account("Good", good.Port())};

    Check();

    EXPECT_EQ(Events.Only("R "), (TLines{"R Good 1"}));
    EXPECT_EQ(Events.Errors, 6);
    // The described line, then why, cleaned of the server's control characters.
    const std::string replaced = "\xEF\xBF\xBD";
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"Refused", At(refused) + ": Socket Error #10061 Connection refused."},
        {"Wrong",
         At(wrongPassword.Port()) + " answered: -ERR [AUTH] invalid user name or password"},
        {"Hostile", At(hostile.Port()) + " answered: -ERR " + replaced + "]0;owned" + replaced +
                        replaced + "[2J no"},
        {"Unknown", At(unknown.Port()) + " answered: -ERR no such user"},
        {"Endless", At(endless.Port()) + ": Line too long."},
        {"Break", At(unsent.Port()) + ": Command contains a line break."}};
    TLines failures;
    TLines accounts;
    for (const auto& [name, reason] : expected) {
        const std::string line = "EL ERROR - Connection to " + name + " failed.";
        const auto at = std::find(Events.Trace.begin(), Events.Trace.end(), line);
        ASSERT_NE(at, Events.Trace.end()) << line;
        ASSERT_NE(at + 1, Events.Trace.end());
        EXPECT_EQ(*(at + 1), "L " + reason);
        failures.push_back(line);
        accounts.push_back("A " + name + ": " + reason);
    }
    EXPECT_EQ(Events.Only("E"), failures);
    EXPECT_EQ(Events.Only("A "), accounts) << "one report per failed account";
    ASSERT_TRUE(unsent.WaitDone());
    EXPECT_EQ(unsent.Commands(), (TLines{"CAPA", "Quit"}))
        << "the user id with a line break never went";
    ASSERT_TRUE(unknown.WaitDone());
    EXPECT_EQ(unknown.Problems(), "");
}

// Failures after the log-in

TEST_F(MailCheckTest, AMailboxThatCannotBeCountedIsAnErrorNotAnEmptyMailbox)
{
    const struct
    {
        const char* Reply; // nullptr: no reply at all
        const char* Failure;
    } table[] = {
        {"-ERR mailbox locked", "-ERR mailbox locked"},
        {"+OK", "No message count in the reply to STAT: +OK"},
        {"+OK abc", "No message count in the reply to STAT: +OK abc"},
        {"+OK -5 100", "No message count in the reply to STAT: +OK -5 100"},
        {"+OK 4000000000 1", "No message count in the reply to STAT: +OK 4000000000 1"},
        {nullptr, "Socket Error #10060\r\nConnection timed out."},
    };
    ReadTimeout = 300;
    for (const auto& row : table) {
        SCOPED_TRACE(row.Failure);
        TFakePop3Server server;
        server.LogInOpening().Receive("STAT");
        if (row.Reply != nullptr)
            server.Reply(row.Reply).Receive("Quit");
        else
            server.Pause(1000);
        server.Start();
        Request.Accounts = {Account("Home", server.Port())};
        Events = TMailRecorder();

        Check();

        EXPECT_EQ(Events.Errors, 1);
        EXPECT_TRUE(Events.Rows.empty());
        EXPECT_EQ(Events.Only("E"), (TLines{std::string("ES ") + row.Failure}));
        ASSERT_EQ(Events.Only("A ").size(), 1u);
        EXPECT_EQ(Events.Only("A ")[0].rfind("A Home: " + At(server.Port()), 0), 0u);
        ASSERT_TRUE(server.WaitDone());
        EXPECT_EQ(server.Problems(), "") << "the session ends at once, with QUIT if it can";
    }
}

TEST_F(MailCheckTest, ASizeThatTimesOutEndsTheSessionBeforeItsLateReplyIsMisread)
{
    TFakePop3Server server;
    server.CheckOpening("+OK 2 200")
        .Receive("TOP 1 0")
        .Send("+OK\r\nSubject: one\r\n\r\n.\r\n")
        .Receive("LIST 1")
        .Pause(800)
        .Reply("+OK 1 100")
        .Pause(300);
    server.Start();
    Request.Accounts = {Account("Home", server.Port())};
    ReadTimeout = 300;

    Check();

    EXPECT_EQ(Events.Only("R "), (TLines{"R Home 1"})) << "the header came whole";
    EXPECT_EQ(Events.Only("E"), (TLines{"EP Socket Error #10060\r\nConnection timed out."}));
    EXPECT_EQ(Events.Only("A "), (TLines{"A Home: " + At(server.Port()) +
                                         ": Socket Error #10060 Connection timed out."}));
    ASSERT_TRUE(server.WaitDone());
    EXPECT_EQ(server.Commands(),
              (TLines{"CAPA", "User alice", "Pass secret", "STAT", "UIDL", "TOP 1 0", "LIST 1"}));
}

TEST_F(MailCheckTest, AccountBeyondTheCeilingListsThatManyAndCountsOneError)
{
    TFakePop3Server server;
    TFakeMailbox box;
    box.SetMessages({Mail("A <a@x>", "1"), Mail("A <a@x>", "2"), Mail("A <a@x>", "3")});
    box.ServeOn(server, 1);
    server.Start();
    Request.Accounts = {Account("Home", server.Port())};
    Request.MaxMessages = 2;

    Check();

    const std::string why = "Home holds 3 messages; only the first 2 are listed.";
    EXPECT_EQ(Events.Only("R "), (TLines{"R Home 1", "R Home 2"}));
    EXPECT_EQ(Events.Only("E"), (TLines{"ES " + why}));
    EXPECT_EQ(Events.Only("A "), (TLines{"A Home: " + why}));
    ASSERT_TRUE(server.WaitDone());
    EXPECT_EQ(server.Commands().back(), "Quit");
    EXPECT_EQ(server.Commands().end()[-2], "TOP 2 0");
}

TEST_F(MailCheckTest, ErrorAfterLogInClosesTheSessionKeepsTheRowsAndGoesOn)
{
    TFakePop3Server dropping;
    dropping.Reply("+OK ready")
        .Receive("CAPA")
        .Reply("-ERR unknown command")
        .Receive("User alice")
        .Reply("+OK")
        .Receive("Pass secret")
        .Reply("+OK")
        .Receive("STAT")
        .Reply("+OK 3 300")
        .Receive("UIDL")
        .Reply("-ERR unknown command")
        .Receive("TOP 1 0")
        .Send("+OK\r\nFrom: Ann <ann@example.org>\r\nSubject: kept\r\n\r\n.\r\n")
        .Receive("LIST 1")
        .Reply("+OK 1 100")
        .Receive("TOP 2 0")
        .Close();
    dropping.Start();
    TFakePop3Server refusing;
    refusing.CheckOpening("+OK 2 200")
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
    server.CheckOpening("+OK 2 200")
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
    EXPECT_EQ(first.Commands(), (TLines{"CAPA", "User alice", "Pass secret", "STAT", "UIDL", "LIST",
                                        "TOP 1 0", "Quit"}));
}

// Pipelining

namespace {

const TLines Pipelining{"TOP", "PIPELINING", "UIDL"};

// The log-in and STAT awaited in one go, then three messages announced and the six commands
// for them awaited before any reply goes out; the replies follow, sent as given.
void ScriptPipelinedSession(TFakePop3Server& server, const std::string& replies)
{
    server.Reply("+OK ready")
        .Receive("CAPA")
        .Send("+OK\r\nPIPELINING\r\n.\r\n")
        .Receive("User alice")
        .Receive("Pass secret")
        .Receive("STAT")
        .Send("+OK\r\n+OK\r\n+OK 3 300\r\n")
        .Receive("UIDL")
        .Receive("LIST")
        .Send("-ERR unknown command\r\n+OK\r\n1 100\r\n.\r\n");
    for (const char* number : {"1", "2", "3"})
        server.Receive(std::string("TOP ") + number + " 0").Receive(std::string("LIST ") + number);
    server.Send(replies);
}

} // namespace

TEST_F(MailCheckTest, PipelinedCheckListsWhatTheOneByOneCheckLists)
{
    // More messages than go out at once, so that the window moves.
    std::vector<std::string> messages;
    for (int n = 1; n <= 40; ++n)
        messages.push_back(Mail("Sender " + std::to_string(n) + " <s" + std::to_string(n) + "@x>",
                                "Subject " + std::to_string(n),
                                n % 3 == 0 ? "Message-ID: <" + std::to_string(n) + "@x>\r\n"
                                           : "X-Pad: " + std::string(n * 40, 'p') + "\r\n"));
    TFakePop3Server plain;
    TFakeMailbox plainBox;
    plainBox.SetMessages(messages);
    plainBox.ServeOn(plain, 1);
    plain.Start();
    TFakePop3Server pipelining;
    TFakeMailbox pipeliningBox;
    pipeliningBox.Capabilities = Pipelining;
    pipeliningBox.SetMessages(messages);
    pipeliningBox.ServeOn(pipelining, 1);
    pipelining.Start();

    Request.Accounts = {Account("Home", plain.Port())};
    Check();
    const TMailRecorder oneByOne = Events;
    Events = TMailRecorder();
    Request.Accounts = {Account("Home", pipelining.Port())};
    Check();

    EXPECT_EQ(Events.Trace, oneByOne.Trace) << "status texts and rows in the same order";
    ASSERT_EQ(Events.Rows.size(), 40u);
    for (std::size_t index = 0; index < Events.Rows.size(); ++index)
        for (int text = 1; text < TMessageRow::TextCount; ++text)
            EXPECT_EQ(Events.Rows[index].Text(text), oneByOne.Rows[index].Text(text))
                << "row " << index + 1 << ", text " << text;
    EXPECT_EQ(Events.Errors, 0);
    ASSERT_TRUE(plain.WaitDone());
    ASSERT_TRUE(pipelining.WaitDone());
    EXPECT_EQ(pipelining.Commands(), plain.Commands());
}

TEST_F(MailCheckTest, PipelinedCommandsGoOutBeforeTheirRepliesAreRead)
{
    TFakePop3Server server;
    std::string replies;
    for (const char* number : {"1", "2", "3"})
        replies +=
            std::string("+OK\r\nSubject: m") + number + "\r\n\r\n.\r\n+OK " + number + " 100\r\n";
    ScriptPipelinedSession(server, replies);
    server.Receive("Quit");
    server.Start();
    Request.Accounts = {Account("Home", server.Port())};

    Check();

    EXPECT_EQ(Events.Only("R "), (TLines{"R Home 1", "R Home 2", "R Home 3"}));
    EXPECT_EQ(Events.Rows[2].Subject, "m3");
    EXPECT_EQ(Events.Errors, 0);
    ASSERT_TRUE(server.WaitDone());
    EXPECT_EQ(server.Problems(), "");
}

TEST_F(MailCheckTest, ServerWithoutPipeliningIsAskedOneCommandAtATime)
{
    for (const TLines& capabilities : {TLines{}, TLines{"TOP", "UIDL"}}) {
        SCOPED_TRACE(capabilities.empty() ? "CAPA refused" : "PIPELINING not listed");
        TFakePop3Server server;
        TFakeMailbox box;
        box.Capabilities = capabilities;
        box.RefuseUidl = true;
        box.SetMessages({Mail("A <a@x>", "1"), Mail("A <a@x>", "2"), Mail("A <a@x>", "3")});
        box.ServeOn(server, 1);
        server.Start();
        Request.Accounts = {Account("Home", server.Port())};
        Events = TMailRecorder();
        // A client that sent ahead would have its next command at the server by now.
        TLines seenAtFirstHeader;
        Events.OnStatus = [&](const std::string& text) {
            if (text != "Retrieving headers" || !seenAtFirstHeader.empty())
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            seenAtFirstHeader = server.Commands();
        };

        Check();

        ASSERT_FALSE(seenAtFirstHeader.empty());
        EXPECT_EQ(seenAtFirstHeader.back(), "TOP 1 0");
        EXPECT_EQ(Events.Only("R "), (TLines{"R Home 1", "R Home 2", "R Home 3"}));
        ASSERT_TRUE(server.WaitDone());
        EXPECT_EQ(server.Commands(),
                  (TLines{"CAPA", "User alice", "Pass secret", "STAT", "UIDL", "TOP 1 0", "LIST 1",
                          "TOP 2 0", "LIST 2", "TOP 3 0", "LIST 3", "Quit"}));
    }
}

TEST_F(MailCheckTest, StopDuringAPipelinedCheckReadsTheRepliesOnTheWayThenQuits)
{
    TFakePop3Server first;
    TFakeMailbox box;
    box.Capabilities = Pipelining;
    for (int n = 1; n <= 40; ++n)
        box.AddMessage(Mail("A <a@x>", std::to_string(n)));
    box.ServeOn(first, 1);
    first.Start();
    Request.Accounts = {Account("First", first.Port()), Account("Second", FreeLoopbackPort())};
    TTempDir folder;
    Client.LogFile = folder.File("trace.txt");
    Events.OnRow = [this](const TMessageRow& row) { Cancel = row.Number == "3"; };

    Check();

    EXPECT_EQ(Events.Only("R "), (TLines{"R First 1", "R First 2", "R First 3"}));
    EXPECT_EQ(Events.Errors, 0) << "the second account is not visited";
    EXPECT_EQ(TLines(Events.Trace.end() - 3, Events.Trace.end()),
              (TLines{"R First 3", "S Disconnecting", "S Disconnected"}))
        << "the replies read after Stop post nothing";
    ASSERT_TRUE(first.WaitDone());
    EXPECT_EQ(first.Problems(), "");
    const TLines commands = first.Commands();
    ASSERT_GE(commands.size(), 3u);
    EXPECT_EQ(commands.back(), "Quit");
    // The headers of all 40 went out in one write; their replies are read before QUIT.
    EXPECT_EQ(commands[commands.size() - 2], "TOP 40 0");
    const std::string trace = ReadFile(Client.LogFile);
    std::size_t replies = 0;
    for (std::size_t at = trace.find("O: TOP 40 0"); at != std::string::npos;
         at = trace.find("I: ", at + 1))
        ++replies;
    EXPECT_EQ(replies, 41u) << "the replies of all 40 were read before QUIT";
}

TEST_F(MailCheckTest, PipelinedSizesOutOfStepEndTheSessionAsAnErrorKeepingTheRowsBefore)
{
    const std::string first = "+OK\r\nSubject: one\r\n\r\n.\r\n+OK 1 100\r\n";
    const std::string second = "+OK\r\nSubject: two\r\n\r\n.\r\n";
    const std::string third = "+OK\r\nSubject: three\r\n\r\n.\r\n";
    const struct
    {
        const char* Name;
        std::string Replies;
        std::string Failure;
    } table[] = {
        {"out of order", first + second + "+OK 3 100\r\n" + third + "+OK 2 100\r\n", "+OK 3 100"},
        {"a line too many", first + second + "+OK 7 700\r\n+OK 2 100\r\n" + third + "+OK 3 1\r\n",
         "+OK 7 700"},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.Name);
        TFakePop3Server server;
        ScriptPipelinedSession(server, row.Replies);
        server.Receive("Quit");
        server.Start();
        Request.Accounts = {Account("Home", server.Port())};
        Events = TMailRecorder();

        Check();

        EXPECT_EQ(Events.Only("R "), (TLines{"R Home 1"}));
        EXPECT_EQ(Events.Only("E"), (TLines{"ES The server answered LIST 2 with \"" + row.Failure +
                                            "\": its replies are out of step."}));
        EXPECT_EQ(Events.Only("A ").size(), 1u);
        ASSERT_TRUE(server.WaitDone());
        EXPECT_EQ(server.Problems(), "");
    }
}

TEST_F(MailCheckTest, FailureDuringAPipelinedCheckIsOneErrorAndKeepsTheRows)
{
    const std::string first = "+OK\r\nSubject: one\r\n\r\n.\r\n+OK 1 100\r\n";
    TFakePop3Server lostInHeader;
    ScriptPipelinedSession(lostInHeader, first + "+OK\r\nSubject: tw");
    lostInHeader.Close();
    lostInHeader.Start();
    TFakePop3Server lostInSize;
    ScriptPipelinedSession(lostInSize, first + "+OK\r\nSubject: two\r\n\r\n.\r\n");
    lostInSize.Close();
    lostInSize.Start();
    TFakePop3Server refused;
    ScriptPipelinedSession(refused, first + "-ERR Message 2 vanished\r\n+OK 2 100\r\n" +
                                        "+OK\r\nSubject: three\r\n\r\n.\r\n+OK 3 100\r\n");
    refused.Pause(200).Close();
    refused.Start();
    Request.Accounts = {Account("Header", lostInHeader.Port()), Account("Size", lostInSize.Port()),
                        Account("Refused", refused.Port())};

    Check();

    EXPECT_EQ(Events.Only("R "), (TLines{"R Header 1", "R Size 1", "R Size 2", "R Refused 1"}));
    EXPECT_EQ(Events.Rows[2].Size, "0 KB") << "the header came whole: the row is listed";
    EXPECT_EQ(Events.Only("E"),
              (TLines{"ES Connection Closed Gracefully.", "EP Connection Closed Gracefully.",
                      "ES -ERR Message 2 vanished"}));
    EXPECT_EQ(Events.Errors, 3);
}

TEST_F(MailCheckTest, ServerThatAnswersBeforeReadingMoreNeverBlocksThePipeline)
{
    // The fake server reads one command, writes its whole reply, and only then reads the next:
    // replies of megabytes against commands of tens of kilobytes, in several writes.
    std::vector<std::string> messages;
    for (int n = 1; n <= 2500; ++n)
        messages.push_back(
            Mail("A <a@x>", std::to_string(n), "X-Pad: " + std::string(2000, 'p') + "\r\n"));
    for (const bool uids : {true, false}) {
        SCOPED_TRACE(uids ? "headers only" : "headers and sizes");
        TFakePop3Server server;
        TFakeMailbox box;
        box.Capabilities = Pipelining;
        box.RefuseUidl = !uids;
        box.SetMessages(messages);
        box.ServeOn(server, 1);
        server.Start();
        Request.Accounts = {Account("Home", server.Port())};
        Events = TMailRecorder();

        Check();

        ASSERT_EQ(Events.Rows.size(), 2500u);
        EXPECT_EQ(Events.Rows.back().Subject, "2500");
        EXPECT_EQ(Events.Rows.back().SizeBytes, static_cast<int>(box.Messages().back().size()));
        EXPECT_EQ(Events.Errors, 0);
        ASSERT_TRUE(server.WaitDone());
        EXPECT_EQ(server.Problems(), "");
    }
}

// Unique ids and the header cache

TEST_F(MailCheckTest, HeadersSeenBeforeComeFromTheCacheAndReadTheSame)
{
    TTempDir folder;
    TFakePop3Server server;
    TFakeMailbox box;
    box.Capabilities = Pipelining;
    box.SetMessages({Mail("Ann <ann@example.org>", "one"),
                     Mail("=?UTF-8?B?QsO2Yg==?= <bob@example.org>", "two", "Message-ID: <2@x>\r\n"),
                     Mail("Cy <cy@example.org>", "three")});
    box.ServeOn(server, 3);
    server.Start();
    Request.Accounts = {Account("Home", server.Port())};
    const auto checkWith = [&](THeaderCaches& caches) {
        Request.Caches = &caches;
        Events = TMailRecorder();
        Check();
    };

    THeaderCaches firstRun(folder.Path());
    checkWith(firstRun);
    const TMailRecorder first = Events;
    // Another run of the program, with only the file to go by.
    THeaderCaches secondRun(folder.Path());
    checkWith(secondRun);

    EXPECT_EQ(Events.Trace, first.Trace) << "the same rows and status texts in the same order";
    ASSERT_EQ(Events.Rows.size(), 3u);
    for (std::size_t index = 0; index < 3; ++index) {
        EXPECT_FALSE(first.Rows[index].Cached);
        EXPECT_TRUE(Events.Rows[index].Cached);
        EXPECT_EQ(Events.Rows[index].Uid, first.Rows[index].Uid);
        EXPECT_EQ(Events.Rows[index].SizeBytes, first.Rows[index].SizeBytes);
        for (int text = 0; text < TMessageRow::TextCount; ++text)
            EXPECT_EQ(Events.Rows[index].Text(text), first.Rows[index].Text(text));
    }

    // One removed elsewhere, one arrived: only the newcomer's header is asked for.
    box.RemoveMessage(0);
    box.AddMessage(Mail("Di <di@example.org>", "four"));
    checkWith(secondRun);
    ASSERT_EQ(Events.Rows.size(), 3u);
    EXPECT_EQ(Events.Rows[2].Subject, "four");
    EXPECT_FALSE(Events.Rows[2].Cached);
    EXPECT_TRUE(Events.Rows[0].Cached);
    ASSERT_TRUE(server.WaitDone());
    const TLines opening{"CAPA", "User alice", "Pass secret", "STAT", "UIDL", "LIST"};
    TLines expected = opening;
    for (const char* command : {"TOP 1 0", "TOP 2 0", "TOP 3 0", "Quit"})
        expected.push_back(command);
    expected.insert(expected.end(), opening.begin(), opening.end());
    expected.push_back("Quit");
    expected.insert(expected.end(), opening.begin(), opening.end());
    for (const char* command : {"TOP 3 0", "Quit"})
        expected.push_back(command);
    EXPECT_EQ(server.Commands(), expected);
}
