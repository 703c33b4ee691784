#pragma once

#include "config/Data.h"

#include <exception>
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
    // A line for the action log that counts no error: the reason that follows the line of a
    // failed connection.
    virtual void LogEntry(const std::string& /*text*/) {}
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

// Why a session with the account failed, as one printable line: "host:port answered: " and the
// server's reply for a refusal (a greeting, USER or PASS, a command refused), else "host:port: "
// and the failure's text (a socket error, a time-out, a reply too long...).
std::string FailureReason(const TAccount& account, const std::exception& failure);
// The same for a failure whose text is all that is left (it was posted as a status text).
std::string FailureReason(const TAccount& account, const std::string& text);

// Sets the client's host, port, user, password, security and trusted certificate from the
// account.
void SetAccount(TWirePOP3& client, const TAccount& account);

// Sets the client from the account and connects. Any failure is one error, logged as
// ConnectionFailedText followed by a log entry of its FailureReason, and reported once through
// AccountFailed; the result tells whether the session is open. withCount sends STAT along with
// the log-in where the server allows it (see TWirePOP3::CountWithLogin): the caller's next
// command must then be the count.
bool ConnectAccount(TWirePOP3& client, const TAccount& account, IMailEvents& events,
                    bool withCount = false);

// Ends the session with QUIT; a failure to say goodbye is nobody's concern.
void CloseSession(TWirePOP3& client);
