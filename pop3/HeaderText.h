#pragma once

#include <string>
#include <string_view>

// The display form of a raw header text (a Subject, a sender name, an address list, a file
// name), as valid UTF-8:
// - RFC 2047 encoded words ("=?charset?B?...?=", "=?charset?Q?...?=") are decoded from any
//   charset that iconv knows; the blanks between two adjacent encoded words are dropped;
// - a word that is malformed, or whose charset is unknown, is shown as the bytes it decodes to
//   (or as written, when it cannot be decoded at all);
// - other bytes are taken as UTF-8 when they form valid UTF-8, else as Windows-1252;
// - tabs and line breaks become blanks, and other control characters U+FFFD.
std::string DecodeHeaderText(std::string_view text);
