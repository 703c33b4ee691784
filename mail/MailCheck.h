#pragma once

#include "mail/MailSession.h"
#include "mail/MessageRow.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class THeaderCaches;
class TWireMessage;
class TWirePOP3;

// What a check reports besides status texts and errors.
class ICheckEvents : public IMailEvents
{
public:
    // A row to append to the list, in account order and, within an account, message order.
    virtual void ListRow(const TMessageRow& row) = 0;
};

// Everything a check needs, copied before it starts.
struct TCheckRequest
{
    // In list order, with their Include flags; the check skips the others itself.
    std::vector<TAccountSnapshot> Accounts;
    // The date separator of the user's locale, for the Date column.
    std::string DateSeparator = "/";
    // The most messages listed for one account. A server may claim millions and answer each
    // header cheaply; past this many rows the window would only fill the memory.
    std::int32_t MaxMessages = 100000;
    // The headers of messages listed before, by unique id; none: every header is asked for.
    // Filled with the headers the check fetches and saved after each account.
    THeaderCaches* Caches = nullptr;
};

// One run over the included accounts, in order, listing the messages of each. The cancel
// flag is seen before each account and before each message; the account under way then
// closes its session normally and no later account is visited. Never throws.
void CheckMail(TWirePOP3& client, const TCheckRequest& request, ICheckEvents& events,
               const std::atomic<bool>& cancel);

// The session with one account. After the count it asks for the unique ids and sizes of all
// messages; with both, only the headers the cache does not hold are asked for (TOP n 0), else
// every message's header and size, as a server without UIDL has it. An error after the log-in (a
// STAT refused or without a count, a dropped connection, a time-out, a header the server refuses,
// replies out of step) closes the session and counts one error, whose text is posted as a status;
// the rows listed before it stay. An account holding more than maxMessages messages lists that many
// and counts one error saying so. Each failed account is reported once through AccountFailed.
void CheckAccount(TWirePOP3& client, const TAccountSnapshot& account,
                  const std::string& dateSeparator, ICheckEvents& events,
                  const std::atomic<bool>& cancel, std::int32_t maxMessages = 100000,
                  THeaderCaches* caches = nullptr);
