#include "mail/MailDelete.h"

#include "pop3/Pop3Wire.h"
#include "pop3/WireMessage.h"
#include "pop3/Wires.h"

#include <exception>

namespace {

enum class TOutcome
{
    Deleted,
    // The server refused DELE, which a POP3 server does only for a message already gone.
    Skipped,
    Changed
};

TOutcome DeleteIfUnchanged(TWirePOP3& client, const TDeleteItem& item,
                           const std::string& dateSeparator)
{
    const std::int32_t number = item.Row.MessageNumber();
    TWireMessage header;
    header.ExtractAttachments = false;
    try {
        client.RetrieveHeader(number, header);
    } catch (const EWireResponseError&) {
        // The number is beyond the mailbox now: messages before it went since the check.
        return TOutcome::Changed;
    }
    const TMessageRow fetched = MakeMessageRow(item.Account, number, header, -1, dateSeparator);
    if (!SameMessage(item.Row, fetched))
        return TOutcome::Changed;
    return client.Delete(number) ? TOutcome::Deleted : TOutcome::Skipped;
}

} // namespace

std::string MessageChangedText(const std::string& accountName)
{
    return "ERROR - Message on " + accountName + " changed since the last check; not deleted.";
}

void DeleteMessages(TWirePOP3& client, const TDeleteRequest& request, IDeleteEvents& events,
                    const std::atomic<bool>& cancel)
{
    if (request.Items.empty())
        return;
    TStatusForward status(client, events);
    std::string openAccount = request.Items.front().Account.Data.Name;
    if (!ConnectAccount(client, request.Items.front().Account.Data, events))
        return;
    for (const TDeleteItem& item : request.Items) {
        // Nothing after Stop would delete anything; a further session would only keep the
        // user waiting.
        if (cancel)
            break;
        const TAccount& account = item.Account.Data;
        if (account.Name != openAccount) {
            if (client.Connected())
                CloseSession(client);
            openAccount = account.Name;
            ConnectAccount(client, account, events);
        }
        if (!client.Connected())
            continue;
        try {
            switch (DeleteIfUnchanged(client, item, request.DateSeparator)) {
            case TOutcome::Deleted:
                events.Deleted(item.Row);
                break;
            case TOutcome::Changed:
                events.Failure(MessageChangedText(account.Name), TFailureReport::LogLine);
                break;
            case TOutcome::Skipped:
                break;
            }
        } catch (const std::exception& error) {
            // The rest of this account's rows are skipped: its session is gone. The deletions
            // it accepted are lost with it, as a POP3 server carries them out only at QUIT.
            CloseSession(client);
            events.Failure(error.what(), TFailureReport::StatusText);
        }
    }
    if (client.Connected())
        CloseSession(client);
}
