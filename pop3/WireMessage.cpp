#include "pop3/WireMessage.h"

#include "pop3/StrUtils.h"

#include <algorithm>
#include <array>

namespace {

std::string_view NameOf(std::string_view entry, bool& hasName)
{
    const std::size_t equals = entry.find('=');
    hasName = equals != std::string_view::npos;
    return hasName ? entry.substr(0, equals) : std::string_view();
}

int IndexOfName(const std::vector<std::string>& entries, std::string_view name)
{
    for (std::size_t i = 0; i < entries.size(); ++i) {
        bool hasName = false;
        const std::string_view entryName = NameOf(entries[i], hasName);
        if (hasName && SameText(entryName, name))
            return static_cast<int>(i);
    }
    return -1;
}

bool IsFoldBlank(char c)
{
    return c == ' ' || c == '\t';
}

// RFC 5322 §2.2: the field name ends at the first colon, and the blank after it is optional;
// "Subject:Hello" is as much a Subject as "Subject: Hello".
std::string NewEntry(std::string line)
{
    const std::size_t colon = line.find(':');
    if (colon == std::string::npos)
        return line;
    const bool blank =
        colon + 1 < line.size() && (line[colon + 1] == ' ' || line[colon + 1] == '\t');
    line.replace(colon, blank ? 2 : 1, "=");
    return line;
}

// A day or year written with blanks before it (as in "Sun,  6 Dec 2026") still counts.
bool TryParseDateNumber(std::string_view text, int& value)
{
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    return TryParseInt(text, value);
}

// RFC 5322 §3.3: the day name ends at its comma, and the blank after the comma is optional
// ("Thu,13 Feb 2025"). What follows the name, its comma and any blanks.
std::string_view AfterDayName(std::string_view text)
{
    std::size_t end = 0;
    while (end < text.size() &&
           ((text[end] >= 'A' && text[end] <= 'Z') || (text[end] >= 'a' && text[end] <= 'z')))
        ++end;
    if (end < text.size() && text[end] == ',')
        ++end;
    while (end < text.size() && IsFoldBlank(text[end]))
        ++end;
    return text.substr(end);
}

template <std::size_t N>
int IndexIn(const std::array<std::string_view, N>& names, std::string_view name)
{
    for (std::size_t i = 0; i < N; ++i) {
        if (names[i] == name)
            return static_cast<int>(i);
    }
    return -1;
}

} // namespace

void TWireMessage::Clear()
{
    FHeaders.clear();
    FText.clear();
    FToo.clear();
    FCCList.clear();
    FBCCList.clear();
    FNewsgroups.clear();
    DefaultDomain.clear();
    MsgNo = 0;
}

void TWireMessage::SetHeaderLines(std::vector<std::string> lines)
{
    FHeaders = JoinFoldedLines(std::move(lines));
    FToo = SplitAddressList(HeaderValue("To"));
    FCCList = SplitAddressList(HeaderValue("Cc"));
    FNewsgroups = SplitAddressList(HeaderValue("Newsgroups"));
    const std::string title = HeaderValue("Title");
    if (!title.empty()) {
        SetHeaderValue("Subject", title);
        SetHeaderValue("Title", "");
    }
}

std::string TWireMessage::HeaderValue(std::string_view name) const
{
    const int index = IndexOfName(FHeaders, name);
    if (index < 0)
        return {};
    const std::string& entry = FHeaders[static_cast<std::size_t>(index)];
    return entry.substr(entry.find('=') + 1);
}

void TWireMessage::SetHeaderValue(std::string_view name, std::string_view value)
{
    const int index = IndexOfName(FHeaders, name);
    if (value.empty()) {
        if (index >= 0)
            FHeaders.erase(FHeaders.begin() + index);
        return;
    }
    std::string entry = std::string(name) + "=" + std::string(value);
    if (index >= 0)
        FHeaders[static_cast<std::size_t>(index)] = std::move(entry);
    else
        FHeaders.push_back(std::move(entry));
}

TDateTime TWireMessage::Date() const
{
    return ParseMessageDate(HeaderValue("Date"));
}

std::vector<std::string> JoinFoldedLines(std::vector<std::string> lines)
{
    std::vector<std::string> entries;
    entries.reserve(lines.size());
    for (std::string& line : lines) {
        if (line.empty() || !IsFoldBlank(line.front())) {
            entries.push_back(NewEntry(std::move(line)));
            continue;
        }
        std::string& continuation = line;
        for (char& c : continuation) {
            if (c == '\t')
                c = ' ';
        }
        const std::string_view text = Trim(continuation);
        if (entries.empty()) {
            // A header that begins with a folded line has nothing to continue; keeping the text
            // as an entry of its own loses nothing.
            entries.push_back(NewEntry(std::string(text)));
            continue;
        }
        entries.back() += ' ';
        entries.back() += text;
    }
    return entries;
}

std::vector<std::string> SplitAddressList(std::string_view value)
{
    std::vector<std::string> items;
    std::size_t start = 0;
    int quotes = 0;
    const auto take = [&](std::size_t end) {
        const std::string_view item = Trim(value.substr(start, end - start));
        if (!item.empty())
            items.emplace_back(item);
    };
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '"') {
            ++quotes;
        } else if (value[i] == ',' && quotes != 1) {
            take(i);
            start = i + 1;
            quotes = 0;
        }
    }
    take(value.size());
    return items;
}

TDateTime ParseMessageDate(std::string_view value)
{
    static constexpr std::array<std::string_view, 7> Days = {"SUN", "MON", "TUE", "WED",
                                                             "THU", "FRI", "SAT"};
    static constexpr std::array<std::string_view, 12> Months = {
        "JAN", "FEB", "MAR", "APR", "MAY", "JUN", "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};

    std::string_view text = Trim(value);
    if (text.empty())
        return 0;
    if (IndexIn(Days, UpperCase(text.substr(0, 3))) >= 0)
        text = AfterDayName(text);

    // Positions below count from 1.
    long monthPos = 3;
    long dayLength = 1;
    if (text.size() >= 2 && text[1] >= '0' && text[1] <= '9') {
        monthPos = 4;
        dayLength = 2;
    }
    int day = 1;
    if (!TryParseDateNumber(Copy(text, 1, dayLength), day))
        day = 1;

    const int monthIndex = IndexIn(Months, UpperCase(Copy(text, monthPos, 3)));
    const int month = monthIndex >= 0 ? monthIndex + 1 : 1;

    const auto length = static_cast<long>(text.size());
    const bool shortYear =
        length < monthPos + 6 || text[static_cast<std::size_t>(monthPos + 6 - 1)] == ' ';
    int year = 1900;
    if (!TryParseDateNumber(Copy(text, monthPos + 4, shortYear ? 2 : 4), year))
        year = 1900;
    if (year < 80)
        year += 2000;
    else if (year < 100)
        year += 1900;

    TDateTime result = 0;
    if (!TryEncodeDate(year, month, day, result))
        return 0;
    return result;
}
