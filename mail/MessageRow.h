#pragma once

#include "pop3/DateTime.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct TAccount;
struct TAccountSnapshot;
class TWireMessage;

// The display rules of the message list: how a fetched header and size become the texts of a
// row, and how a header fetched again is matched to the row it was listed as.

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
    // Empty for a message without a date, or with one that cannot be read.
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
    // The "Date" header as RFC 3339 text with the header's own offset; empty when the message
    // has no date that can be read, or its zone cannot be told.
    std::string DateIso;
    // The sender's address alone, also when the "From" header is a bare address.
    std::string SenderAddress;
    // The address of each "To" entry alone, in order; entries without one are left out.
    std::vector<std::string> ToList;
    // When the message was written, in UTC, for sorting by date; 0 when its date cannot be read.
    TDateTime Sent = 0;
    // The message's unique id on its server (RFC 1939 UIDL); empty when the server gave none.
    std::string Uid;
    // Whether the header came from the header cache: the id was known before this check.
    bool Cached = false;

    // Text 0 to 8 in the order above; empty for any other index.
    const std::string& Text(int index) const;
    // The message number the row was listed under; 0 when Number holds none.
    std::int32_t MessageNumber() const;
};

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

// The address of one entry of an address list alone: the text between "<" and ">", or a bare
// address (a group's name before it and its closing ";" taken off); empty when the entry holds
// none.
std::string CleanAddress(const std::string& entry);

// What the From column shows of a "From" value: the decoded display name, else the decoded
// address between "<" and ">", else the whole value.
std::string SenderDisplayText(const std::string& from);
