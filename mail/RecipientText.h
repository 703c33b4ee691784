#pragma once

#include <string>
#include <string_view>
#include <vector>

// The entries of a comma text as CommaText (mail/MessageRow) wrote them: an entry in double
// quotes loses them and its doubled quotes become single again.
std::vector<std::string> SplitCommaText(std::string_view text);

// One raw address item of a header ("Demo User" <demo@example.org>, =?UTF-8?Q?...?= <a@b>,
// a@b) as a person reads it: the decoded name without its quotes and the address in angle
// brackets, or the decoded item when it has no address in angle brackets. A name holding a
// comma or semicolon keeps its quotes, so that a list of items reads unambiguously.
std::string ReadableAddress(std::string_view item);

// A row's To text (comma text of raw address items) as a person reads it: the items made
// readable and joined by ", ".
std::string ReadableRecipients(std::string_view commaText);
