#include "mail/MailSession.h"

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

void SetAccount(TWirePOP3& client, const TAccount& account)
{
    client.Host = account.Host;
    client.Port = account.Port;
    client.UserID = account.UserId;
    client.Password = account.Password;
}

bool ConnectAccount(TWirePOP3& client, const TAccount& account, IMailEvents& events)
{
    SetAccount(client, account);
    try {
        client.Connect();
    } catch (const std::exception& error) {
        // The client has posted its own texts for the failure; the log names the account.
        events.Failure(ConnectionFailedText(account.Name), TFailureReport::LogLine);
        events.AccountFailed(account.Name, error.what());
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
