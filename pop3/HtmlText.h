#pragma once

#include <string>
#include <string_view>

// HTML as a reader of plain text sees it, for a message whose only text is HTML: tags dropped
// (with the contents of head, script and style), character references decoded, blanks
// collapsed as a browser collapses them except inside pre, block elements and br as line
// breaks (paragraphs, headings, lists and tables with an empty line around them, list items
// with a leading "- "), and lines longer than 78 characters broken at blanks. The input is
// UTF-8; a tag or comment cut off at the end, as a preview's line count may cut it, is
// dropped. Lines end with LF.
std::string HtmlToText(std::string_view html);

// The charset an HTML text declares in a meta element (charset="..." or the content type's
// charset parameter), empty when it declares none; only the first 2048 bytes are searched,
// where the head is.
std::string HtmlCharset(std::string_view html);
