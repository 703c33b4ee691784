#include "pop3/StrUtils.h"

#include <algorithm>
#include <limits>

namespace {

bool IsTrimmed(char c)
{
    return static_cast<unsigned char>(c) <= ' ';
}

char UpperChar(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

} // namespace

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && IsTrimmed(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsTrimmed(text.back()))
        text.remove_suffix(1);
    return text;
}

std::string UpperCase(std::string_view text)
{
    std::string result(text);
    for (char& c : result)
        c = UpperChar(c);
    return result;
}

bool SameText(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (UpperChar(a[i]) != UpperChar(b[i]))
            return false;
    }
    return true;
}

std::string Copy(std::string_view text, long start, long length)
{
    if (start < 1)
        start = 1;
    const auto size = static_cast<long>(text.size());
    if (start > size || length <= 0)
        return {};
    const long count = std::min(length, size - start + 1);
    return std::string(
        text.substr(static_cast<std::size_t>(start - 1), static_cast<std::size_t>(count)));
}

bool TryParseInt(std::string_view text, int& value)
{
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty())
        return false;
    long long result = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
        result = result * 10 + (c - '0');
        if (result > std::numeric_limits<int>::max())
            return false;
    }
    value = static_cast<int>(negative ? -result : result);
    return true;
}

int HexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

char HexDigit(unsigned value)
{
    return "0123456789ABCDEF"[value & 0x0F];
}

void AppendUtf8(std::string& out, char32_t codePoint)
{
    if (codePoint > 0x10FFFF)
        codePoint = 0xFFFD;
    if (codePoint < 0x80) {
        out += static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
        out += static_cast<char>(0xC0 | (codePoint >> 6));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        out += static_cast<char>(0xE0 | (codePoint >> 12));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (codePoint >> 18));
        out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
}
