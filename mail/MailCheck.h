#pragma once

#include "mail/MailSession.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class TWireMessage;
class TWirePOP3;

// One message of the message list, as the check lists it. Texts 0 to 4 are the columns
// Account, From, Subject, Date and Size; 5 to 8 are kept for the preview and the deletion.
struct TMessageRow
{
    static constexpr int TextCount = 9;

    // The account's record, which the row refers to without owning it.
    std::shared_ptr<TAccount> Account;
    std::string AccountName;
    // The sender's decoded display name, or the sender's address when the name is empty.
    std::string From;
    // The decoded subject.
    std::string Subject;
    std::string Date;
    std::string Size;
    // The addresses of the "To" header as comma text, raw.
    std::string To;
    // The text between "<" and ">" of the "From" header, raw.
    std::string Address;
    std::string Number;
    // The "Message-ID" header, raw; empty when the message has none.
    std::string MessageId;
    // The size in octets; -1 when the server did not tell it.
    std::int32_t SizeBytes = -1;

    // Text 0 to 8 in the order above; empty for any other index.
    const std::string& Text(int index) const;
};

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
};

// One run over the included accounts, in order, listing the messages of each. The cancel
// flag is seen before each account and before each message; the account under way then
// closes its session normally and no later account is visited. Never throws.
void CheckMail(TWirePOP3& client, const TCheckRequest& request, ICheckEvents& events,
               const std::atomic<bool>& cancel);

// The session with one account. An error after the log-in (a dropped connection, a
// time-out, a header the server refuses) closes the session and counts one error, whose text
// is posted as a status; the rows listed before it stay.
void CheckAccount(TWirePOP3& client, const TAccountSnapshot& account,
                  const std::string& dateSeparator, ICheckEvents& events,
                  const std::atomic<bool>& cancel);

// The row of message number of the account, from its fetched header and size.
TMessageRow MakeMessageRow(const TAccountSnapshot& account, std::int32_t number,
                           const TWireMessage& header, std::int32_t size,
                           const std::string& dateSeparator);

// Whether a header fetched now belongs to the message a row lists: the same Message-ID, or,
// when neither has one, the same From, Date and Subject texts.
bool SameMessage(const TMessageRow& listed, const TMessageRow& fetched);

// size / 1024 + 0.5 rounded to the nearest integer, ties to the even one: 1024 bytes are 2,
// 2048 bytes are 2 as well, and an unknown size (-1) is 0.
std::int64_t Kilobytes(std::int64_t size);
// Kilobytes followed by " KB".
std::string SizeText(std::int64_t size);

// The entries joined by commas; an entry holding a blank, a control character, a comma or a
// double quote is enclosed in double quotes with its own double quotes doubled. A list of one
// empty entry gives two double quotes.
std::string CommaText(const std::vector<std::string>& entries);

// What the From column shows of a "From" value: the decoded display name, else the decoded
// address between "<" and ">", else the whole value.
std::string SenderDisplayText(const std::string& from);
