#include "mail/MailCheck.h"
#include "pop3/Pop3Wire.h"
#include "pop3/TlsTransport.h"
#include "tests/support/PopServers.h"
#include "tests/support/TestCertificates.h"
#include "tests/unit/mail/MailRecorder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using TLines = std::vector<std::string>;

std::string Mail(int n)
{
    return "From: Ann Smith <ann@example.org>\r\n"
           "To: alice@example.org\r\n"
           "Subject: Message " +
           std::to_string(n) +
           "\r\n"
           "Date: Sun, 06 Dec 2026 20:07:05 +0000\r\n"
           "Message-ID: <" +
           std::to_string(n) +
           "@example.org>\r\n"
           "\r\n"
           "Hello.\r\n";
}

// A private Dovecot with a certificate from the test's own authority, offering STLS on its
// POP3 port and TLS from the first byte on its POP3S port.
class TlsDovecotTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        if (TDovecotServer::Binary().empty() || TTestCertificates::Binary().empty())
            return;
        Pki = std::make_unique<TTestCertificates>();
        Good = Pki->Issue("127.0.0.1", "IP:127.0.0.1,DNS:localhost");
        OtherHost = Pki->Issue("pop.example.org", "DNS:pop.example.org");
    }
    static void TearDownTestSuite() { Pki.reset(); }

    void SetUp() override
    {
        if (TDovecotServer::Binary().empty())
            GTEST_SKIP() << "dovecot is not installed (Debian package dovecot-pop3d)";
        if (!Pki)
            GTEST_SKIP() << "openssl is not installed (Debian package openssl)";
        Client.Host = "127.0.0.1";
        Client.UserID = TDovecotServer::User;
        Client.Password = TDovecotServer::Password;
        Client.ConnectTimeout = 10000;
        Client.ReadTimeout = 10000;
        Client.OnStatus = [this](TWireSocket&, const std::string& text) { Status.push_back(text); };
    }

    void TearDown() override
    {
        if (Server != nullptr && HasFailure())
            std::cerr << "dovecot's log:\n" << Server->Log();
    }

    void Start(const TTestCertificates::TCertificate& certificate, int messages = 2)
    {
        Server = std::make_unique<TDovecotServer>(
            TServerTls{certificate.CertificateFile, certificate.KeyFile});
        for (int n = 1; n <= messages; ++n)
            Server->AddMessage(Mail(n));
    }

    void Secure(TWireSecurity security)
    {
        Client.Security = security;
        Client.Port =
            security == TWireSecurity::ImplicitTls ? Server->SecurePort() : Server->Port();
    }

    void TrustTestAuthority() { Trust.emplace("SSL_CERT_FILE", Pki->AuthorityFile()); }

    // Dovecot's log lines of log-ins that hold marker: ", TLS," for a session over TLS,
    // ", secured," for a plain one from loopback. The log is written by a process of its own,
    // so this waits a little for the count expected.
    std::size_t Logins(const std::string& marker, std::size_t expected) const
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        for (;;) {
            std::size_t count = 0;
            const std::string log = Server->Log();
            for (std::size_t at = log.find("Login: "); at != std::string::npos;
                 at = log.find("Login: ", at + 1)) {
                const std::string line = log.substr(at, log.find('\n', at) - at);
                if (line.find(marker) != std::string::npos)
                    ++count;
            }
            if (count >= expected || std::chrono::steady_clock::now() > deadline)
                return count;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }

    static std::unique_ptr<TTestCertificates> Pki;
    static TTestCertificates::TCertificate Good;
    static TTestCertificates::TCertificate OtherHost;
    std::optional<TScopedEnvironment> Trust;
    std::unique_ptr<TDovecotServer> Server;
    TWirePOP3 Client;
    TLines Status;
};

std::unique_ptr<TTestCertificates> TlsDovecotTest::Pki;
TTestCertificates::TCertificate TlsDovecotTest::Good;
TTestCertificates::TCertificate TlsDovecotTest::OtherHost;

// The message of the TException that connecting raises; what else happened otherwise.
template <class TException> std::string ConnectFailure(TWirePOP3& client)
{
    try {
        client.Connect();
    } catch (const TException& error) {
        return error.what();
    } catch (const std::exception& error) {
        return std::string("another failure: ") + error.what();
    }
    return "connected";
}

std::string SecureText(const TLines& status)
{
    for (const std::string& text : status)
        if (text.rfind("Secure connection established (", 0) == 0)
            return text;
    return {};
}

} // namespace

TEST_F(TlsDovecotTest, ImplicitTlsAndStartTlsLogInWhenTheAuthorityIsTrusted)
{
    TrustTestAuthority();
    Start(Good);
    for (const TWireSecurity security : {TWireSecurity::StartTls, TWireSecurity::ImplicitTls}) {
        Status.clear();
        Secure(security);
        Client.Connect();
        EXPECT_EQ(Client.CheckMessages(), 2);
        Client.Logout();
        EXPECT_NE(SecureText(Status), "");
        EXPECT_EQ(Client.PeerCertificate()->Fingerprint, Good.Fingerprint);
    }
    // Dovecot's own word that both sessions ran over TLS.
    EXPECT_EQ(Logins(", TLS,", 2), 2u);
}

TEST_F(TlsDovecotTest, UntrustedCertificateFailsWithItsFingerprintUntilTheAccountTrustsIt)
{
    Start(Good);
    Secure(TWireSecurity::ImplicitTls);
    EXPECT_EQ(ConnectFailure<EWireCertificateError>(Client),
              "The certificate of 127.0.0.1 was not accepted: it is issued by an unknown "
              "authority (Mailbeacon Test Authority). SHA-256 fingerprint: " +
                  Good.Fingerprint);
    EXPECT_EQ(Logins("", 0), 0u);

    Client.TrustedCertificate = Good.Fingerprint;
    for (const TWireSecurity security : {TWireSecurity::ImplicitTls, TWireSecurity::StartTls}) {
        Secure(security);
        Client.Connect();
        EXPECT_EQ(Client.CheckMessages(), 2);
        Client.Logout();
    }
    EXPECT_EQ(Logins(", TLS,", 2), 2u);
}

TEST_F(TlsDovecotTest, CertificateForAnotherHostFailsNamingThatReason)
{
    TrustTestAuthority();
    Start(OtherHost);
    Secure(TWireSecurity::StartTls);
    EXPECT_EQ(ConnectFailure<EWireCertificateError>(Client),
              "The certificate of 127.0.0.1 was not accepted: it is issued for another host "
              "name (pop.example.org), not for 127.0.0.1. SHA-256 fingerprint: " +
                  OtherHost.Fingerprint);
    EXPECT_EQ(Logins("", 0), 0u);
}

TEST_F(TlsDovecotTest, PlainAccountsKeepWorkingAndAServerWithoutTlsIsNamed)
{
    Server = std::make_unique<TDovecotServer>();
    Server->AddMessage(Mail(1));
    Client.Port = Server->Port();
    Client.Connect();
    EXPECT_EQ(Client.CheckMessages(), 1);
    Client.Logout();
    EXPECT_EQ(SecureText(Status), "");
    EXPECT_EQ(Logins(", secured,", 1), 1u);

    Client.Security = TWireSecurity::StartTls;
    EXPECT_EQ(ConnectFailure<EWireTlsError>(Client),
              "The server 127.0.0.1 does not offer STARTTLS, so the connection cannot be "
              "secured; the password was not sent.");
    EXPECT_EQ(Logins("", 1), 1u);
}

TEST_F(TlsDovecotTest, PipelinedCheckOverTlsListsTheRowsOfPlainText)
{
    TrustTestAuthority();
    Start(Good, 1000);
    const auto rows = [this](TWireSecurity security) {
        auto account = std::make_shared<TAccount>();
        account->Name = "Dovecot";
        account->Host = "127.0.0.1";
        account->Port =
            security == TWireSecurity::ImplicitTls ? Server->SecurePort() : Server->Port();
        account->UserId = TDovecotServer::User;
        account->Password = TDovecotServer::Password;
        account->Security = static_cast<std::int32_t>(security);
        TWirePOP3 client;
        TMailRecorder recorder;
        const std::atomic<bool> cancel{false};
        CheckAccount(client, SnapshotOf(account), "/", recorder, cancel);
        EXPECT_EQ(recorder.Errors, 0) << ::testing::PrintToString(recorder.Trace);
        TLines texts;
        for (const TMessageRow& row : recorder.Rows) {
            std::string line;
            for (int i = 0; i < TMessageRow::TextCount; ++i)
                line += row.Text(i) + "|";
            texts.push_back(line);
        }
        return texts;
    };
    const TLines plain = rows(TWireSecurity::None);
    ASSERT_EQ(plain.size(), 1000u);
    EXPECT_EQ(rows(TWireSecurity::StartTls), plain);
    EXPECT_EQ(rows(TWireSecurity::ImplicitTls), plain);
    EXPECT_EQ(Logins(", TLS,", 2), 2u);
}
