#pragma once

#include "mail/MailCheck.h"

#include <atomic>
#include <string>
#include <vector>

class TWirePOP3;

// One selected row of a deletion, with its account copied when the deletion starts.
struct TDeleteItem
{
    TAccountSnapshot Account;
    TMessageRow Row;
};

// Everything a deletion needs, copied before it starts.
struct TDeleteRequest
{
    // The selected rows in list order.
    std::vector<TDeleteItem> Items;
    // As for the check that made the rows, so that dates compare equal.
    std::string DateSeparator = "/";
};

// What a deletion reports besides status texts and errors.
class IDeleteEvents : public IMailEvents
{
public:
    // The row's message is deleted: its server accepted DELE and the session ended with QUIT
    // (LastTotal goes down by one).
    virtual void Deleted(const TMessageRow& row) = 0;
};

// The question asked before the rows' messages are deleted, naming what goes:
// "Delete 1 message (\"Subject\") from Home? It is removed from the server.",
// "Delete 3 messages from Home? They are removed from the server.",
// "Delete 3 messages from 2 accounts? They are removed from their servers."
std::string DeletionQuestion(const std::vector<TMessageRow>& rows);

// The log line of a deletion: "Deleted message " + number + " (\"" + subject + "\") on " +
// account + ".".
std::string DeletedText(const TMessageRow& row);

// "ERROR - Message on " + name + " changed since the last check; not deleted."
std::string MessageChangedText(const std::string& accountName);

// Deletes the messages of the rows, one session per run of rows of one account. When the
// first row's account cannot be reached nothing is deleted anywhere; a later account that
// cannot be reached only loses its own rows. Before each DELE the message's header is fetched
// again: a number that now names another message, or no message at all, is not deleted and is
// one error, logged as MessageChangedText; a refused DELE is skipped silently. A dropped
// connection or a time-out ends that account's session with one error whose text is posted.
// The deletions a session's server accepted are reported when the session ends with QUIT;
// those of a session lost before (a dropped connection, Stop breaking it off) are not, as the
// server keeps those messages. Stop deletes nothing more and opens no further session. Never
// throws.
void DeleteMessages(TWirePOP3& client, const TDeleteRequest& request, IDeleteEvents& events,
                    const std::atomic<bool>& cancel);
