#pragma once

#include "pop3/DateTime.h"

#include <string>
#include <string_view>
#include <vector>

// The message summary helpers: the pieces that the message list's rows (mail/MessageRow) and the
// preview pane (mail/MailPreview) take from fetched headers and preview lines. They work on raw
// header text; their callers decode the results for display (DecodeHeaderText).

// "dd/mm/yyyy" of date, with dateSeparator in place of "/", then a blank and the time of the raw
// "Date" header value: its characters 18 to 25 when it has the usual form ("Sun, 06 Dec 2026
// 20:07:05 +0000"), otherwise its first hh:mm:ss or hh:mm, or nothing when it holds no time.
std::string FormatMessageDate(std::string_view header, TDateTime date,
                              std::string_view dateSeparator);

// The display name of a "From" value: the text between its first two double quotes, or else the
// text before " <"; empty when neither is there.
std::string ExtractSenderName(std::string_view from);

// The text between the first "<" and the first ">" of a "From" value; empty when there is none.
std::string ExtractSenderAddress(std::string_view from);

// The lines of a message preview (header, empty line, first body lines) to show as the message
// text: the body lines after the empty line that ends the header, without leading empty lines and
// MIME bookkeeping lines, up to the first line that announces an application part or HTML.
std::vector<std::string> ExtractBodyText(const std::vector<std::string>& lines);

// The file names named on "Content-" lines of a message preview (quoted, or after "name="), each
// once (letter case ignored), in the order of their lines. Names on folded lines are not found.
std::vector<std::string> ExtractAttachmentNames(const std::vector<std::string>& lines);

// Text broken for display into lines of at most maxColumns characters (UTF-8 characters, not
// bytes) by inserting CR LF after the last break character that still fits. Text between a pair
// of double or single quotes is not broken, and a line with no place to break stays long.
// Blanks at the start of a new line are dropped; text that fits is returned unchanged.
std::string WrapText(std::string_view text, std::string_view breakChars,
                     std::size_t maxColumns = 80);
