#pragma once

#include <string>
#include <string_view>

// Byte-wise text helpers shared by the header parser, the summary helpers and the configuration
// store. Letter case is ASCII only: header names are ASCII, and bytes from 0x80 up are left as
// they are.

// Without leading and trailing blanks and control characters (every byte up to 0x20).
std::string_view Trim(std::string_view text);

std::string UpperCase(std::string_view text);

bool SameText(std::string_view a, std::string_view b);

// Whether upper already holds the upper-case form searched for.
inline bool Contains(std::string_view upper, std::string_view what)
{
    return upper.find(what) != std::string_view::npos;
}

// Substring by 1-based position with clamping: a start before the first character starts at the
// first; a start past the end, or a length of zero or less, gives the empty text.
std::string Copy(std::string_view text, long start, long length);

// A decimal integer with an optional sign and nothing else around it.
bool TryParseInt(std::string_view text, int& value);

// The value of a hexadecimal digit in either letter case; -1 for any other character.
int HexDigitValue(char c);

// The upper-case hexadecimal digit of the low four bits of value.
char HexDigit(unsigned value);

// The UTF-8 bytes of a code point, written as it is (a surrogate too); a value past U+10FFFF
// gives U+FFFD.
void AppendUtf8(std::string& out, char32_t codePoint);
