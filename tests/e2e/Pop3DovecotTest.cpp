#include "mail/HeaderCache.h"
#include "mail/MailCheck.h"
#include "pop3/Pop3Wire.h"
#include "pop3/WireMessage.h"
#include "tests/support/PopServers.h"
#include "tests/support/TempDir.h"
#include "tests/unit/mail/MailRecorder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <iostream>
#include <memory>
#include <thread>

namespace {

using TLines = std::vector<std::string>;

std::string Mail(const std::string& subject, const std::string& body = "Hello.\r\n")
{
    return "Return-Path: <ann@example.org>\r\n"
           "From: Ann Smith <ann@example.org>\r\n"
           "To: alice@example.org, \"Doe, Jo\" <jo@example.org>\r\n"
           "Subject: " +
           subject +
           "\r\n"
           "Date: Sun, 06 Dec 2026 20:07:05 +0000\r\n"
           "Message-ID: <" +
           subject + "@example.org>\r\n\r\n" + body;
}

// A real POP3 server with a fresh mailbox for each test, and the program's client for it.
class DovecotTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (TDovecotServer::Binary().empty())
            GTEST_SKIP() << "dovecot is not installed (Debian package dovecot-pop3d): the "
                            "end-to-end POP3 tests cannot run";
        Server = std::make_unique<TDovecotServer>();
        Client.Host = "127.0.0.1";
        Client.Port = Server->Port();
        Client.UserID = TDovecotServer::User;
        Client.Password = TDovecotServer::Password;
        Client.ConnectTimeout = 5000;
        Client.ReadTimeout = 5000;
        Client.OnStatus = [this](TWireSocket&, const std::string& text) { Status.push_back(text); };
    }

    void TearDown() override
    {
        if (Server != nullptr && HasFailure())
            std::cerr << "dovecot's log:\n" << Server->Log();
    }

    bool WaitForCount(std::size_t count)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (Server->MessageCount() != count) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return true;
    }

    std::unique_ptr<TDovecotServer> Server;
    TWirePOP3 Client;
    TWireMessage Message;
    TLines Status;
};

} // namespace

TEST_F(DovecotTest, MailCheckReadsCountHeadersAndSizesWithItsStatusTexts)
{
    const std::string first = Mail("first");
    const std::string second = Mail("second", "Line one.\r\n.Dotted line.\r\n");
    Server->AddMessage(first);
    Server->AddMessage(second);

    Client.Connect();
    ASSERT_TRUE(Client.Connected());
    ASSERT_EQ(Client.CheckMessages(), 2);

    Message.ExtractAttachments = false;
    EXPECT_TRUE(Client.RetrieveHeader(1, Message));
    EXPECT_EQ(Message.From(), "Ann Smith <ann@example.org>");
    EXPECT_EQ(Message.Subject(), "first");
    EXPECT_EQ(Message.Too(), (TLines{"alice@example.org", "\"Doe, Jo\" <jo@example.org>"}));
    EXPECT_EQ(Message.HeaderValue("Date"), "Sun, 06 Dec 2026 20:07:05 +0000");
    EXPECT_FALSE(Message.ExtractAttachments);
    EXPECT_EQ(Client.RetrieveSize(1), static_cast<int>(first.size()));

    EXPECT_TRUE(Client.RetrieveHeader(2, Message));
    EXPECT_EQ(Message.Subject(), "second");
    EXPECT_EQ(Client.RetrieveSize(2), static_cast<int>(second.size()));
    Client.Disconnect();

    EXPECT_EQ(Status, (TLines{"Connecting to 127.0.0.1", "Socket Connected", "Connected",
                              "User Account is valid", "Password is valid", "Checking for messages",
                              "Retrieving headers", "Retrieving size", "Retrieving headers",
                              "Retrieving size", "Disconnecting", "Disconnected"}));
}

TEST_F(DovecotTest, EmptyMailboxHasNoMessages)
{
    Client.Connect();
    EXPECT_EQ(Client.CheckMessages(), 0);
    EXPECT_EQ(Status.back(), "Checking for messages");
    Client.Disconnect();
}

TEST_F(DovecotTest, WrongPasswordRaisesTheServersLineAndStillSaysQuit)
{
    TTempDir folder;
    Client.LogFile = folder.File("trace.log");
    Client.Password = "not the password";
    try {
        Client.Connect();
        FAIL() << "logged in with a wrong password";
    } catch (const EWireResponseError& e) {
        EXPECT_EQ(std::string(e.what()), Client.ReplyText());
        EXPECT_EQ(std::string(e.what()).rfind("-ERR ", 0), 0u) << e.what();
    }
    EXPECT_FALSE(Client.Connected());
    EXPECT_EQ(Status, (TLines{"Connecting to 127.0.0.1", "Socket Connected", "Connected",
                              "User Account is valid", "Disconnecting", "Disconnected"}));
    const std::string trace = ReadFile(folder.File("trace.log"));
    EXPECT_NE(trace.find("O: User alice\r\n"), std::string::npos) << trace;
    EXPECT_NE(trace.find("O: Pass ********\r\n"), std::string::npos) << trace;
    EXPECT_EQ(trace.find("not the password"), std::string::npos) << trace;
    EXPECT_NE(trace.find("O: Quit\r\n"), std::string::npos) << trace;
    // The server saw the goodbye after the failed log-in, not a dropped connection.
    const std::string loggedOut = "Aborted login by logging out (auth failed";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (Server->Log().find(loggedOut) == std::string::npos &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_NE(Server->Log().find(loggedOut), std::string::npos) << Server->Log();
}

TEST_F(DovecotTest, DeletedMessageIsGoneAfterQuit)
{
    Server->AddMessage(Mail("keep-not"));
    Server->AddMessage(Mail("keep"));
    Client.Connect();
    ASSERT_EQ(Client.CheckMessages(), 2);
    EXPECT_TRUE(Client.Delete(1));
    EXPECT_FALSE(Client.Delete(1));
    Client.Disconnect();
    ASSERT_TRUE(WaitForCount(1));

    Client.Connect();
    ASSERT_EQ(Client.CheckMessages(), 1);
    EXPECT_TRUE(Client.RetrieveHeader(1, Message));
    EXPECT_EQ(Message.Subject(), "keep");
    Client.Disconnect();
}

TEST_F(DovecotTest, MissingMessageFailsTopAndList)
{
    Server->AddMessage(Mail("only"));
    Client.Connect();
    try {
        Client.RetrieveHeader(5, Message);
        FAIL() << "TOP of a missing message succeeded";
    } catch (const EWireResponseError& e) {
        EXPECT_EQ(std::string(e.what()).rfind("-ERR", 0), 0u) << e.what();
    }
    Status.clear();
    EXPECT_EQ(Client.RetrieveSize(5), -1);
    ASSERT_EQ(Status.size(), 1u);
    EXPECT_EQ(Status[0].rfind("-ERR", 0), 0u) << Status[0];
    // The session is still in step: the next command gets its own reply.
    EXPECT_EQ(Client.CheckMessages(), 1);
    Client.Disconnect();
}

TEST_F(DovecotTest, PreviewTakesTheFirstBodyLinesWithoutDotStuffing)
{
    Server->AddMessage(Mail("preview", "First line.\r\n.Dotted line.\r\nThird line.\r\n"));
    Client.Connect();
    Status.clear();
    ASSERT_EQ(Client.SendCommand("Top 1 2", 1, "Retrieving message", 0), 1);
    TLines lines;
    EXPECT_EQ(Client.Capture(lines, {"."}), 1);
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[lines.size() - 3], "");
    EXPECT_EQ(lines[lines.size() - 2], "First line.");
    EXPECT_EQ(lines.back(), ".Dotted line.");
    EXPECT_EQ(Status, (TLines{"Retrieving message"}));
    Client.Disconnect();
}

TEST_F(DovecotTest, PipelinedCheckGivesThePlainChecksResults)
{
    std::vector<std::string> mails;
    for (int n = 1; n <= 20; ++n) {
        mails.push_back(Mail("pipelined-" + std::to_string(n)));
        Server->AddMessage(mails.back());
    }
    Client.Connect();
    ASSERT_TRUE(TWirePOP3::AllowsPipelining(Client.Capabilities()));
    ASSERT_EQ(Client.CheckMessages(), 20);
    Client.StartListing(20, true);
    for (int n = 1; n <= 20; ++n) {
        const TListedMessage listed = Client.ListNext(Message);
        EXPECT_TRUE(listed.HeaderComplete);
        EXPECT_EQ(Message.Subject(), "pipelined-" + std::to_string(n));
        EXPECT_EQ(listed.Size, static_cast<int>(mails[n - 1].size()));
    }
    EXPECT_EQ(Client.CheckMessages(), 20);
    Client.Disconnect();
}

TEST_F(DovecotTest, RepeatCheckTakesTheHeadersFromTheCacheAndListsTheSameRows)
{
    for (int n = 1; n <= 30; ++n)
        Server->AddMessage(Mail("cached-" + std::to_string(n)));
    TTempDir folder;
    THeaderCaches caches(folder.Path());
    auto record = std::make_shared<TAccount>();
    record->Name = "Home";
    record->Host = Client.Host;
    record->Port = Client.Port;
    record->UserId = Client.UserID;
    record->Password = Client.Password;
    TCheckRequest request;
    request.Accounts = {SnapshotOf(record)};
    request.Caches = &caches;
    const std::atomic<bool> cancel{false};
    const auto check = [&](const std::string& trace) {
        Client.LogFile = folder.File(trace);
        TMailRecorder events;
        CheckMail(Client, request, events, cancel);
        EXPECT_EQ(events.Errors, 0);
        return events;
    };

    const TMailRecorder first = check("first.txt");
    const TMailRecorder repeat = check("repeat.txt");

    EXPECT_EQ(repeat.Trace, first.Trace) << "the same rows and status texts in the same order";
    ASSERT_EQ(repeat.Rows.size(), 30u);
    for (std::size_t index = 0; index < 30; ++index) {
        EXPECT_TRUE(repeat.Rows[index].Cached);
        EXPECT_FALSE(repeat.Rows[index].Uid.empty());
        for (int text = 0; text < TMessageRow::TextCount; ++text)
            EXPECT_EQ(repeat.Rows[index].Text(text), first.Rows[index].Text(text));
    }
    EXPECT_NE(ReadFile(folder.File("first.txt")).find("O: TOP 30 0"), std::string::npos);
    const std::string trace = ReadFile(folder.File("repeat.txt"));
    EXPECT_EQ(trace.find("O: TOP"), std::string::npos) << trace;
    EXPECT_NE(trace.find("O: UIDL"), std::string::npos);
}
