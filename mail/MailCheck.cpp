#include "mail/MailCheck.h"

#include "mail/HeaderCache.h"
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
                         request.MaxMessages, request.Caches);
    }
}

namespace {

// The rows of the account's messages, in message order, until the session is lost or the user
// stops the check. With the ids and sizes of the index, the headers the cache holds are taken
// from it and only the others are asked for; without them every header and size is asked for.
// Returns whether every message was listed.
bool ListMessages(TWirePOP3& client, const TAccountSnapshot& account, std::int32_t count,
                  bool pipelined, const TMailboxIndex& index, THeaderCache* cache,
                  const std::string& dateSeparator, ICheckEvents& events,
                  const std::atomic<bool>& cancel, bool& lost)
{
    const bool indexed = !index.Uids.empty() && !index.Sizes.empty();
    const auto uidOf = [&index](std::int32_t n) {
        return index.Uids.empty() ? std::string() : index.Uids[static_cast<std::size_t>(n - 1)];
    };
    const auto known = [&](std::int32_t n) {
        return indexed && cache != nullptr ? cache->Find(uidOf(n)) : nullptr;
    };
    std::vector<std::int32_t> asked;
    for (std::int32_t n = 1; n <= count; ++n)
        if (known(n) == nullptr)
            asked.push_back(n);
    client.StartListing(std::move(asked), !indexed, pipelined);
    TWireMessage message;
    std::int32_t n = 1;
    for (; n <= count && !lost && !cancel; ++n) {
        message.Clear();
        message.ExtractAttachments = false;
        std::int32_t size = indexed ? index.Sizes[static_cast<std::size_t>(n - 1)] : -1;
        bool cached = false;
        if (const TCachedHeader* header = known(n)) {
            client.PostListedMessage();
            header->FillMessage(message);
            cached = true;
        } else {
            const TListedMessage listed = client.ListNext(message);
            if (indexed)
                client.DoStatus("Retrieving size");
            else
                size = listed.Size;
            if (cache != nullptr && listed.HeaderComplete)
                cache->Put(uidOf(n), TCachedHeader::Of(message));
        }
        TMessageRow row = MakeMessageRow(account, n, message, size, dateSeparator);
        row.Uid = uidOf(n);
        row.Cached = cached;
        events.ListRow(row);
        lost = !client.Connected();
    }
    try {
        // After Stop, replies of commands sent ahead may still be on the way.
        client.EndListing();
    } catch (const std::exception&) {
        // The user stopped the check: a session failing now ends as it would anyway.
    }
    return n > count && !lost;
}

} // namespace

void CheckAccount(TWirePOP3& client, const TAccountSnapshot& account,
                  const std::string& dateSeparator, ICheckEvents& events,
                  const std::atomic<bool>& cancel, std::int32_t maxMessages, THeaderCaches* caches)
{
    TStatusForward status(client, events);
    if (!ConnectAccount(client, account.Data, events, true))
        return;
    // The sizes of the listing post their own failures and go on; only a session that is gone
    // afterwards (a time-out drops it) makes one of them an error of the run.
    bool lost = false;
    bool failed = false;
    std::string failure;
    std::string reason;
    std::int32_t count = 0;
    THeaderCache* cache = nullptr;
    try {
        // A mailbox that cannot be counted is a failure, never "no messages": the next good
        // check would announce every message as new.
        count = client.CountMessages();
        const std::int32_t listed = std::min(count, std::max(maxMessages, 0));
        // The capabilities came with the log-in; a server that refused CAPA is checked one
        // command at a time.
        const bool pipelined =
            listed >= 2 && !cancel && TWirePOP3::AllowsPipelining(client.Capabilities());
        TMailboxIndex index;
        // A listing of more lines than a reply may hold would end the session.
        if (listed > 0 && !cancel && static_cast<std::size_t>(count) < client.MaxResponseLines)
            index = client.ReadIndex(count, pipelined);
        cache = !index.Uids.empty() && caches != nullptr ? &caches->For(account.Data) : nullptr;
        const bool whole = ListMessages(client, account, listed, pipelined, index, cache,
                                        dateSeparator, events, cancel, lost);
        // Ids no longer listed are gone from the server; a stopped or cut listing tells
        // nothing of the messages it did not reach.
        if (cache != nullptr && whole && listed == count)
            cache->KeepOnly(index.Uids);
    } catch (const std::exception& error) {
        failed = true;
        failure = error.what();
        reason = FailureReason(account.Data, error);
    }
    const std::string lastStatus = status.Last();
    CloseSession(client);
    // The cache is only a cache: a file that cannot be written leaves the check as it was.
    if (cache != nullptr)
        cache->Save();
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
