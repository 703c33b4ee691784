#pragma once

#include <string>
#include <string_view>
#include <vector>

// The beginning of a message as a MIME reader sees it. The lines are those a preview
// captures: the header, the empty line and the first body lines, which may end anywhere in
// a part. The MIME library stays inside this unit.

// Whether the header (the lines before the first empty one) has a MIME-Version, Content-Type
// or Content-Transfer-Encoding field.
bool IsMimeMessage(const std::vector<std::string>& lines);

// The text of the first text/plain part that is not an attachment and not empty, else of the
// first such text/html part turned into plain text: transfer encoding decoded, charset converted to
// UTF-8, control characters other than tabs made U+FFFD, without empty lines at the start and
// the end. A part cut off gives what arrived of it; an encoded unit cut in two is dropped.
std::vector<std::string> MimeBodyText(const std::vector<std::string>& lines);

// The file names of the parts, in message order: the Content-Disposition filename, else the
// Content-Type name, with RFC 2231 and RFC 2047 forms decoded (raw 8-bit bytes as UTF-8, else
// Windows-1252) and blanks trimmed; an empty name is left out, and a name equal to one before
// it (letter case ignored) too. Attached messages count as one part; their own parts are
// theirs.
std::vector<std::string> MimeAttachmentNames(const std::vector<std::string>& lines);

// A line of text as the preview shows it: a control character other than a tab made U+FFFD.
std::string ShownLine(std::string_view line);

// A body line of a message without MIME structure as the preview shows it: its raw bytes read
// as UTF-8 when they are valid UTF-8, else as Windows-1252, then as ShownLine.
std::string BodyLineText(std::string_view line);
