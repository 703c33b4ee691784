#pragma once

#include "config/Data.h"

#include <functional>
#include <memory>
#include <string>

class TWirePOP3;
class TWireSocket;

// How the text of a failure reaches the user.
enum class TFailureReport
{
    // The text is a line for the action log ("ERROR - Connection to ... failed.").
    LogLine,
    // The text is posted as a status text.
    StatusText,
    // The POP3 client has already posted the text as a status text.
    AlreadyPosted
};

// What a mail operation reports while it runs. The calls come on the thread that runs the
// operation; the window turns them into status texts, log entries and ErrorCount.
class IMailEvents
{
public:
    virtual ~IMailEvents() = default;
    // A status text of the POP3 client: status bar, tray hint and, with logging on, the log.
    virtual void Status(const std::string& text) = 0;
    // One error for ErrorCount, with the text that explains it.
    virtual void Failure(const std::string& text, TFailureReport report) = 0;
    // The account's session failed; reason says why in the user's words (the server's reply
    // or the socket error, with host and port). Called once per failed account.
    virtual void AccountFailed(const std::string& /*accountName*/, const std::string& /*reason*/) {}
};

// Hands the client's status texts to the events while it lives, and remembers the last one;
// the client's own handler comes back afterwards.
class TStatusForward
{
public:
    TStatusForward(TWirePOP3& client, IMailEvents& events);
    ~TStatusForward();
    TStatusForward(const TStatusForward&) = delete;
    TStatusForward& operator=(const TStatusForward&) = delete;

    const std::string& Last() const { return FLast; }

private:
    TWirePOP3& FClient;
    std::function<void(TWireSocket&, const std::string&)> FPrevious;
    std::string FLast;
};

// An account as an operation uses it: the values copied when the operation starts, so that
// the settings dialog may change or remove the record meanwhile, and the record itself for
// the rows that refer to it.
struct TAccountSnapshot
{
    std::shared_ptr<TAccount> Record;
    TAccount Data;
};

TAccountSnapshot SnapshotOf(const std::shared_ptr<TAccount>& account);

// "ERROR - Connection to " + name + " failed."
std::string ConnectionFailedText(const std::string& accountName);

// Sets the client's host, port, user and password from the account.
void SetAccount(TWirePOP3& client, const TAccount& account);

// Sets the client from the account and connects. Any failure is one error, logged as
// ConnectionFailedText; the result tells whether the session is open.
bool ConnectAccount(TWirePOP3& client, const TAccount& account, IMailEvents& events);

// Ends the session with QUIT; a failure to say goodbye is nobody's concern.
void CloseSession(TWirePOP3& client);
