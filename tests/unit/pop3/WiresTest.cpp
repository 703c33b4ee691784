#include "pop3/Wires.h"

#include "pop3/SocketApi.h"
#include "tests/support/FakePop3Server.h"
#include "tests/support/TempDir.h"
#include "tests/unit/pop3/WireFixtures.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <netdb.h>
#include <netinet/in.h>
#include <sstream>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using namespace std::chrono;

// A line client connected to a fake server that has started its script.
class WireTest : public ::testing::Test
{
protected:
    void Connect()
    {
        Server.Start();
        Client.Host = "127.0.0.1";
        Client.Port = Server.Port();
        UseShortTimeouts(Client);
        Status.Attach(Client);
        Client.Connect();
    }

    TFakePop3Server Server;
    // Outlives the client, which may call it until its destruction.
    TScriptedWinsock Winsock;
    TWireClient Client;
    TStatusLog Status;
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

std::string AllBytesLine()
{
    std::string bytes;
    for (int value = 0; value < 256; ++value)
        if (value != '\r')
            bytes += static_cast<char>(value);
    return bytes;
}

} // namespace

// Connecting

TEST_F(WireTest, ConnectPostsItsStatusTextsAndRefusesASecondConnect)
{
    Server.Reply("+OK ready");
    Connect();
    EXPECT_TRUE(Client.Connected());
    EXPECT_EQ(Status.Texts,
              (std::vector<std::string>{"Connecting to 127.0.0.1", "Socket Connected"}));

    EXPECT_EQ(MessageOf<EWireAlreadyConnected>([&] { Client.Connect(); }), "Already connected.");
    EXPECT_TRUE(Client.Connected());
    EXPECT_EQ(Client.ReadLine(), "+OK ready");
}

TEST_F(WireTest, LocalhostInAnyCaseAndDottedAddressesNeedNoLookup)
{
    Client.SetWinsock(Winsock);
    Server.Reply("+OK one").Close().Reply("+OK two");
    Server.Start();
    Client.Port = Server.Port();
    UseShortTimeouts(Client);

    Client.Host = "LocalHost";
    Client.Connect();
    EXPECT_EQ(Client.ReadLine(), "+OK one");
    Client.Disconnect();

    Client.Host = "127.0.0.1";
    Client.Connect();
    EXPECT_EQ(Client.ReadLine(), "+OK two");
    EXPECT_EQ(Winsock.Lookups, 0);

    std::string dotted;
    EXPECT_EQ(Client.ResolveHost("LOCALHOST", &dotted).size(), 1u);
    EXPECT_EQ(dotted, "127.0.0.1");
}

TEST_F(WireTest, EveryResolvedAddressIsTriedInTurn)
{
    Client.SetWinsock(Winsock);
    // Nothing listens on the IPv6 loopback address; the IPv4 one answers.
    Winsock.LookupResult = {"::1", "127.0.0.1"};
    Server.Reply("+OK second address");
    Server.Start();
    Client.Host = "mail.example.org";
    Client.Port = Server.Port();
    UseShortTimeouts(Client);
    Client.Connect();
    EXPECT_EQ(Client.ReadLine(), "+OK second address");
    EXPECT_EQ(Winsock.Lookups, 1);
}

TEST(Wire, ResolverFailureRaisesTheResolversNumberAndDisconnects)
{
    TScriptedWinsock winsock;
    winsock.LookupError = 11001;
    TWireClient client;
    client.SetWinsock(winsock);
    TStatusLog status;
    status.Attach(client);
    client.Host = "mail.example.org";
    client.Port = 110;
    try {
        client.Connect();
        FAIL() << "no exception";
    } catch (const EWireSocketError& e) {
        EXPECT_EQ(e.Number(), 11001);
        EXPECT_STREQ(e.what(), "Socket Error #11001\r\nHost not found.");
    }
    EXPECT_FALSE(client.Connected());
    EXPECT_EQ(status.Texts, (std::vector<std::string>{"Connecting to mail.example.org",
                                                      "Disconnecting", "Disconnected"}));
    EXPECT_EQ(winsock.Lookups, 1);
}

TEST(Wire, RefusedConnectionKeepsItsOwnError)
{
    TWireClient client;
    client.Host = "127.0.0.1";
    client.Port = ClosedPort();
    EXPECT_EQ(MessageOf<EWireSocketError>([&] { client.Connect(); }),
              "Socket Error #10061\r\nConnection refused.");
    EXPECT_FALSE(client.Connected());
}

TEST(Wire, PortOutsideTheRangeIsAnInvalidArgument)
{
    TWireClient client;
    client.Host = "127.0.0.1";
    client.Port = 70000;
    EXPECT_EQ(MessageOf<EWireSocketError>([&] { client.Connect(); }),
              "Socket Error #10022\r\nInvalid argument.");
}

TEST(Wire, ConnectGivesUpAfterConnectTimeout)
{
    // A listener whose queue is full drops further connection requests unanswered.
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 0), 0);
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    std::vector<int> fillers;
    for (int i = 0; i < 3; ++i) {
        fillers.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
        ::connect(fillers.back(), reinterpret_cast<sockaddr*>(&address), sizeof address);
    }

    TWireClient client;
    client.Host = "127.0.0.1";
    client.Port = ntohs(address.sin_port);
    client.ConnectTimeout = 300;
    const auto started = steady_clock::now();
    try {
        client.Connect();
        FAIL() << "connected to a full queue";
    } catch (const EWireSocketError& e) {
        EXPECT_EQ(e.Number(), 10060);
        EXPECT_STREQ(e.what(), "Socket Error #10060\r\nConnection timed out.");
    }
    const auto waited = duration_cast<milliseconds>(steady_clock::now() - started).count();
    EXPECT_GE(waited, 250);
    EXPECT_LT(waited, 3000);
    for (const int filler : fillers)
        ::close(filler);
    ::close(listener);
}

TEST(Wire, SocketThatCannotBeMadeRaisesInvalidSocket)
{
    TScriptedWinsock winsock;
    winsock.FailSocket = true;
    TWireClient client;
    client.SetWinsock(winsock);
    client.Host = "127.0.0.1";
    client.Port = 110;
    EXPECT_EQ(MessageOf<EWireInvalidSocket>([&] { client.Connect(); }), "Cannot allocate socket.");
    EXPECT_FALSE(client.Connected());
}

TEST_F(WireTest, NagleIsSwitchedOffOnlyOnRequest)
{
    Client.SetWinsock(Winsock);
    Server.Reply("+OK").Close().Reply("+OK");
    Connect();
    EXPECT_TRUE(Winsock.SocketOptions.empty());
    Client.Disconnect();
    Client.UseNagle = false;
    Client.Connect();
    EXPECT_EQ(Winsock.SocketOptions, (std::vector<std::string>{"6/1"}));
}

TEST(SocketApi, ErrorNumbersAreMappedToTheTable)
{
    EXPECT_EQ(TWinsockIntf11::MapSystemError(ECONNREFUSED), 10061);
    EXPECT_EQ(TWinsockIntf11::MapSystemError(ETIMEDOUT), 10060);
    EXPECT_EQ(TWinsockIntf11::MapSystemError(ECONNRESET), 10054);
    EXPECT_EQ(TWinsockIntf11::MapSystemError(ENETUNREACH), 10051);
    EXPECT_EQ(TWinsockIntf11::MapSystemError(EHOSTUNREACH), 10065);
    EXPECT_EQ(TWinsockIntf11::MapSystemError(EPIPE), 10058);
    EXPECT_EQ(TWinsockIntf11::MapResolverError(EAI_NONAME, 0), 11001);
    EXPECT_EQ(TWinsockIntf11::MapResolverError(EAI_AGAIN, 0), 11002);
    EXPECT_EQ(TWinsockIntf11::MapResolverError(EAI_FAIL, 0), 11003);
    EXPECT_EQ(TWinsockIntf11::MapResolverError(EAI_NODATA, 0), 11004);
    EXPECT_EQ(TWinsockIntf11::MapResolverError(EAI_SYSTEM, ECONNREFUSED), 10061);

    TWinsockIntfBase& winsock = TWinsockIntf11::Instance();
    EXPECT_EQ(winsock.TranslateSocketError(10035), "Operation would block. ");
    EXPECT_EQ(winsock.TranslateSocketError(10066), "Directory not empty");
    EXPECT_EQ(winsock.TranslateSocketError(11002),
              "Non-authoritative response (try again or check DNS setup).");
    EXPECT_EQ(winsock.TranslateSocketError(11003),
              "Non-recoverable errors: FORMERR, REFUSED, NOTIMP.");
    EXPECT_EQ(winsock.TranslateSocketError(11004), "Valid name, no data record (check DNS setup).");
    EXPECT_EQ(winsock.TranslateSocketError(10099), "");
    EXPECT_EQ(EWireSocketError(12345, "").what(), std::string("Socket Error #12345\r\n"));
}

TEST(SocketApi, NumericAddressesOfBothFamiliesResolveWithoutALookup)
{
    TWinsockIntfBase& winsock = TWinsockIntf11::Instance();
    const std::vector<TSocketAddress> v6 = winsock.gethostbyname("::1", 110);
    ASSERT_EQ(v6.size(), 1u);
    EXPECT_EQ(winsock.inet_ntoa(v6.front()), "::1");
    EXPECT_EQ(winsock.inet_addr("10.1.2.3"), htonl(0x0A010203));
    EXPECT_EQ(winsock.inet_addr("not an address"), 0xFFFFFFFFu);
}

// Reading lines

TEST_F(WireTest, LinesAreTheSameHoweverTheBytesArrive)
{
    const std::string replies = "+OK first\r\n-ERR second\r\n+OK third\r\n";
    Server.SendInPieces(replies, 1).SendInPieces(replies, 7).Send(replies);
    Connect();
    for (int round = 0; round < 3; ++round) {
        EXPECT_EQ(Client.ReadLine(), "+OK first");
        EXPECT_EQ(Client.ReadLine(), "-ERR second");
        EXPECT_EQ(Client.ReadLine(), "+OK third");
    }
    EXPECT_EQ(Client.InBufferEnd(), 1u);
}

TEST_F(WireTest, LongLinesLoneLineFeedsAndAllByteValuesComeThroughWhole)
{
    const std::string longLine(20000, 'x');
    Server.Send(longLine + "\r\n")
        .SendInPieces("one\ntwo\r\n", 4)
        .Send(AllBytesLine() + "\r\n")
        .Send(std::string(TWireSocket::MaxLineLength, 'm') + "\r\n");
    Client.SetBufferChunk(64);
    Connect();
    EXPECT_EQ(Client.ReadLine(), longLine);
    EXPECT_EQ(Client.ReadLine(), "one\ntwo");
    EXPECT_EQ(Client.ReadLine(), AllBytesLine());
    EXPECT_EQ(Client.ReadLine().size(), TWireSocket::MaxLineLength);
}

TEST_F(WireTest, EndlessLineEndsWithLineTooLongAndBoundedMemory)
{
    Server.SendEndless(std::string(4096, 'z'));
    Connect();
    EXPECT_EQ(MessageOf<EWireException>([&] { Client.ReadLine(); }), "Line too long.");
    EXPECT_FALSE(Client.Connected());
    EXPECT_LT(Client.InBufferSize(), 3 * TWireSocket::MaxLineLength);
}

TEST_F(WireTest, PeerClosingMidLineEndsTheReadGracefully)
{
    Server.Send("+OK half a li").Close();
    Connect();
    EXPECT_EQ(MessageOf<EWireConnClosedGraceful>([&] { Client.ReadLine(); }),
              "Connection Closed Gracefully.");
    EXPECT_TRUE(Client.ClosedGracefully());
    EXPECT_FALSE(Client.Connected());
    EXPECT_THROW(Client.ReadLine(), EWireSocketError);
    EXPECT_EQ(MessageOf<EWireClosedSocket>([&] { Client.WriteLine("NOOP"); }),
              "Socket is closed, cannot write");
}

TEST_F(WireTest, SilentServerTimesOut)
{
    Server.Pause(3000);
    Server.Start();
    Client.Host = "127.0.0.1";
    Client.Port = Server.Port();
    Client.ReadTimeout = 200;
    Client.Connect();
    const auto started = steady_clock::now();
    try {
        Client.ReadLine();
        FAIL() << "read returned";
    } catch (const EWireSocketError& e) {
        EXPECT_EQ(e.Number(), 10060);
        EXPECT_STREQ(e.what(), "Socket Error #10060\r\nConnection timed out.");
    }
    const auto waited = duration_cast<milliseconds>(steady_clock::now() - started).count();
    EXPECT_GE(waited, 150);
    EXPECT_LT(waited, 2000);
    EXPECT_FALSE(Client.Connected()) << "the reply's late rest would pass for the next reply";
}

TEST_F(WireTest, ShutDownSocketDisconnectsAndRaisesItsError)
{
    Client.SetWinsock(Winsock);
    Server.Reply("+OK");
    Connect();
    Winsock.RecvError = 10058;
    EXPECT_EQ(MessageOf<EWireSocketError>([&] { Client.ReadLine(); }),
              "Socket Error #10058\r\nCannot send or receive after socket is closed.");
    EXPECT_FALSE(Client.Connected());
}

TEST_F(WireTest, AsciiFilterClearsTheHighBit)
{
    // The filter works on bytes as they arrive, so the second line waits for the switch.
    Server.Send("caf\xE9\r\n").Receive("NEXT").Send("caf\xE9\r\n");
    Connect();
    EXPECT_EQ(Client.ReadLine(), "caf\xE9");
    Client.ASCIIFilter = true;
    Client.WriteLine("NEXT");
    EXPECT_EQ(Client.ReadLine(), "caf\x69");
}

TEST(WireBuffer, CapacityGrowsAndShrinksByTheChunk)
{
    EXPECT_EQ(TWireSocket::NextBufferSize(8192, 1, 8192), 8192u);
    EXPECT_EQ(TWireSocket::NextBufferSize(8192, 5462, 8192), 16384u);
    EXPECT_EQ(TWireSocket::NextBufferSize(8192, 5461, 8192), 8192u);
    EXPECT_EQ(TWireSocket::NextBufferSize(40000, 1, 8192), 31808u);
    EXPECT_EQ(TWireSocket::NextBufferSize(16384, 1, 8192), 16384u);
    EXPECT_EQ(TWireSocket::NextBufferSize(24577, 1, 8192), 16385u);
}

TEST_F(WireTest, BufferChunkIsKeptWhileConnectedAndEmptiedOnDisconnect)
{
    Server.Send("+OK a\r\n+OK b\r\n");
    Client.SetBufferChunk(100);
    EXPECT_EQ(Client.InBufferSize(), 100u);
    Client.SetBufferChunk(0);
    EXPECT_EQ(Client.BufferChunk(), 100);
    Connect();
    Client.SetBufferChunk(4096);
    EXPECT_EQ(Client.BufferChunk(), 100);
    EXPECT_EQ(Client.ReadLine(), "+OK a");
    EXPECT_GT(Client.InBufferEnd(), 1u);
    Client.Disconnect();
    EXPECT_EQ(Client.InBufferEnd(), 1u);
    EXPECT_EQ(Status.Texts.back(), "Disconnected");
}

namespace {

// Reaches the buffer's own extraction, which the line reader never over-draws.
class TExposedWire : public TWireClient
{
public:
    using TWireSocket::ExtractFromBuffer;
};

} // namespace

TEST(WireBuffer, TakingMoreThanTheBufferHoldsIsRefused)
{
    TExposedWire wire;
    try {
        wire.ExtractFromBuffer(1);
        FAIL() << "took a byte from an empty buffer";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Not enough data in buffer.");
    }
}

// Replies and commands

TEST_F(WireTest, ReplyCodesAndOneLinePerReply)
{
    // POP3 has no continued status lines: "250-" and "+OK-" lines are replies of their own.
    Server.Send("250-first\r\n250 second\r\n+OK-\r\n")
        .Send("+OK fine\r\n-ERR no\r\nabc\r\n+OKAY\r\n")
        .Send("   \r\n\r\n  +OK padded  \r\n");
    Connect();
    EXPECT_EQ(Client.ReadReply(), 250);
    EXPECT_EQ(Client.ReplyText(), "250-first");
    EXPECT_EQ(Client.ReadReply(), 250);
    EXPECT_EQ(Client.ReplyText(), "250 second");
    EXPECT_EQ(Client.ReadReply(), 1);
    EXPECT_EQ(Client.ReplyText(), "+OK-");
    EXPECT_TRUE(Client.ReplyLines().empty());

    EXPECT_EQ(Client.ReadReply(), 1);
    EXPECT_TRUE(Client.ReplyLines().empty());
    EXPECT_EQ(Client.ReadReply(), 0);
    EXPECT_EQ(Client.ReadReply(), 0);
    EXPECT_EQ(Client.ReadReply(), 1);
    EXPECT_EQ(Client.ReadReply(), 1);
    EXPECT_EQ(Client.ReplyText(), "+OK padded");
}

TEST_F(WireTest, EndlessRepliesStopAtTheByteOrTheLineLimit)
{
    // Long lines reach the byte limit, short ones the line limit long before: each line is a
    // string of its own in memory.
    for (const std::string& line : {std::string(1000, 'x'), std::string("a")}) {
        SCOPED_TRACE(line.size());
        TFakePop3Server server;
        server.Reply("+OK").SendEndless(line + "\r\n");
        server.Start();
        TWireClient client;
        client.Host = "127.0.0.1";
        client.Port = server.Port();
        client.MaxResponseSize = 1000000;
        client.MaxResponseLines = 5000;
        client.Connect();
        EXPECT_EQ(client.ReadReply(), 1);
        std::vector<std::string> lines;
        EXPECT_EQ(MessageOf<EWireException>([&] { client.Capture(lines, {"."}); }),
                  "Response too long.");
        EXPECT_FALSE(client.Connected());
        EXPECT_LT(lines.size(), client.MaxResponseLines);
        EXPECT_LT(lines.size() * line.size(), client.MaxResponseSize);
    }
}

TEST_F(WireTest, AReplyTrickledByteByByteEndsAtItsOverallDeadline)
{
    // Every byte comes well within the read time-out; the whole line would take 4 s.
    Server.SendInPieces("+OK " + std::string(76, 'x') + "\r\n", 1, 50);
    Connect();
    Client.ReadTimeout = 200;
    try {
        Client.ReadReply();
        FAIL() << "the trickled reply was read whole: " << Client.ReplyText();
    } catch (const EWireSocketError& e) {
        EXPECT_EQ(e.Number(), 10060);
    }
    EXPECT_FALSE(Client.Connected());
}

TEST_F(WireTest, SendCommandChecksTheCodeAndPostsItsStatus)
{
    Server.Receive("NOOP")
        .Reply("-ERR not now")
        .Receive("NOOP")
        .Reply("-ERR still not")
        .Receive("STAT")
        .Reply("+OK 2 300")
        .Receive("LIST")
        .Reply("+OK listing")
        .Receive("X")
        .Reply("+OK silent")
        .Reply("+OK unasked");
    Connect();
    Status.Texts.clear();
    EXPECT_EQ(MessageOf<EWireResponseError>([&] { Client.SendCommand("NOOP", 1, "posted?", 0); }),
              "-ERR not now");
    EXPECT_EQ(Client.SendCommand("NOOP", -1, "", 0), 0);
    EXPECT_EQ(Client.SendCommand("STAT", 1, "*", 2), 1);
    EXPECT_EQ(Client.SendCommand("LIST", 1, "Listing", 1), 1);
    EXPECT_EQ(Client.SendCommand("X", 1, "", 0), 1);
    EXPECT_EQ(Client.SendCommand(std::string(1, '\0'), 1, "*", 0), 1);
    EXPECT_EQ(Status.Texts,
              (std::vector<std::string>{"    +OK 2 300", "  Listing", "+OK unasked"}));
    ASSERT_TRUE(Server.WaitDone());
    EXPECT_EQ(Server.Problems(), "");
    EXPECT_EQ(Server.Commands(), (std::vector<std::string>{"NOOP", "NOOP", "STAT", "LIST", "X"}));
}

// Capture

TEST_F(WireTest, CaptureUnstuffsDotsOnlyForTheDotTerminator)
{
    Server.Send("a\r\n..\r\n.b\r\n...c\r\n.\r\n")
        .Send("..x\r\n   \r\nend?\r\n\r\n")
        .Send("one\r\ntwo\r\nSTOP\r\n")
        .Send("l1\r\n.\r\n");
    Connect();
    std::vector<std::string> lines;
    EXPECT_EQ(Client.Capture(lines, {"."}), 1);
    EXPECT_EQ(lines, (std::vector<std::string>{"a", ".", ".b", "..c"}));

    lines.clear();
    EXPECT_EQ(Client.Capture(lines, {""}), 1);
    EXPECT_EQ(lines, (std::vector<std::string>{"..x", "   ", "end?"}));

    std::ostringstream stream;
    EXPECT_EQ(Client.Capture(stream, {"END", "STOP"}), 2);
    EXPECT_EQ(stream.str(), "one\r\ntwo\r\n");

    std::vector<std::string> seen;
    Client.OnLine = [&seen](TWireSocket&, const std::string& line) { seen.push_back(line); };
    EXPECT_EQ(Client.Capture({"."}), 1);
    EXPECT_EQ(seen, (std::vector<std::string>{"l1"}));
    EXPECT_EQ(Client.WorkSize(), -2);
}

// Status handler

TEST_F(WireTest, StatusHandlerExceptionsKeepTheirClassAndGainASuffix)
{
    Server.Reply("+OK");
    Connect();
    Client.OnStatus = [](TWireSocket&, const std::string&) { throw EWireResponseError("stop"); };
    EXPECT_EQ(MessageOf<EWireResponseError>([&] { Client.DoStatus("x"); }),
              "stop occurred in user's OnStatus Event.");

    Client.OnStatus = [](TWireSocket&, const std::string&) {
        throw EWireSocketError(10054, "Connection reset by peer.");
    };
    try {
        Client.DoStatus("x");
        FAIL() << "nothing raised";
    } catch (const EWireSocketError& e) {
        EXPECT_EQ(e.Number(), 10054);
        EXPECT_STREQ(e.what(), "Socket Error #10054\r\nConnection reset by peer. occurred in "
                               "user's OnStatus Event.");
    }

    Client.OnStatus = [](TWireSocket&, const std::string&) { throw EWireConnClosedGraceful(); };
    EXPECT_EQ(MessageOf<EWireConnClosedGraceful>([&] { Client.DoStatus("x"); }),
              "Connection Closed Gracefully. occurred in user's OnStatus Event.");

    Client.OnStatus = [](TWireSocket&, const std::string&) {
        throw std::logic_error("handler broke");
    };
    EXPECT_EQ(MessageOf<std::runtime_error>([&] { Client.DoStatus("x"); }),
              "handler broke occurred in user's OnStatus Event.");
}

// Trace

TEST_F(WireTest, TraceShowsCommandsAndRepliesButNeverThePassword)
{
    TTempDir folder;
    Client.LogFile = folder.File("trace.log");
    Server.Receive().Reply("+OK user").Receive().Reply("+OK pass");
    Server.Receive().Receive().Send("+OK user\r\n+OK pass\r\n");
    Connect();
    Client.SendCommand("User bob", 1, "", 0);
    Client.SendCommand("Pass s3cr3t-word", 1, "", 0);
    // Written together, as a pipelined log-in does.
    Client.WriteCommands({"User bob", "Pass s3cr3t-word"});
    Client.ReadCommandReply(1, "", 0);
    Client.ReadCommandReply(1, "", 0);
    Client.Disconnect();
    const std::string trace = ReadFile(folder.File("trace.log"));
    EXPECT_EQ(trace, "O: User bob\r\nI: +OK user\r\n\r\nO: Pass ********\r\nI: +OK pass\r\n\r\n"
                     "O: User bob\r\nO: Pass ********\r\nI: +OK user\r\n\r\nI: +OK pass\r\n\r\n");
    EXPECT_EQ(trace.find("s3cr3t"), std::string::npos);
    EXPECT_EQ(Server.Commands(), (std::vector<std::string>{"User bob", "Pass s3cr3t-word",
                                                           "User bob", "Pass s3cr3t-word"}));
}

TEST_F(WireTest, TraceFileThatCannotBeMadeStopsTheConnection)
{
    Client.LogFile = "/nonexistent-folder/trace.log";
    Server.Start();
    Client.Host = "127.0.0.1";
    Client.Port = Server.Port();
    EXPECT_EQ(MessageOf<EWireException>([&] { Client.Connect(); }),
              "Cannot create the log file /nonexistent-folder/trace.log.");
    EXPECT_FALSE(Client.Connected());
}
