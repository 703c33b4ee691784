#include "mail/MailDelete.h"

#include "pop3/Pop3Wire.h"
#include "pop3/WireMessage.h"
#include "pop3/Wires.h"

#include <exception>
#include <set>
#include <vector>

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

// The rows whose DELE the open session's server accepted; a POP3 server carries them out only
// when the session ends with QUIT, so they count as deleted only then.
class TAcceptedDeletions
{
public:
    explicit TAcceptedDeletions(IDeleteEvents& events)
        : FEvents(events)
    {}

    void Add(const TMessageRow& row) { FRows.push_back(row); }

    // Closes the session; the accepted deletions are reported when QUIT went out, and
    // forgotten when the session was already gone (Stop breaks it off).
    void EndSession(TWirePOP3& client)
    {
        bool quitSent = false;
        try {
            client.Disconnect();
            quitSent = true;
        } catch (const std::exception&) {
            // The server rolls back what it had accepted.
        }
        if (quitSent)
            for (const TMessageRow& row : FRows)
                FEvents.Deleted(row);
        FRows.clear();
    }

    // The session died before QUIT: the server keeps every message.
    void Forget() { FRows.clear(); }

private:
    IDeleteEvents& FEvents;
    std::vector<TMessageRow> FRows;
};

// A subject as a question quotes it: cut to a length that fits a message box.
std::string QuotedSubject(const std::string& subject)
{
    constexpr std::size_t MostCharacters = 60;
    if (subject.empty())
        return "(no subject)";
    std::size_t characters = 0;
    for (std::size_t index = 0; index < subject.size(); ++index) {
        // A UTF-8 character starts at every byte that does not continue one.
        if ((static_cast<unsigned char>(subject[index]) & 0xC0) == 0x80)
            continue;
        if (++characters > MostCharacters)
            return subject.substr(0, index) + "\xE2\x80\xA6";
    }
    return subject;
}

} // namespace

std::string DeletionQuestion(const std::vector<TMessageRow>& rows)
{
    std::set<std::string> accounts;
    for (const TMessageRow& row : rows)
        accounts.insert(row.AccountName);
    if (rows.size() == 1)
        return "Delete 1 message (\"" + QuotedSubject(rows.front().Subject) + "\") from " +
               rows.front().AccountName + "? It is removed from the server.";
    const std::string count = "Delete " + std::to_string(rows.size()) + " messages from ";
    if (accounts.size() == 1)
        return count + *accounts.begin() + "? They are removed from the server.";
    return count + std::to_string(accounts.size()) +
           " accounts? They are removed from their servers.";
}

std::string DeletedText(const TMessageRow& row)
{
    return "Deleted message " + row.Number + " (\"" + row.Subject + "\") on " + row.AccountName +
           ".";
}

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
    TAcceptedDeletions accepted(events);
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
                accepted.EndSession(client);
            openAccount = account.Name;
            ConnectAccount(client, account, events);
        }
        if (!client.Connected())
            continue;
        try {
            switch (DeleteIfUnchanged(client, item, request.DateSeparator)) {
            case TOutcome::Deleted:
                accepted.Add(item.Row);
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
            accepted.Forget();
            CloseSession(client);
            events.Failure(error.what(), TFailureReport::StatusText);
        }
    }
    if (client.Connected())
        accepted.EndSession(client);
}
