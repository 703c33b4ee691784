#pragma once

#include <string>
#include <string_view>

// The display form of a raw header text (a Subject, a sender name, an address list, a file
// name), as valid UTF-8:
// - RFC 2047 encoded words ("=?charset?B?...?=", "=?charset?Q?...?=") are decoded and converted
//   from any charset that iconv knows, a sequence invalid in it becoming U+FFFD; words in a
//   charset iconv does not know, or labelled UTF-8 or ASCII, are read like raw bytes (below);
//   blanks between two adjacent encoded words are dropped; a word that cannot be decoded (bad
//   base64, an unknown encoding letter) stays as written;
// - raw bytes are taken as UTF-8 when they form valid UTF-8, else as Windows-1252;
// - tabs and line breaks become blanks, and other control characters U+FFFD.
std::string DecodeHeaderText(std::string_view text);

// A text from a server, the store or the system as one line for a terminal or the action log:
// raw bytes taken as above (UTF-8, else Windows-1252), each line break (CR LF, CR or LF) one
// blank, tabs kept, and every other control character (C0, DEL, C1) U+FFFD, so that no escape
// sequence reaches a terminal.
std::string PrintableText(std::string_view text);

// The text of a message body in the named charset (as a Content-Type names it, empty when it
// names none) as valid UTF-8, line ends kept. A charset iconv knows, other than UTF-8 and
// ASCII, is converted, a sequence invalid in it becoming U+FFFD; any other text is read line
// by line as raw bytes, as above. A character cut off at the very end, as a preview's line
// count may cut it, is dropped.
std::string DecodeBodyText(std::string_view bytes, std::string_view charset);
