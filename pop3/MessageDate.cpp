#include "pop3/MessageDate.h"

#include "pop3/StrUtils.h"

#include <array>
#include <cstdio>
#include <vector>

namespace {

bool IsDigits(std::string_view text)
{
    if (text.empty())
        return false;
    for (const char c : text)
        if (c < '0' || c > '9')
            return false;
    return true;
}

int Number(std::string_view digits)
{
    int value = 0;
    for (const char c : digits)
        value = value * 10 + (c - '0');
    return value;
}

// The words of the value, comments (RFC 5322 §3.2.2, nested) and commas taken out.
std::vector<std::string> Words(std::string_view value)
{
    std::vector<std::string> words;
    std::string word;
    int depth = 0;
    const auto end = [&] {
        if (!word.empty())
            words.push_back(std::move(word));
        word.clear();
    };
    for (const char c : value) {
        if (c == '(') {
            ++depth;
            end();
        } else if (c == ')' && depth > 0) {
            --depth;
        } else if (depth > 0) {
            continue;
        } else if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == ',') {
            end();
        } else {
            word += c;
        }
    }
    end();
    return words;
}

bool IsDayName(const std::string& word)
{
    static constexpr std::array<std::string_view, 7> Days = {
        "SUNDAY", "MONDAY", "TUESDAY", "WEDNESDAY", "THURSDAY", "FRIDAY", "SATURDAY"};
    const std::string upper = UpperCase(word);
    for (const std::string_view day : Days)
        if (upper.size() >= 3 && day.substr(0, upper.size()) == upper)
            return true;
    return false;
}

int MonthOf(const std::string& word)
{
    static constexpr std::array<std::string_view, 12> Months = {
        "JAN", "FEB", "MAR", "APR", "MAY", "JUN", "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
    const std::string upper = UpperCase(word);
    for (std::size_t index = 0; index < Months.size(); ++index)
        if (upper == Months[index])
            return static_cast<int>(index) + 1;
    return 0;
}

// "hh:mm" or "hh:mm:ss".
bool ReadTime(const std::string& word, TMessageDate& date)
{
    const std::size_t first = word.find(':');
    if (first == std::string::npos)
        return false;
    const std::size_t second = word.find(':', first + 1);
    const std::string_view text(word);
    const std::string_view hour = text.substr(0, first);
    const std::string_view minute = text.substr(
        first + 1, second == std::string::npos ? std::string::npos : second - first - 1);
    const std::string_view seconds =
        second == std::string::npos ? std::string_view("0") : text.substr(second + 1);
    if (!IsDigits(hour) || hour.size() > 2 || !IsDigits(minute) || minute.size() != 2 ||
        !IsDigits(seconds) || seconds.size() > 2)
        return false;
    date.Hour = Number(hour);
    date.Minute = Number(minute);
    date.Second = Number(seconds);
    // A leap second is 60.
    return date.Hour <= 23 && date.Minute <= 59 && date.Second <= 60;
}

void ReadZone(const std::string& word, TMessageDate& date)
{
    date.Zone = TMessageDate::TZone::Unknown;
    if (word.size() == 5 && (word[0] == '+' || word[0] == '-') && IsDigits(word.substr(1))) {
        const int hours = Number(std::string_view(word).substr(1, 2));
        const int minutes = Number(std::string_view(word).substr(3, 2));
        if (hours > 23 || minutes > 59)
            return;
        if (word == "-0000") {
            date.Zone = TMessageDate::TZone::UtcOffsetUnknown;
            return;
        }
        date.Zone = TMessageDate::TZone::Offset;
        date.OffsetMinutes = (word[0] == '-' ? -1 : 1) * (hours * 60 + minutes);
        return;
    }
    // RFC 5322 §4.3: the obsolete zone names.
    struct TNamedZone
    {
        const char* Name;
        int Hours;
    };
    static constexpr TNamedZone Named[] = {{"UT", 0},   {"GMT", 0},  {"EST", -5}, {"EDT", -4},
                                           {"CST", -6}, {"CDT", -5}, {"MST", -7}, {"MDT", -6},
                                           {"PST", -8}, {"PDT", -7}};
    const std::string upper = UpperCase(word);
    for (const TNamedZone& zone : Named) {
        if (upper == zone.Name) {
            date.Zone = TMessageDate::TZone::Offset;
            date.OffsetMinutes = zone.Hours * 60;
            return;
        }
    }
    if (upper.size() == 1 && upper[0] >= 'A' && upper[0] <= 'Z' && upper[0] != 'J')
        date.Zone = TMessageDate::TZone::UtcOffsetUnknown;
}

} // namespace

TDateTime TMessageDate::Value() const
{
    TDateTime value = 0;
    TryEncodeDate(Year, Month, Day, value);
    return value;
}

std::optional<TMessageDate> ReadMessageDate(std::string_view value)
{
    const std::vector<std::string> words = Words(value);
    std::size_t next = 0;
    if (next < words.size() && IsDayName(words[next]))
        ++next;
    if (words.size() < next + 4)
        return std::nullopt;
    TMessageDate date;
    const std::string& day = words[next];
    const std::string& year = words[next + 2];
    date.Month = MonthOf(words[next + 1]);
    if (!IsDigits(day) || day.size() > 2 || date.Month == 0 || !IsDigits(year) || year.size() < 2)
        return std::nullopt;
    date.Day = Number(day);
    date.Year = year.size() > 4 ? 0 : Number(year);
    // RFC 5322 §4.3: two digits 00 to 49 are 2000 to 2049, other two- and three-digit years
    // count from 1900.
    if (year.size() == 2)
        date.Year += date.Year < 50 ? 2000 : 1900;
    else if (year.size() == 3)
        date.Year += 1900;
    TDateTime days = 0;
    if (!TryEncodeDate(date.Year, date.Month, date.Day, days) || !ReadTime(words[next + 3], date))
        return std::nullopt;
    if (words.size() > next + 4)
        ReadZone(words[next + 4], date);
    return date;
}

std::string Rfc3339Text(const TMessageDate& date)
{
    if (date.Zone == TMessageDate::TZone::Unknown)
        return {};
    const bool west = date.Zone == TMessageDate::TZone::UtcOffsetUnknown || date.OffsetMinutes < 0;
    const int offset = date.OffsetMinutes < 0 ? -date.OffsetMinutes : date.OffsetMinutes;
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d", date.Year,
                  date.Month, date.Day, date.Hour, date.Minute, date.Second, west ? '-' : '+',
                  offset / 60, offset % 60);
    return text;
}
