#include "mail/MailCheck.h"

#include "pop3/Pop3Wire.h"
#include "pop3/WireMessage.h"

#include <algorithm>
#include <exception>

void CheckMail(TWirePOP3& client, const TCheckRequest& request, ICheckEvents& events,
               const std::atomic<bool>& cancel)
{
    for (const TAccountSnapshot& account : request.Accounts) {
        if (cancel)
            break;
        if (account.Data.Include)
            CheckAccount(client, account, request.DateSeparator, events, cancel,
                         request.MaxMessages);
    }
}

namespace {

// The rows of the account's messages, in message order, until the session is lost or the user
// stops the check.
void ListMessages(TWirePOP3& client, const TAccountSnapshot& account, std::int32_t count,
                  bool pipelined, const std::string& dateSeparator, ICheckEvents& events,
                  const std::atomic<bool>& cancel, bool& lost)
{
    client.StartListing(count, pipelined);
    TWireMessage message;
    while (client.ListingPending() && !lost && !cancel) {
        message.Clear();
        message.ExtractAttachments = false;
        const TListedMessage listed = client.ListNext(message);
        events.ListRow(MakeMessageRow(account, listed.Number, message, listed.Size, dateSeparator));
        lost = !client.Connected();
    }
    try {
        // After Stop, replies of commands sent ahead may still be on the way.
        client.EndListing();
    } catch (const std::exception&) {
        // The user stopped the check: a session failing now ends as it would anyway.
    }
}

} // namespace

void CheckAccount(TWirePOP3& client, const TAccountSnapshot& account,
                  const std::string& dateSeparator, ICheckEvents& events,
                  const std::atomic<bool>& cancel, std::int32_t maxMessages)
{
    TStatusForward status(client, events);
    if (!ConnectAccount(client, account.Data, events))
        return;
    // The sizes of the listing post their own failures and go on; only a session that is gone
    // afterwards (a time-out drops it) makes one of them an error of the run.
    bool lost = false;
    bool failed = false;
    std::string failure;
    std::string reason;
    std::int32_t count = 0;
    try {
        // A mailbox that cannot be counted is a failure, never "no messages": the next good
        // check would announce every message as new.
        count = client.CountMessages();
        const std::int32_t listed = std::min(count, std::max(maxMessages, 0));
        // CAPA posts no status text; a server that refuses it is checked one command at a time.
        const bool pipelined =
            listed >= 2 && !cancel && TWirePOP3::AllowsPipelining(client.Capabilities());
        ListMessages(client, account, listed, pipelined, dateSeparator, events, cancel, lost);
    } catch (const std::exception& error) {
        failed = true;
        failure = error.what();
        reason = FailureReason(account.Data, error);
    }
    const std::string lastStatus = status.Last();
    CloseSession(client);
    if (failed) {
        events.Failure(failure, TFailureReport::StatusText);
    } else if (lost) {
        events.Failure(lastStatus, TFailureReport::AlreadyPosted);
        reason = FailureReason(account.Data, lastStatus);
    } else if (count > maxMessages && !cancel) {
        reason = account.Data.Name + " holds " + std::to_string(count) +
                 " messages; only the first " + std::to_string(maxMessages) + " are listed.";
        events.Failure(reason, TFailureReport::StatusText);
    }
    if (!reason.empty())
        events.AccountFailed(account.Data.Name, reason);
}
