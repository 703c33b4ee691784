#include "mail/MailSession.h"

#include "pop3/HeaderText.h"
#include "pop3/Pop3Wire.h"

#include <exception>

TStatusForward::TStatusForward(TWirePOP3& client, IMailEvents& events)
    : FClient(client)
    , FPrevious(client.OnStatus)
{
    client.OnStatus = [this, &events](TWireSocket&, const std::string& text) {
        FLast = text;
        events.Status(text);
    };
}

TStatusForward::~TStatusForward()
{
    FClient.OnStatus = FPrevious;
}

TAccountSnapshot SnapshotOf(const std::shared_ptr<TAccount>& account)
{
    return {account, account ? *account : TAccount()};
}

std::string ConnectionFailedText(const std::string& accountName)
{
    return "ERROR - Connection to " + accountName + " failed.";
}

namespace {

std::string Endpoint(const TAccount& account)
{
    const bool ipv6 = account.Host.find(':') != std::string::npos;
    return (ipv6 ? "[" + account.Host + "]" : account.Host) + ":" + std::to_string(account.Port);
}

} // namespace

std::string FailureReason(const TAccount& account, const std::exception& failure)
{
    // These carry the server's own line: a refused greeting, log-in or command.
    if (dynamic_cast<const EWireResponseError*>(&failure) != nullptr ||
        dynamic_cast<const EWireConnectRefused*>(&failure) != nullptr)
        return Endpoint(account) + " answered: " + PrintableText(failure.what());
    return FailureReason(account, failure.what());
}

std::string FailureReason(const TAccount& account, const std::string& text)
{
    return Endpoint(account) + ": " + PrintableText(text);
}

void SetAccount(TWirePOP3& client, const TAccount& account)
{
    client.Host = account.Host;
    client.Port = account.Port;
    client.UserID = account.UserId;
    client.Password = account.Password;
    // A stored value this program does not know asks for TLS from the first byte: a setting
    // never falls back to plain text.
    client.Security = account.Security == TAccount::SecurityNone       ? TWireSecurity::None
                      : account.Security == TAccount::SecurityStartTls ? TWireSecurity::StartTls
                                                                       : TWireSecurity::ImplicitTls;
    client.TrustedCertificate = account.TrustedCertificate;
}

bool ConnectAccount(TWirePOP3& client, const TAccount& account, IMailEvents& events, bool withCount)
{
    SetAccount(client, account);
    client.CountWithLogin = withCount;
    try {
        client.Connect();
    } catch (const std::exception& failure) {
        // The client has posted its own texts for the failure, but not the server's refusal
        // nor always the socket's error: the log names the account, then says why.
        const std::string reason = FailureReason(account, failure);
        events.Failure(ConnectionFailedText(account.Name), TFailureReport::LogLine);
        events.LogEntry(reason);
        events.AccountFailed(account.Name, reason);
    }
    return client.Connected();
}

void CloseSession(TWirePOP3& client)
{
    try {
        client.Disconnect();
    } catch (const std::exception&) {
        // The session is over either way; a server gone before QUIT changes nothing here.
    }
}
