#include "pop3/TlsTransport.h"

#include "pop3/InterruptibleSocketApi.h"
#include "pop3/Pop3Wire.h"
#include "pop3/WireMessage.h"
#include "tests/support/FakePop3Server.h"
#include "tests/support/SampleServerThread.h"
#include "tests/support/TestCertificates.h"
#include "tests/unit/pop3/WireFixtures.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using TLines = std::vector<std::string>;
using TTlsMode = TSamplePop3Server::TTlsMode;

std::string Mail(int n, const std::string& extraHeader = {})
{
    return "From: Ann <ann@example.org>\r\n"
           "Subject: Message " +
           std::to_string(n) + "\r\n" + extraHeader +
           "Date: Sun, 06 Dec 2026 20:07:05 +0000\r\n"
           "\r\n"
           "Body of message " +
           std::to_string(n) + ".\r\n";
}

// The certificates of every test here: one authority, and servers' certificates good and bad.
struct TCertificates
{
    TTestCertificates Pki;
    TTestCertificates::TCertificate Good = Pki.Issue("127.0.0.1", "IP:127.0.0.1,DNS:localhost");
    TTestCertificates::TCertificate OtherHost =
        Pki.Issue("mail.example.org", "DNS:mail.example.org");
    TTestCertificates::TCertificate Expired =
        Pki.Issue("127.0.0.1", "IP:127.0.0.1", "20200101000000Z", "20210101000000Z");
    TTestCertificates::TCertificate NotYetValid =
        Pki.Issue("127.0.0.1", "IP:127.0.0.1", "20900101000000Z", "20910101000000Z");
    TTestCertificates::TCertificate SelfSigned = Pki.SelfSigned("127.0.0.1", "IP:127.0.0.1");
};

class TlsTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        if (!TTestCertificates::Binary().empty())
            Certificates = std::make_unique<TCertificates>();
    }
    static void TearDownTestSuite() { Certificates.reset(); }

    void SetUp() override
    {
        if (!Certificates)
            GTEST_SKIP() << "openssl is not installed (Debian package openssl): the test "
                            "certificates cannot be made";
        Client.Host = "127.0.0.1";
        Client.UserID = "demo";
        Client.Password = "demo";
        UseShortTimeouts(Client);
        Status.Attach(Client);
    }

    // The test's authority becomes the only one this process trusts.
    void TrustTestAuthority() { Trust.emplace("SSL_CERT_FILE", Certificates->Pki.AuthorityFile()); }

    // The sample server with the certificate, in the mode, serving messages.
    void Serve(TTlsMode mode, const TTestCertificates::TCertificate& certificate,
               const std::vector<std::string>& messages = {Mail(1), Mail(2)})
    {
        Server =
            std::make_unique<TSampleServerThread>(messages, SampleTlsOptions(mode, certificate));
        Client.Port = Server->Port();
        Client.Security =
            mode == TTlsMode::Implicit ? TWireSecurity::ImplicitTls : TWireSecurity::StartTls;
    }

    // The message of the failure Connect raises, checked to be of the class.
    template <class TException> std::string ConnectFailure()
    {
        try {
            Client.Connect();
        } catch (const TException& error) {
            EXPECT_FALSE(Client.Connected());
            return error.what();
        } catch (const std::exception& error) {
            ADD_FAILURE() << "another failure: " << error.what();
            return {};
        }
        ADD_FAILURE() << "connected";
        return {};
    }

    static std::unique_ptr<TCertificates> Certificates;
    std::optional<TScopedEnvironment> Trust;
    std::unique_ptr<TSampleServerThread> Server;
    TWirePOP3 Client;
    TStatusLog Status;
    TWireMessage Message;
};

std::unique_ptr<TCertificates> TlsTest::Certificates;

bool StartsWith(const std::string& text, const std::string& start)
{
    return text.compare(0, start.size(), start) == 0;
}

} // namespace

// Secure sessions

TEST_F(TlsTest, ImplicitTlsSecuresTheConnectionBeforeTheGreeting)
{
    TrustTestAuthority();
    Serve(TTlsMode::Implicit, Certificates->Good);
    Client.Connect();
    ASSERT_EQ(Client.CheckMessages(), 2);
    ASSERT_TRUE(Client.RetrieveHeader(2, Message));
    EXPECT_EQ(Message.Subject(), "Message 2");
    Client.Disconnect();

    ASSERT_EQ(Status.Texts.size(), 10u) << ::testing::PrintToString(Status.Texts);
    EXPECT_EQ(TLines(Status.Texts.begin(), Status.Texts.begin() + 2),
              (TLines{"Connecting to 127.0.0.1", "Socket Connected"}));
    EXPECT_TRUE(StartsWith(Status.Texts[2], "Secure connection established (TLSv1.3, TLS_"))
        << Status.Texts[2];
    EXPECT_EQ(
        TLines(Status.Texts.begin() + 3, Status.Texts.end()),
        (TLines{"Connected", "User Account is valid", "Password is valid", "Checking for messages",
                "Retrieving headers", "Disconnecting", "Disconnected"}));
    ASSERT_NE(Client.PeerCertificate(), nullptr);
    EXPECT_EQ(Client.PeerCertificate()->Fingerprint, Certificates->Good.Fingerprint);
    EXPECT_EQ(Client.PeerCertificate()->Problem, "");
    EXPECT_EQ(Client.PeerCertificate()->Names, (TLines{"127.0.0.1", "localhost"}));
    EXPECT_NE(Server->Log().find("TLS started (TLSv1.3)"), std::string::npos);
}

TEST_F(TlsTest, StartTlsSecuresTheConnectionAfterTheGreetingAndBeforeTheLogIn)
{
    TrustTestAuthority();
    Serve(TTlsMode::StartTls, Certificates->Good);
    Client.Connect();
    EXPECT_EQ(Client.CheckMessages(), 2);
    Client.Disconnect();

    ASSERT_EQ(Status.Texts.size(), 10u) << ::testing::PrintToString(Status.Texts);
    EXPECT_EQ(TLines(Status.Texts.begin(), Status.Texts.begin() + 4),
              (TLines{"Connecting to 127.0.0.1", "Socket Connected", "Connected", "Starting TLS"}));
    EXPECT_TRUE(StartsWith(Status.Texts[4], "Secure connection established (TLSv1.3, "));
    EXPECT_EQ(Status.Texts[5], "User Account is valid");
    // The log-in came only after TLS.
    const std::string log = Server->Log();
    EXPECT_LT(log.find("C: STLS"), log.find("TLS started"));
    EXPECT_LT(log.find("TLS started"), log.find("C: USER demo"));
}

TEST_F(TlsTest, CapabilitiesAskedAgainAfterStartTlsAreTheOnesKept)
{
    TrustTestAuthority();
    const TLines plain{"USER", "TOP", "UIDL"};
    const TLines pipelining{"USER", "TOP", "PIPELINING", "UIDL"};
    const struct
    {
        const char* Name;
        TLines Before;
        TLines After;
    } table[] = {{"PIPELINING only once secure", plain, pipelining},
                 {"PIPELINING only before TLS", pipelining, plain}};
    for (const auto& row : table) {
        SCOPED_TRACE(row.Name);
        TSamplePop3Server::TOptions options =
            SampleTlsOptions(TTlsMode::StartTls, Certificates->Good);
        options.CapabilitiesBeforeTls = row.Before;
        options.Capabilities = row.After;
        Server = std::make_unique<TSampleServerThread>(TLines{Mail(1)}, options);
        Client.Port = Server->Port();
        Client.Security = TWireSecurity::StartTls;
        Client.Connect();
        EXPECT_EQ(Client.Capabilities(), row.After);
        EXPECT_EQ(TWirePOP3::AllowsPipelining(Client.Capabilities()),
                  TWirePOP3::AllowsPipelining(row.After));
        EXPECT_EQ(Client.CheckMessages(), 1);
        Client.Disconnect();
        const std::string log = Server->Log();
        const std::size_t secured = log.find("TLS started");
        ASSERT_NE(secured, std::string::npos);
        EXPECT_LT(log.find("C: CAPA"), log.find("C: STLS"));
        EXPECT_LT(secured, log.find("C: CAPA", secured));
        EXPECT_LT(log.find("C: CAPA", secured), log.find("C: USER demo"));
    }
}

TEST_F(TlsTest, HostNameIsCheckedAgainstTheCertificatesNames)
{
    TrustTestAuthority();
    Serve(TTlsMode::Implicit, Certificates->Good);
    Client.Host = "localhost";
    Client.Connect();
    EXPECT_TRUE(Client.Connected());
    Client.Disconnect();
}

TEST_F(TlsTest, TrustedFingerprintStandsInForTheAuthorities)
{
    // No authority vouches for a self-signed certificate; the account's fingerprint does, as
    // the user may have pasted it.
    Serve(TTlsMode::Implicit, Certificates->SelfSigned);
    std::string pasted;
    for (const char c : Certificates->SelfSigned.Fingerprint)
        if (c != ':')
            pasted += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    Client.TrustedCertificate = pasted;
    Client.Connect();
    ASSERT_NE(Client.PeerCertificate(), nullptr);
    EXPECT_TRUE(Client.PeerCertificate()->Trusted);
    EXPECT_EQ(Client.CheckMessages(), 2);
    Client.Disconnect();
}

// Certificates that are not accepted: the session ends before the log-in, and the text says
// why with the certificate's fingerprint.

struct TRefusal
{
    const char* Name;
    TTestCertificates::TCertificate TCertificates::*Certificate;
    bool TrustAuthority;
    bool TrustOtherFingerprint;
    std::string Reason;
};

class TlsRefusalTest : public TlsTest, public ::testing::WithParamInterface<TRefusal>
{};

TEST_P(TlsRefusalTest, FailsBeforeTheLogInNamingTheReasonAndTheFingerprint)
{
    const TRefusal& refusal = GetParam();
    if (refusal.TrustAuthority)
        TrustTestAuthority();
    const TTestCertificates::TCertificate& certificate = (*Certificates).*refusal.Certificate;
    Serve(TTlsMode::Implicit, certificate);
    if (refusal.TrustOtherFingerprint)
        Client.TrustedCertificate = Certificates->Good.Fingerprint;
    try {
        Client.Connect();
        FAIL() << "connected";
    } catch (const EWireCertificateError& error) {
        EXPECT_EQ(std::string(error.what()),
                  "The certificate of 127.0.0.1 was not accepted: " + refusal.Reason +
                      ". SHA-256 fingerprint: " + certificate.Fingerprint);
        EXPECT_EQ(error.Fingerprint(), certificate.Fingerprint);
    }
    EXPECT_FALSE(Client.Connected());
    EXPECT_EQ(Server->Log().find("C: "), std::string::npos) << "the client sent a command";
    EXPECT_EQ(Status.Texts, (TLines{"Connecting to 127.0.0.1", "Socket Connected", "Disconnecting",
                                    "Disconnected"}));
}

INSTANTIATE_TEST_SUITE_P(
    Certificates, TlsRefusalTest,
    ::testing::Values(
        TRefusal{"UnknownAuthority", &TCertificates::Good, false, false,
                 "it is issued by an unknown authority (Mailbeacon Test Authority)"},
        TRefusal{"SelfSigned", &TCertificates::SelfSigned, true, false,
                 "it is self-signed (nobody vouches for it)"},
        TRefusal{"OtherHost", &TCertificates::OtherHost, true, false,
                 "it is issued for another host name (mail.example.org), not for 127.0.0.1"},
        TRefusal{"Expired", &TCertificates::Expired, true, false,
                 "it has expired (valid until 2021-01-01)"},
        TRefusal{"NotYetValid", &TCertificates::NotYetValid, true, false,
                 "it is not valid yet (valid from 2090-01-01)"},
        TRefusal{"AnotherTrusted", &TCertificates::SelfSigned, false, true,
                 "it is not the certificate this account trusts, and it is self-signed "
                 "(nobody vouches for it)"}),
    [](const ::testing::TestParamInfo<TRefusal>& parameter) { return parameter.param.Name; });

TEST_F(TlsTest, FetchCertificateShowsARefusedCertificateWithoutLoggingIn)
{
    Serve(TTlsMode::StartTls, Certificates->SelfSigned);
    const TPeerCertificate certificate = Client.FetchCertificate();
    EXPECT_EQ(certificate.Fingerprint, Certificates->SelfSigned.Fingerprint);
    EXPECT_EQ(certificate.Problem, "it is self-signed (nobody vouches for it)");
    EXPECT_EQ(certificate.Subject, "CN=127.0.0.1");
    EXPECT_FALSE(certificate.Trusted);
    EXPECT_FALSE(Client.Connected());
    ASSERT_TRUE(Server->WaitForLog("connection closed"));
    const std::string log = Server->Log();
    EXPECT_EQ(log.find("C: USER"), std::string::npos);
    EXPECT_NE(log.find("C: Quit"), std::string::npos);

    Client.Security = TWireSecurity::None;
    EXPECT_THROW(Client.FetchCertificate(), EWireTlsError);
}

// Servers that cannot or will not secure the connection

TEST_F(TlsTest, ServerWithoutStartTlsIsAnErrorBeforeThePasswordIsSent)
{
    Server = std::make_unique<TSampleServerThread>(TLines{Mail(1)});
    Client.Port = Server->Port();
    Client.Security = TWireSecurity::StartTls;
    EXPECT_EQ(ConnectFailure<EWireTlsError>(),
              "The server 127.0.0.1 does not offer STARTTLS, so the connection cannot be "
              "secured; the password was not sent.");
    EXPECT_EQ(Server->Log().find("C: USER"), std::string::npos);
}

TEST_F(TlsTest, ImplicitTlsOnAPlainPortNamesThePort)
{
    Server = std::make_unique<TSampleServerThread>(TLines{Mail(1)});
    Client.Port = Server->Port();
    Client.Security = TWireSecurity::ImplicitTls;
    EXPECT_EQ(ConnectFailure<EWireTlsError>(),
              "The secure connection to 127.0.0.1 could not be established: the server does "
              "not answer in TLS on port " +
                  std::to_string(Server->Port()) +
                  " (SSL/TLS is usually port 995; port 110 is for None or STARTTLS).");
}

TEST_F(TlsTest, StartTlsIsTriedWhenCapaIsUnknownAndItsRefusalIsAnError)
{
    TFakePop3Server server;
    server.Reply("+OK ready")
        .Receive("CAPA")
        .Reply("-ERR unknown command")
        .Receive("STLS")
        .Reply("-ERR TLS support not configured")
        .Receive("Quit");
    server.Start();
    Client.Port = server.Port();
    Client.Security = TWireSecurity::StartTls;
    EXPECT_EQ(ConnectFailure<EWireTlsError>(),
              "The server 127.0.0.1 refused STARTTLS: -ERR TLS support not configured");
    ASSERT_TRUE(server.WaitDone());
    EXPECT_EQ(server.Problems(), "");
}

TEST_F(TlsTest, BytesAfterTheStartTlsAcceptanceEndTheConnection)
{
    // A man in the middle answers for the server before TLS starts (RFC 2595 §4).
    TFakePop3Server server;
    server.Reply("+OK ready")
        .Receive("CAPA")
        .Send("+OK\r\nSTLS\r\n.\r\n")
        .Receive("STLS")
        .Send("+OK begin TLS\r\n+OK injected\r\n")
        .Pause(500);
    server.Start();
    Client.Port = server.Port();
    Client.Security = TWireSecurity::StartTls;
    const std::string failure = ConnectFailure<EWireTlsError>();
    EXPECT_NE(failure.find("sent unprotected data after accepting STARTTLS"), std::string::npos)
        << failure;
    ASSERT_TRUE(server.WaitDone());
    EXPECT_EQ(server.Commands(), (TLines{"CAPA", "STLS"}));
}

// Waits

TEST_F(TlsTest, StalledHandshakeEndsWithTheTimeOut)
{
    for (const TWireSecurity security : {TWireSecurity::ImplicitTls, TWireSecurity::StartTls}) {
        TFakePop3Server server;
        if (security == TWireSecurity::StartTls)
            server.Reply("+OK ready")
                .Receive("CAPA")
                .Send("+OK\r\nSTLS\r\n.\r\n")
                .Receive("STLS")
                .Reply("+OK go ahead");
        server.Pause(5000);
        server.Start();
        TWirePOP3 client;
        client.Host = "127.0.0.1";
        client.Port = server.Port();
        client.Security = security;
        client.ReadTimeout = 300;
        try {
            client.Connect();
            FAIL() << "connected";
        } catch (const EWireSocketError& error) {
            EXPECT_EQ(error.Number(), 10060);
            EXPECT_EQ(std::string(error.what()), "Socket Error #10060\r\nConnection timed out.");
        }
        EXPECT_FALSE(client.Connected());
    }
}

TEST_F(TlsTest, InterruptingTheSocketsEndsAHandshakeWaitAtOnce)
{
    // The server takes the client hello and never answers it.
    TFakePop3Server silent;
    silent.Receive();
    silent.Start();
    TInterruptibleSocketApi sockets;
    TWirePOP3 client;
    client.SetWinsock(sockets);
    client.Host = "127.0.0.1";
    client.Port = silent.Port();
    client.Security = TWireSecurity::ImplicitTls;
    client.ReadTimeout = 20000;
    auto connecting = std::async(std::launch::async, [&client]() -> std::string {
        try {
            client.Connect();
        } catch (const EWireException& error) {
            return error.what();
        }
        return "connected";
    });
    while (silent.Connections() == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    // The client hello is out and its answer awaited.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    sockets.Interrupt();
    ASSERT_EQ(connecting.wait_for(std::chrono::seconds(5)), std::future_status::ready)
        << "the handshake still waits";
    EXPECT_NE(connecting.get(), "connected");
    EXPECT_FALSE(client.Connected());
}

// The line buffer over TLS works as over a plain socket.

class TlsLineTest : public TlsTest, public ::testing::WithParamInterface<TWireSecurity>
{
protected:
    void ServeAs(const std::vector<std::string>& messages)
    {
        TrustTestAuthority();
        const TWireSecurity security = GetParam();
        if (security == TWireSecurity::None) {
            Server = std::make_unique<TSampleServerThread>(messages);
            Client.Port = Server->Port();
            Client.Security = security;
        } else {
            Serve(security == TWireSecurity::ImplicitTls ? TTlsMode::Implicit : TTlsMode::StartTls,
                  Certificates->Good, messages);
        }
    }
};

TEST_P(TlsLineTest, PipelinedListingGivesEveryHeaderAndSize)
{
    std::vector<std::string> messages;
    for (int n = 1; n <= 200; ++n)
        messages.push_back(
            Mail(n, "X-Padding: " + std::string(static_cast<std::size_t>(n) * 40, 'p') + "\r\n"));
    ServeAs(messages);
    Client.Connect();
    const bool pipelining = TWirePOP3::AllowsPipelining(Client.Capabilities());
    EXPECT_TRUE(pipelining);
    const int count = Client.CheckMessages();
    ASSERT_EQ(count, 200);
    Client.StartListing(count, pipelining);
    while (Client.ListingPending()) {
        Message.Clear();
        const TListedMessage listed = Client.ListNext(Message);
        ASSERT_TRUE(listed.HeaderComplete);
        EXPECT_EQ(listed.Size, static_cast<int>(messages[listed.Number - 1].size()));
        EXPECT_EQ(Message.Subject(), "Message " + std::to_string(listed.Number));
    }
    Client.EndListing();
    Client.Disconnect();
}

TEST_P(TlsLineTest, FilterAndLineCapActOnTheDecryptedBytes)
{
    const std::string longLine =
        "X-Long: " + std::string(TWireSocket::MaxLineLength + 10, 'x') + "\r\n";
    ServeAs({"From: Ann <ann@example.org>\r\nSubject: caf\xE9\r\n\r\nBody\r\n",
             "Subject: long\r\n" + longLine + "\r\nBody\r\n"});
    Client.ASCIIFilter = true;
    Client.Connect();
    ASSERT_TRUE(Client.RetrieveHeader(1, Message));
    EXPECT_EQ(Message.Subject(), "cafi");
    try {
        Client.RetrieveHeader(2, Message);
        FAIL() << "a line over the cap was read";
    } catch (const EWireException& error) {
        EXPECT_EQ(std::string(error.what()), "Line too long.");
    }
    EXPECT_FALSE(Client.Connected());
}

INSTANTIATE_TEST_SUITE_P(Security, TlsLineTest,
                         ::testing::Values(TWireSecurity::None, TWireSecurity::StartTls,
                                           TWireSecurity::ImplicitTls),
                         [](const ::testing::TestParamInfo<TWireSecurity>& parameter) {
                             switch (parameter.param) {
                             case TWireSecurity::None:
                                 return "Plain";
                             case TWireSecurity::StartTls:
                                 return "StartTls";
                             default:
                                 return "ImplicitTls";
                             }
                         });

// Fingerprints as users write them

TEST(FingerprintTest, AnyCommonWritingGivesTheColonForm)
{
    const std::string form = "AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89:"
                             "AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89";
    std::string bare;
    for (const char c : form)
        if (c != ':')
            bare += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_EQ(NormalizeFingerprint(form), form);
    EXPECT_EQ(NormalizeFingerprint(bare), form);
    EXPECT_EQ(NormalizeFingerprint("sha256 Fingerprint=" + form + "\n"), form);
    EXPECT_EQ(NormalizeFingerprint("  " + form + " "), form);
    // A SHA-1 fingerprint, a stray letter, or nothing at all is no SHA-256 fingerprint.
    EXPECT_EQ(NormalizeFingerprint(form.substr(0, 59)), "");
    EXPECT_EQ(NormalizeFingerprint(form.substr(0, form.size() - 1) + "G"), "");
    EXPECT_EQ(NormalizeFingerprint(""), "");
}
