#include "pop3/Pop3Wire.h"

#include "pop3/WireMessage.h"
#include "tests/support/FakePop3Server.h"
#include "tests/unit/pop3/WireFixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <thread>

namespace {

using TLines = std::vector<std::string>;

const char* const Header = "From: Ann <ann@example.org>\r\n"
                           "To: bob@example.org, \"Doe, Jo\" <jo@example.org>\r\n"
                           "Subject: Hello\r\n"
                           "\tworld\r\n"
                           "Date: Sun, 06 Dec 2026 20:07:05 +0000\r\n";

const char* const CapaRefused = "-ERR unknown command\r\n";
const char* const CapaPipelining = "+OK\r\nTOP\r\nPIPELINING\r\n.\r\n";

// A POP3 client whose fake server has greeted it, answered CAPA and accepted USER bob and PASS
// secret.
class Pop3Test : public ::testing::Test
{
protected:
    Pop3Test()
    {
        Client.Host = "127.0.0.1";
        UseShortTimeouts(Client);
        Status.Attach(Client);
    }

    TFakePop3Server& LoggedIn(const std::string& capabilities = CapaRefused)
    {
        return Server.Reply("+OK POP3 ready")
            .Receive("CAPA")
            .Send(capabilities)
            .Receive("User bob")
            .Reply("+OK")
            .Receive("Pass secret")
            .Reply("+OK logged in");
    }

    void Connect()
    {
        Server.Start();
        Client.Port = Server.Port();
        Client.UserID = "bob";
        Client.Password = "secret";
        Client.Connect();
    }

    // The commands after log-in, once the client has said goodbye.
    TLines Sent()
    {
        EXPECT_TRUE(Server.WaitDone());
        TLines commands = Server.Commands();
        const TLines opening{"CAPA", "User bob", "Pass secret"};
        if (commands.size() >= 3 && std::equal(opening.begin(), opening.end(), commands.begin()))
            commands.erase(commands.begin(), commands.begin() + 3);
        return commands;
    }

    TFakePop3Server Server;
    TWirePOP3 Client;
    TStatusLog Status;
    TWireMessage Message;
};

template <class TException, class TCall> std::string MessageOf(TCall call)
{
    try {
        call();
    } catch (const TException& e) {
        return e.what();
    }
    return "(nothing raised)";
}

} // namespace

// Sessions

TEST_F(Pop3Test, CheckSessionSendsTheCommandsAndPostsTheTextsInOrder)
{
    LoggedIn()
        .Receive()
        .Reply("+OK 2 900")
        .Receive()
        .Send(std::string("+OK top follows\r\n") + Header + "\r\n.\r\n")
        .Receive()
        .Reply("+OK 1 456")
        .Receive()
        .SendInPieces(std::string("+OK\r\n") + Header + "\r\n.\r\n", 3, 1)
        .Receive()
        .Reply("+OK 2 444")
        .Receive()
        .Reply("+OK bye");
    Connect();
    EXPECT_EQ(Client.Port, Server.Port());
    const int count = Client.CheckMessages();
    ASSERT_EQ(count, 2);
    for (int n = 1; n <= count; ++n) {
        EXPECT_TRUE(Client.RetrieveHeader(n, Message));
        EXPECT_EQ(Message.From(), "Ann <ann@example.org>");
        EXPECT_EQ(Message.Subject(), "Hello world");
        EXPECT_EQ(Message.Too(), (TLines{"bob@example.org", "\"Doe, Jo\" <jo@example.org>"}));
        EXPECT_EQ(Message.HeaderValue("date"), "Sun, 06 Dec 2026 20:07:05 +0000");
        EXPECT_EQ(Client.RetrieveSize(n), n == 1 ? 456 : 444);
    }
    Client.Disconnect();
    EXPECT_FALSE(Client.Connected());

    ASSERT_TRUE(Server.WaitDone());
    EXPECT_EQ(Server.Commands(), (TLines{"CAPA", "User bob", "Pass secret", "STAT", "TOP 1 0",
                                         "LIST 1", "TOP 2 0", "LIST 2", "Quit"}));
    EXPECT_EQ(Server.Problems(), "");
    EXPECT_EQ(Status.Texts,
              (TLines{"Connecting to 127.0.0.1", "Socket Connected", "Connected",
                      "User Account is valid", "Password is valid", "Checking for messages",
                      "Retrieving headers", "Retrieving size", "Retrieving headers",
                      "Retrieving size", "Disconnecting", "Disconnected"}));
}

TEST_F(Pop3Test, DeleteReportsTheServersAnswerAndNeverRaises)
{
    LoggedIn()
        .Receive()
        .Reply("+OK message 3 deleted")
        .Receive()
        .Reply("-ERR message 3 already deleted")
        .Receive();
    Connect();
    Status.Texts.clear();
    EXPECT_TRUE(Client.Delete(3));
    EXPECT_FALSE(Client.Delete(3));
    Client.Disconnect();
    EXPECT_EQ(Sent(), (TLines{"DELE 3", "DELE 3", "Quit"}));
    EXPECT_EQ(Status.Texts, (TLines{"Disconnecting", "Disconnected"}));
}

TEST_F(Pop3Test, PreviewReadsTheTopLinesWithoutDotStuffing)
{
    LoggedIn()
        .Receive("Top 4 2")
        .Send("+OK\r\nSubject: x\r\n\r\n..hidden dot\r\nline 2\r\n.\r\n")
        .Receive("Top 5 2")
        .Reply("-ERR no such message");
    Connect();
    Status.Texts.clear();
    Client.BeginPreview(4, 2);
    EXPECT_EQ(Client.ReadPreview(), (TLines{"Subject: x", "", ".hidden dot", "line 2"}));
    EXPECT_EQ(Status.Texts, (TLines{"Retrieving message"}));
    EXPECT_EQ(MessageOf<EWireResponseError>([&] { Client.BeginPreview(5, 2); }),
              "-ERR no such message");
}

TEST_F(Pop3Test, LogoutWaitsForTheAnswerToQuit)
{
    LoggedIn().Receive("Quit").Pause(100).Reply("+OK bye");
    Connect();
    const auto started = std::chrono::steady_clock::now();
    Client.Logout();
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(90));
    EXPECT_FALSE(Client.Connected());
    EXPECT_EQ(Sent(), (TLines{"Quit"}));

    TFakePop3Server refusing;
    refusing.Reply("+OK").Receive("CAPA").Send(CapaRefused);
    refusing.Receive().Reply("+OK").Receive().Reply("+OK").Receive().Reply("-ERR no");
    refusing.Start();
    Client.Port = refusing.Port();
    Client.Connect();
    EXPECT_EQ(MessageOf<EWireResponseError>([&] { Client.Logout(); }), "-ERR no");
    EXPECT_FALSE(Client.Connected());
}

// Log-in failures

TEST_F(Pop3Test, GreetingMustBeginWithUpperCaseOk)
{
    Server.Reply("+ok hello").Receive();
    Server.Start();
    Client.Port = Server.Port();
    EXPECT_EQ(MessageOf<EWireConnectRefused>([&] { Client.Connect(); }), "+ok hello");
    EXPECT_FALSE(Client.Connected());
    EXPECT_EQ(Sent(), (TLines{"Quit"}));
    EXPECT_EQ(Status.Texts, (TLines{"Connecting to 127.0.0.1", "Socket Connected", "Disconnecting",
                                    "Disconnected"}));
}

// USER and PASS go out together to a server that allows pipelining: a refusal reads the same.
class LogInFailures : public Pop3Test, public ::testing::WithParamInterface<const char*>
{
protected:
    bool Pipelined() const { return GetParam() == CapaPipelining; }
};

INSTANTIATE_TEST_SUITE_P(Pop3, LogInFailures, ::testing::Values(CapaRefused, CapaPipelining));

TEST_P(LogInFailures, WrongPasswordRaisesTheReplyLineAndStillSaysQuit)
{
    Server.Reply("+OK ready")
        .Receive("CAPA")
        .Send(GetParam())
        .Receive()
        .Reply("+OK")
        .Receive()
        .Reply("-ERR [AUTH] Authentication failed.")
        .Receive();
    Server.Start();
    Client.Port = Server.Port();
    Client.UserID = "bob";
    Client.Password = "wrong";
    EXPECT_EQ(MessageOf<EWireResponseError>([&] { Client.Connect(); }),
              "-ERR [AUTH] Authentication failed.");
    EXPECT_FALSE(Client.Connected());
    ASSERT_TRUE(Server.WaitDone());
    EXPECT_EQ(Server.Commands(), (TLines{"CAPA", "User bob", "Pass wrong", "Quit"}));
    EXPECT_EQ(Status.Texts, (TLines{"Connecting to 127.0.0.1", "Socket Connected", "Connected",
                                    "User Account is valid", "Disconnecting", "Disconnected"}));
}

TEST_P(LogInFailures, UnknownUserEndsTheSessionAtItsRefusal)
{
    Server.Reply("+OK").Receive("CAPA").Send(GetParam()).Receive().Reply("-ERR no such user");
    // Pipelined, PASS went out with USER; one at a time, it is never sent.
    if (Pipelined())
        Server.Receive("Pass secret");
    Server.Receive("Quit");
    Server.Start();
    Client.Port = Server.Port();
    Client.UserID = "nobody";
    Client.Password = "secret";
    EXPECT_EQ(MessageOf<EWireResponseError>([&] { Client.Connect(); }), "-ERR no such user");
    EXPECT_FALSE(Client.Connected());
    ASSERT_TRUE(Server.WaitDone());
    EXPECT_EQ(Server.Problems(), "");
    EXPECT_EQ(Status.Texts, (TLines{"Connecting to 127.0.0.1", "Socket Connected", "Connected",
                                    "Disconnecting", "Disconnected"}));
}

TEST_P(LogInFailures, LineBreakOrNulInTheCredentialsIsNeverSent)
{
    Server.Reply("+OK").Receive("CAPA").Send(GetParam()).Receive().Reply("+OK").Receive().Close();
    Server.Reply("+OK").Receive("CAPA").Send(GetParam()).Receive();
    Server.Start();
    Client.Port = Server.Port();
    Client.UserID = "bob";
    Client.Password = "pass\r\nDELE 1";
    EXPECT_EQ(MessageOf<EWireException>([&] { Client.Connect(); }),
              "Command contains a line break.");
    Client.UserID = std::string("bob\0DELE 1", 10);
    EXPECT_EQ(MessageOf<EWireException>([&] { Client.Connect(); }),
              "Command contains a NUL character.");
    ASSERT_TRUE(Server.WaitDone());
    EXPECT_EQ(Server.Commands(), (TLines{"CAPA", "User bob", "Quit", "CAPA", "Quit"}));
}

TEST_F(Pop3Test, FailuresBeforeTheGreetingKeepTheirOwnText)
{
    // Refused: the goodbye after it has no socket to go on, which must not hide the cause.
    Client.Port = ClosedPort();
    EXPECT_EQ(MessageOf<EWireSocketError>([&] { Client.Connect(); }),
              "Socket Error #10061\r\nConnection refused.");
    EXPECT_EQ(Status.Texts, (TLines{"Connecting to 127.0.0.1", "Disconnecting", "Disconnected"}));

    // The server hangs up instead of greeting.
    Server.Close();
    Server.Start();
    Client.Port = Server.Port();
    EXPECT_EQ(MessageOf<EWireConnClosedGraceful>([&] { Client.Connect(); }),
              "Connection Closed Gracefully.");
    EXPECT_FALSE(Client.Connected());
}

TEST_F(Pop3Test, DisconnectWithoutASocketRaisesAfterItsStatusTexts)
{
    EXPECT_EQ(MessageOf<EWireClosedSocket>([&] { Client.Disconnect(); }),
              "Socket is closed, cannot write");
    EXPECT_EQ(Status.Texts, (TLines{"Disconnecting", "Disconnected"}));
}

// STAT and LIST replies

struct TReplyCase
{
    const char* Reply;
    int Result;
    const char* Status; // posted after the command's own text; empty for none
};

class StatReplies : public Pop3Test, public ::testing::WithParamInterface<TReplyCase>
{};

TEST_P(StatReplies, GiveTheCountOrZeroWithTheReasonPosted)
{
    LoggedIn().Receive("STAT").Send(GetParam().Reply);
    Connect();
    Status.Texts.clear();
    EXPECT_EQ(Client.CheckMessages(), GetParam().Result);
    const std::string reason = GetParam().Status;
    if (reason.empty()) {
        EXPECT_EQ(Status.Texts, (TLines{"Checking for messages"}));
    } else {
        ASSERT_FALSE(Status.Texts.empty());
        EXPECT_EQ(Status.Texts.back(), reason);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Pop3, StatReplies,
    ::testing::Values(TReplyCase{"+OK 3 1200\r\n", 3, ""}, TReplyCase{"+OK 0 0\r\n", 0, ""},
                      TReplyCase{"+OK 5\r\n", 0, "'' is not a valid integer value"},
                      TReplyCase{"+OK 12\r\n", 0, "'' is not a valid integer value"},
                      TReplyCase{"+OK x 5\r\n", 0, "'x' is not a valid integer value"},
                      TReplyCase{"+OK -2 5\r\n", 0, "'-2' is not a valid integer value"},
                      TReplyCase{"+OK 99999999999 1\r\n", 0,
                                 "'99999999999' is not a valid integer value"},
                      TReplyCase{"-ERR mailbox locked\r\n", 0, "-ERR mailbox locked"},
                      TReplyCase{"+OK 2 9", 0, "Connection Closed Gracefully."},
                      TReplyCase{"\x80\xFF\x01 x\r\n", 0, "\x80\xFF\x01 x"}));

// For the check, a STAT that cannot be counted is a failure of its own, never "no messages".
TEST_F(Pop3Test, CountMessagesTellsAFailureFromAnEmptyMailbox)
{
    const struct
    {
        const char* Reply;
        const char* Failure; // empty: the count is 7
    } table[] = {
        {"+OK 7 1200", ""},
        {"-ERR mailbox locked", "-ERR mailbox locked"},
        {"+OK", "No message count in the reply to STAT: +OK"},
        {"+OK abc", "No message count in the reply to STAT: +OK abc"},
        {"+OK -5 100", "No message count in the reply to STAT: +OK -5 100"},
        {"+OK 4000000000 1", "No message count in the reply to STAT: +OK 4000000000 1"},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.Reply);
        // Sent with the log-in to a server that allows pipelining, STAT's reply reads the same.
        for (const char* capabilities : {CapaRefused, CapaPipelining}) {
            const bool pipelined = capabilities == CapaPipelining;
            SCOPED_TRACE(pipelined ? "pipelined" : "one at a time");
            TFakePop3Server server;
            server.Reply("+OK").Receive("CAPA").Send(capabilities);
            if (pipelined)
                server.Receive("User bob")
                    .Receive("Pass secret")
                    .Receive("STAT")
                    .Send("+OK\r\n+OK\r\n" + std::string(row.Reply) + "\r\n");
            else
                server.Receive("User bob").Reply("+OK").Receive("Pass secret").Reply("+OK");
            if (!pipelined)
                server.Receive("STAT").Reply(row.Reply);
            server.Receive("Quit");
            server.Start();
            TScriptedWinsock winsock;
            TWirePOP3 client;
            TStatusLog status;
            client.SetWinsock(winsock);
            status.Attach(client);
            client.Host = "127.0.0.1";
            client.Port = server.Port();
            client.UserID = "bob";
            client.Password = "secret";
            client.CountWithLogin = true;
            client.Connect();
            EXPECT_EQ(winsock.Sends, pipelined ? 2 : 3) << "CAPA, then USER and PASS (and STAT)";
            if (*row.Failure == '\0')
                EXPECT_EQ(client.CountMessages(), 7);
            else
                EXPECT_EQ(MessageOf<EWireException>([&] { client.CountMessages(); }), row.Failure);
            EXPECT_TRUE(client.Connected()) << "a refusal leaves the session for the caller to end";
            TLines texts{"Connecting to 127.0.0.1", "Socket Connected", "Connected",
                         "User Account is valid", "Password is valid"};
            if (row.Reply[0] == '+')
                texts.push_back("Checking for messages");
            EXPECT_EQ(status.Texts, texts);
            client.Disconnect();
            EXPECT_TRUE(server.WaitDone());
            EXPECT_EQ(server.Problems(), "");
        }
    }
}

class ListReplies : public Pop3Test, public ::testing::WithParamInterface<TReplyCase>
{};

TEST_P(ListReplies, GiveTheSizeOrMinusOne)
{
    LoggedIn().Receive("LIST 7").Send(GetParam().Reply);
    Connect();
    Status.Texts.clear();
    EXPECT_EQ(Client.RetrieveSize(7), GetParam().Result);
    const std::string reason = GetParam().Status;
    if (reason.empty()) {
        EXPECT_EQ(Status.Texts, (TLines{"Retrieving size"}));
    } else {
        ASSERT_FALSE(Status.Texts.empty());
        EXPECT_EQ(Status.Texts.back(), reason);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Pop3, ListReplies,
    ::testing::Values(TReplyCase{"+OK 7 2048\r\n", 2048, ""}, TReplyCase{"+OK 2048\r\n", 2048, ""},
                      TReplyCase{"+OK 7 2048 octets\r\n", -1, ""},
                      TReplyCase{"+OK 7 lots\r\n", -1, ""}, TReplyCase{"+OK 7 -5\r\n", -1, ""},
                      TReplyCase{"+OK 7 99999999999\r\n", -1, ""}, TReplyCase{"+OK\r\n", -1, ""},
                      TReplyCase{"-ERR no such message\r\n", -1, "-ERR no such message"},
                      TReplyCase{"+OK 7 20", -1, "Connection Closed Gracefully."}));

// Headers

TEST_F(Pop3Test, HeaderRefusedByTheServerRaises)
{
    LoggedIn().Receive("TOP 9 0").Reply("-ERR no such message");
    Connect();
    EXPECT_EQ(MessageOf<EWireResponseError>([&] { Client.RetrieveHeader(9, Message); }),
              "-ERR no such message");
}

TEST_F(Pop3Test, HeaderEndingAtTheDotWithoutAnEmptyLineLeavesNothingBehind)
{
    LoggedIn()
        .Receive("TOP 1 0")
        .Send("+OK\r\nSubject: short\r\nFrom: a@b\r\n.\r\n")
        .Receive("LIST 1")
        .Reply("+OK 1 99");
    Connect();
    EXPECT_TRUE(Client.RetrieveHeader(1, Message));
    EXPECT_EQ(Message.Headers(), (TLines{"Subject=short", "From=a@b"}));
    EXPECT_EQ(Client.RetrieveSize(1), 99);
}

TEST_F(Pop3Test, UnexpectedLinesAfterTheHeaderAreConsumedWithTheResponse)
{
    LoggedIn()
        .Receive("TOP 1 0")
        .Send("+OK\r\nSubject: s\r\n\r\n\r\nbody line\r\n..\r\nmore\r\n.\r\n")
        .Receive("LIST 1")
        .Reply("+OK 1 123");
    Connect();
    EXPECT_FALSE(Client.RetrieveHeader(1, Message));
    EXPECT_EQ(Message.Subject(), "s");
    EXPECT_EQ(Client.RetrieveSize(1), 123);
}

TEST_F(Pop3Test, HeaderCutOffByThePeerRaisesAndLeavesAnEmptyMessage)
{
    LoggedIn().Receive("TOP 1 0").Send("+OK\r\nSubject: cut\r\nFrom: some").Close();
    Connect();
    Message.SetSubject("previous");
    // A peer's close is one of the failures callers may pass over in silence.
    EXPECT_EQ(MessageOf<EWireSilentException>([&] { Client.RetrieveHeader(1, Message); }),
              "Connection Closed Gracefully.");
    EXPECT_TRUE(Message.Headers().empty());
    EXPECT_FALSE(Client.Connected());
}

TEST_F(Pop3Test, HeaderBytesOfEveryValueArriveAsSent)
{
    std::string raw = "X-Raw: ";
    for (int value = 1; value < 256; ++value)
        if (value != '\r' && value != '\n')
            raw += static_cast<char>(value);
    LoggedIn().Receive("TOP 1 0").Send("+OK\r\n" + raw + "\r\nSubject: caf\xC3\xA9\r\n\r\n.\r\n");
    Connect();
    EXPECT_TRUE(Client.RetrieveHeader(1, Message));
    EXPECT_EQ(Message.HeaderValue("X-Raw"), raw.substr(7));
    EXPECT_EQ(Message.Subject(), "caf\xC3\xA9");
}

// Pipelining

TEST_F(Pop3Test, PipelinedListingSendsAheadAndReadsTheRepliesInOrder)
{
    LoggedIn("+OK Capability list follows\r\nTOP\r\n pipelining \r\nUIDL\r\n.\r\n")
        .Receive("TOP 1 0")
        .Receive("LIST 1")
        .Receive("TOP 2 0")
        .Receive("LIST 2")
        .Send("+OK\r\nSubject: one\r\n\r\n.\r\n+OK 1 100\r\n-ERR gone\r\n+OK 2 200\r\n")
        .Receive("STAT")
        .Reply("+OK 2 300")
        .Receive("Quit");
    Connect();
    const TLines capabilities = Client.Capabilities();
    EXPECT_EQ(capabilities, (TLines{"TOP", " pipelining ", "UIDL"}));
    EXPECT_TRUE(TWirePOP3::AllowsPipelining(capabilities));
    Status.Texts.clear();

    Client.StartListing(2, true);
    const TListedMessage first = Client.ListNext(Message);
    EXPECT_EQ(first.Number, 1);
    EXPECT_EQ(first.Size, 100);
    EXPECT_TRUE(first.HeaderComplete);
    EXPECT_EQ(Message.Subject(), "one");
    EXPECT_TRUE(Client.ListingPending());
    EXPECT_EQ(MessageOf<EWireResponseError>([&] { Client.ListNext(Message); }), "-ERR gone");
    // LIST 2's reply is still due: ending the listing reads it without a trace, so that the
    // next command gets its own reply.
    Client.EndListing();
    EXPECT_FALSE(Client.ListingPending());
    EXPECT_EQ(Client.CheckMessages(), 2);
    Client.Disconnect();
    ASSERT_TRUE(Server.WaitDone());
    EXPECT_EQ(Server.Problems(), "");
    EXPECT_EQ(Status.Texts, (TLines{"Retrieving headers", "Retrieving size",
                                    "Checking for messages", "Disconnecting", "Disconnected"}));
}

TEST_F(Pop3Test, PipelinedListingKeepsItsBytesOnTheWayBoundedAndWritesThemInOneGo)
{
    // Headers only (the sizes came with the index): about 12 bytes a message, so that the
    // first write holds a bound's worth and the rest follows once half of it is answered.
    const int count = 4000;
    std::vector<std::string> commands;
    std::size_t first = 0;
    std::size_t bytes = 0;
    for (int n = 1; n <= count; ++n) {
        commands.push_back("TOP " + std::to_string(n) + " 0");
        bytes += commands.back().size() + 2;
        if (bytes <= TWirePOP3::PipelineBytes)
            first = commands.size();
    }
    TScriptedWinsock winsock;
    Client.SetWinsock(winsock);
    TFakePop3Server& script = LoggedIn();
    for (std::size_t index = 0; index < first; ++index)
        script.Receive(commands[index]);
    std::string replies;
    for (int n = 1; n <= count; ++n)
        replies += "+OK\r\nSubject: " + std::to_string(n) + "\r\n\r\n.\r\n";
    script.Send(replies);
    for (std::size_t index = first; index < commands.size(); ++index)
        script.Receive(commands[index]);
    script.Receive("Quit");
    Connect();
    EXPECT_EQ(winsock.SocketOptions, (TLines{"6/1"})) << "TCP_NODELAY: no write waits for an ACK";
    TLines seenAtFirstHeader;
    Client.OnStatus = [&](TWireSocket&, const std::string& text) {
        if (text != "Retrieving headers" || !seenAtFirstHeader.empty())
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        seenAtFirstHeader = Server.Commands();
    };
    const int sendsBefore = winsock.Sends;

    std::vector<std::int32_t> numbers;
    for (int n = 1; n <= count; ++n)
        numbers.push_back(n);
    Client.StartListing(numbers, false, true);
    for (int n = 1; n <= count; ++n) {
        ASSERT_EQ(Client.NextListed(), n);
        const TListedMessage listed = Client.ListNext(Message);
        EXPECT_EQ(listed.Size, -1);
        EXPECT_EQ(Message.Subject(), std::to_string(n));
    }
    EXPECT_FALSE(Client.ListingPending());
    EXPECT_EQ(winsock.Sends - sendsBefore, 2) << "a write per batch, not per command";
    ASSERT_FALSE(seenAtFirstHeader.empty());
    EXPECT_EQ(seenAtFirstHeader.back(), commands[first - 1]);
    Client.Disconnect();
    ASSERT_TRUE(Server.WaitDone());
    EXPECT_EQ(Server.Problems(), "");
}

TEST_F(Pop3Test, MessagesOfAWriteThatFailedFailWithItsError)
{
    // Writes: CAPA, User, Pass, then the batch of all three messages, which fails.
    TScriptedWinsock winsock;
    Client.SetWinsock(winsock);
    winsock.FailingSend = 4;
    winsock.SendError = 10054;
    LoggedIn().Receive("Quit");
    Connect();
    const std::string writeError = "Socket Error #10054\r\nConnection reset by peer.";

    Client.StartListing(3, true);
    EXPECT_EQ(MessageOf<EWireSocketError>([&] { Client.ListNext(Message); }), writeError);
    EXPECT_EQ(MessageOf<EWireSocketError>([&] { Client.ListNext(Message); }), writeError);
    Client.EndListing();
    Client.Disconnect();
    ASSERT_TRUE(Server.WaitDone());
}

// The index: unique ids and sizes of the whole mailbox

TEST_F(Pop3Test, IndexGivesIdsAndSizesOnlyWhenEveryMessageHasThem)
{
    const std::string sizes = "+OK\r\n1 120\r\n2 340\r\n.\r\n";
    const struct
    {
        const char* Name;
        std::string Uids;
        std::string Sizes;
        TLines ExpectedUids;
        std::vector<std::int32_t> ExpectedSizes;
    } table[] = {
        {"both", "+OK\r\n1 a-1\r\n2 b/2\r\n.\r\n", sizes, {"a-1", "b/2"}, {120, 340}},
        {"entries beyond the count and lines of another form pass over",
         "+OK\r\n2 b\r\n1 a\r\n3 c\r\nnonsense\r\n.\r\n",
         sizes + "",
         {"a", "b"},
         {120, 340}},
        {"UIDL refused", "-ERR unknown command\r\n", sizes, {}, {120, 340}},
        {"a message without an id", "+OK\r\n1 a\r\n.\r\n", sizes, {}, {120, 340}},
        {"two messages with one id", "+OK\r\n1 a\r\n2 a\r\n.\r\n", sizes, {}, {120, 340}},
        {"an id with a blank", "+OK\r\n1 a\r\n2 b c\r\n.\r\n", sizes, {}, {120, 340}},
        {"LIST refused", "+OK\r\n1 a\r\n2 b\r\n.\r\n", "-ERR no\r\n", {"a", "b"}, {}},
        {"a size missing", "+OK\r\n1 a\r\n2 b\r\n.\r\n", "+OK\r\n2 340\r\n.\r\n", {"a", "b"}, {}},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.Name);
        for (const bool pipelined : {true, false}) {
            SCOPED_TRACE(pipelined ? "pipelined" : "one at a time");
            TFakePop3Server server;
            server.Reply("+OK").Receive("CAPA").Send(CapaRefused);
            server.Receive().Reply("+OK").Receive().Reply("+OK");
            if (pipelined)
                server.Receive("UIDL").Receive("LIST").Send(row.Uids + row.Sizes);
            else if (row.Uids[0] == '-')
                server.Receive("UIDL").Send(row.Uids);
            else
                server.Receive("UIDL").Send(row.Uids).Receive("LIST").Send(row.Sizes);
            server.Receive("STAT").Reply("+OK 2 460").Receive("Quit");
            server.Start();
            TWirePOP3 client;
            client.Host = "127.0.0.1";
            client.Port = server.Port();
            UseShortTimeouts(client);
            client.Connect();

            const TMailboxIndex index = client.ReadIndex(2, pipelined);

            EXPECT_EQ(index.Uids, row.ExpectedUids);
            EXPECT_EQ(index.Sizes, pipelined || row.Uids[0] != '-' ? row.ExpectedSizes
                                                                   : std::vector<std::int32_t>{});
            EXPECT_EQ(client.CountMessages(), 2) << "the next reply is STAT's";
            client.Disconnect();
            ASSERT_TRUE(server.WaitDone());
            EXPECT_EQ(server.Problems(), "");
        }
    }
}

TEST_F(Pop3Test, ServerWithoutCapaAllowsNoPipelining)
{
    LoggedIn(CapaRefused).Receive("STAT").Reply("+OK 0 0").Receive("Quit");
    Client.CountWithLogin = true;
    Connect();
    const TLines capabilities = Client.Capabilities();
    EXPECT_TRUE(capabilities.empty());
    EXPECT_FALSE(TWirePOP3::AllowsPipelining(capabilities));
    EXPECT_EQ(Client.CheckMessages(), 0);
    Client.Disconnect();
    EXPECT_EQ(Sent(), (TLines{"STAT", "Quit"})) << "CAPA is asked once, before the log-in";
    EXPECT_FALSE(TWirePOP3::AllowsPipelining({"TOP", "PIPELININGX", "SASL PIPELINING"}));
}
