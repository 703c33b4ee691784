#pragma once

#include "pop3/DateTime.h"

#include <string>
#include <string_view>
#include <vector>

// The message summary helpers: the pieces that the message list's rows (mail/MessageRow) and the
// preview pane (mail/MailPreview) take from fetched headers and preview lines. The row's
// helpers work on raw header text, and their callers decode the results for display
// (DecodeHeaderText); the preview's give display texts.

// "dd/mm/yyyy" of date, with dateSeparator in place of "/", then a blank and the time of the raw
// "Date" header value: its characters 18 to 25 when it has the usual form ("Sun, 06 Dec 2026
// 20:07:05 +0000"), otherwise its first hh:mm:ss or hh:mm, or nothing when it holds no time.
std::string FormatMessageDate(std::string_view header, TDateTime date,
                              std::string_view dateSeparator);

// The date and time of a raw "Date" header value in UTC, as a value that sorts messages by
// when they were written: the day as ParseMessageDate reads it, the first time of day in the
// value (midnight without one) and the zone after that time ("+hhmm", "-hhmm" or a zone name
// of RFC 5322 §4.3; UTC without one). 0, like the day, when the day cannot be read.
TDateTime MessageDateTime(std::string_view header);

// The display name of a "From" value: the text between its first two double quotes, or else the
// text before " <"; empty when neither is there.
std::string ExtractSenderName(std::string_view from);

// The text between the first "<" and the first ">" of a "From" value; empty when there is none.
std::string ExtractSenderAddress(std::string_view from);

// The lines of a message preview (header, empty line, first body lines) to show as the message
// text, as UTF-8. A MIME message shows its first text/plain part, else its HTML part as plain
// text, decoded (MimeBodyText). A message without MIME structure shows its body lines after
// the empty line that ends the header, without leading empty lines and lines that look like
// MIME bookkeeping, up to the first line that announces an application part or HTML.
std::vector<std::string> ExtractBodyText(const std::vector<std::string>& lines);

// The decoded file names of the parts of a message preview, each once (letter case ignored),
// in message order (MimeAttachmentNames); none for a message without MIME structure.
std::vector<std::string> ExtractAttachmentNames(const std::vector<std::string>& lines);

// Text broken for display into lines of at most maxColumns characters (UTF-8 characters, not
// bytes) by inserting CR LF after the last break character that still fits. Text between a pair
// of double or single quotes is not broken, and a line with no place to break stays long.
// Blanks at the start of a new line are dropped; text that fits is returned unchanged.
std::string WrapText(std::string_view text, std::string_view breakChars,
                     std::size_t maxColumns = 80);
