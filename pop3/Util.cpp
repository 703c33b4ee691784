#include "pop3/Util.h"

#include "pop3/MimeText.h"
#include "pop3/StrUtils.h"
#include "pop3/WireMessage.h"

#include <algorithm>

namespace {

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool IsLetter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// The form in which characters 18 to 25 are the time: "Sun, 06 Dec 2026 20:07:05 ...".
bool HasUsualDateForm(std::string_view header)
{
    // "A" stands for a letter and "0" for a digit.
    static constexpr std::string_view Form = "AAA, 00 AAA 0000 00:00:00";
    if (header.size() < Form.size())
        return false;
    for (std::size_t i = 0; i < Form.size(); ++i) {
        const char c = header[i];
        const bool fits = Form[i] == 'A' ? IsLetter(c) : Form[i] == '0' ? IsDigit(c) : c == Form[i];
        if (!fits)
            return false;
    }
    return true;
}

// The number of digits at from, counting no further than most.
std::size_t DigitRun(std::string_view text, std::size_t from, std::size_t most)
{
    std::size_t count = 0;
    while (count < most && from + count < text.size() && IsDigit(text[from + count]))
        ++count;
    return count;
}

// The first time of day written h:mm, hh:mm, h:mm:ss or hh:mm:ss that is not part of a longer
// run of digits or of a longer time.
std::string_view FirstTimeOfDay(std::string_view text)
{
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (!IsDigit(text[i]) || (i > 0 && (IsDigit(text[i - 1]) || text[i - 1] == ':')))
            continue;
        const std::size_t hour = DigitRun(text, i, 3);
        if (hour == 0 || hour > 2)
            continue;
        std::size_t end = i + hour;
        if (end >= text.size() || text[end] != ':' || DigitRun(text, end + 1, 3) != 2)
            continue;
        end += 3;
        if (end < text.size() && text[end] == ':' && DigitRun(text, end + 1, 3) == 2)
            end += 3;
        if (end < text.size() && IsDigit(text[end]))
            continue;
        return text.substr(i, end - i);
    }
    return {};
}

std::string ZeroPadded(int value, std::size_t width)
{
    const std::string digits = std::to_string(value);
    return std::string(width - std::min(width, digits.size()), '0') + digits;
}

// RFC 5322 §3.3: the zone after the time, in minutes east of UTC; 0 for "UT", "GMT", a
// military or an unknown zone, or none (§4.3 reads the last two as "-0000").
int ZoneMinutes(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    text.remove_prefix(i);
    if (text.size() >= 5 && (text[0] == '+' || text[0] == '-') && DigitRun(text, 1, 4) == 4) {
        const int minutes =
            ((text[1] - '0') * 10 + (text[2] - '0')) * 60 + (text[3] - '0') * 10 + (text[4] - '0');
        return text[0] == '-' ? -minutes : minutes;
    }
    static constexpr struct
    {
        std::string_view Name;
        int Hours;
    } Zones[] = {{"EST", -5}, {"EDT", -4}, {"CST", -6}, {"CDT", -5},
                 {"MST", -7}, {"MDT", -6}, {"PST", -8}, {"PDT", -7}};
    std::size_t length = 0;
    while (length < text.size() && IsLetter(text[length]))
        ++length;
    const std::string name = UpperCase(text.substr(0, length));
    for (const auto& zone : Zones)
        if (zone.Name == name)
            return zone.Hours * 60;
    return 0;
}

bool IsUtf8Continuation(char c)
{
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

} // namespace

std::string FormatMessageDate(std::string_view header, TDateTime date,
                              std::string_view dateSeparator)
{
    int year = 1899;
    int month = 12;
    int day = 30;
    if (!DecodeDate(date, year, month, day)) {
        year = 1899;
        month = 12;
        day = 30;
    }
    const std::string separator(dateSeparator);
    std::string result = ZeroPadded(day, 2) + separator + ZeroPadded(month, 2) + separator +
                         ZeroPadded(year, 4) + " ";
    // Characters 18 to 25 hold the time only in the usual form; in any other form they hold
    // whatever comes there, so the header's own time is taken instead.
    if (HasUsualDateForm(header))
        result += Copy(header, 18, 8);
    else
        result += FirstTimeOfDay(header);
    return result;
}

std::string ExtractSenderName(std::string_view from)
{
    const std::size_t open = from.find('"');
    if (open != std::string_view::npos) {
        const std::size_t close = from.find('"', open + 1);
        if (close == std::string_view::npos)
            return {};
        return std::string(from.substr(open + 1, close - open - 1));
    }
    const std::size_t angle = from.find(" <");
    if (angle == std::string_view::npos)
        return {};
    return std::string(from.substr(0, angle));
}

std::string ExtractSenderAddress(std::string_view from)
{
    const std::size_t lt = from.find('<');
    const std::size_t gt = from.find('>');
    const long a = lt == std::string_view::npos ? 0 : static_cast<long>(lt) + 1;
    const long b = gt == std::string_view::npos ? 0 : static_cast<long>(gt) + 1;
    return Copy(from, a + 1, b - a - 1);
}

std::vector<std::string> ExtractBodyText(const std::vector<std::string>& lines)
{
    if (IsMimeMessage(lines))
        return MimeBodyText(lines);
    std::vector<std::string> result;
    // The text starts after the empty line that ends the header. Keying it to a "Status" header
    // instead would show nothing from the many servers that add none, and header lines from
    // those that do not put it last.
    auto line = std::find(lines.begin(), lines.end(), std::string());
    if (line == lines.end())
        return result;
    for (++line; line != lines.end(); ++line) {
        const std::string upper = UpperCase(*line);
        if (Contains(upper, "CONTENT-TYPE: APPLICATION") || Contains(upper, "<!DOCTYPE") ||
            Contains(upper, "<HTML>"))
            break;
        const bool bookkeeping = Contains(upper, "MULTI-PART") || Contains(upper, "CONTENT-") ||
                                 Contains(upper, "--BOUNDARY") || Contains(upper, "_NEXTPART_") ||
                                 Contains(upper, "CHARSET=");
        if (!bookkeeping && !(line->empty() && result.empty()))
            result.push_back(BodyLineText(*line));
    }
    return result;
}

std::vector<std::string> ExtractAttachmentNames(const std::vector<std::string>& lines)
{
    // Without MIME structure a message has no parts, so nothing in it is attached.
    if (!IsMimeMessage(lines))
        return {};
    return MimeAttachmentNames(lines);
}

std::string WrapText(std::string_view text, std::string_view breakChars, std::size_t maxColumns)
{
    std::string result;
    std::size_t lineStart = 0;
    while (lineStart < text.size()) {
        std::size_t columns = 0;
        std::size_t lastBreak = std::string_view::npos;
        std::size_t cut = std::string_view::npos;
        std::size_t lineEnd = text.size();
        for (std::size_t i = lineStart; i < text.size(); ++i) {
            const char c = text[i];
            if (c == '\n') {
                // A line break already in the text starts a new line of its own.
                lineEnd = i + 1;
                break;
            }
            bool isBreak = false;
            if (c == '"' || c == '\'') {
                const std::size_t close = text.find(c, i + 1);
                if (close != std::string_view::npos &&
                    text.substr(i, close - i).find('\n') == std::string_view::npos) {
                    // Count the quoted text as one unbreakable piece.
                    for (std::size_t j = i; j < close; ++j)
                        columns += IsUtf8Continuation(text[j]) ? 0 : 1;
                    i = close;
                }
            } else {
                isBreak = breakChars.find(c) != std::string_view::npos;
            }
            if (!IsUtf8Continuation(text[i]))
                ++columns;
            if (columns > maxColumns && (lastBreak != std::string_view::npos || isBreak)) {
                cut = lastBreak != std::string_view::npos ? lastBreak : i;
                break;
            }
            if (isBreak)
                lastBreak = i;
        }
        if (cut == std::string_view::npos) {
            result.append(text.substr(lineStart, lineEnd - lineStart));
            lineStart = lineEnd;
            continue;
        }
        std::size_t next = cut + 1;
        while (next < text.size() && text[next] == ' ')
            ++next;
        if (next >= text.size()) {
            // Only blanks follow: nothing is left to put on a new line.
            result.append(text.substr(lineStart));
            break;
        }
        result.append(text.substr(lineStart, cut + 1 - lineStart));
        result.append("\r\n");
        lineStart = next;
    }
    return result;
}

TDateTime MessageDateTime(std::string_view header)
{
    const TDateTime day = ParseMessageDate(header);
    const std::string_view time = FirstTimeOfDay(header);
    if (day == 0 || time.empty())
        return day;
    int parts[3] = {0, 0, 0};
    std::size_t part = 0;
    for (const char c : time) {
        if (c == ':')
            ++part;
        else
            parts[part] = parts[part] * 10 + (c - '0');
    }
    const auto after = static_cast<std::size_t>(time.data() - header.data()) + time.size();
    const int seconds =
        parts[0] * 3600 + parts[1] * 60 + parts[2] - ZoneMinutes(header.substr(after)) * 60;
    return day + seconds / 86400.0;
}
