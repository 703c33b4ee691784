#pragma once

#include "mail/MessageRow.h"

#include <cstdint>
#include <string>
#include <vector>

// What a finished check announces about the mail it found.
struct TMailNotice
{
    // How many messages the notice is about.
    std::int32_t Count = 0;
    // New messages ("N new messages"), or the messages waiting when nothing is new.
    bool New = true;
    // The rows of those messages, in list order.
    std::vector<TMessageRow> Messages;
};

// One account the check could not read, with the reason in the user's words.
struct TAccountFailure
{
    std::string Account;
    std::string Reason;
    bool operator==(const TAccountFailure&) const = default;
};

// The notice of a check that listed rows, fresh of them beyond the previous check's total:
// the last fresh rows as the new ones; with nothing new, every row as waiting, which is
// announced only while notifyOnlyWhenNew is off. newRows, when given, names the new messages
// instead of the last rows (indexes into rows).
TMailNotice MakeMailNotice(const std::vector<TMessageRow>& rows, std::int32_t fresh);
TMailNotice MakeMailNotice(const std::vector<TMessageRow>& rows,
                           const std::vector<std::size_t>& newRows);
