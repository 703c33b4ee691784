// Header parsing from arbitrary bytes: the input's lines go through SetHeaderLines, the Date
// reading, every summary helper (the preview's MIME reading among them), the display wrapping
// and DecodeHeaderText. Besides not
// crashing, each step must keep the promises its callers build on.
#include "pop3/HeaderText.h"
#include "pop3/MessageDate.h"
#include "pop3/Util.h"
#include "pop3/WireMessage.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

void Require(bool condition)
{
    if (!condition)
        std::abort();
}

std::vector<std::string> SplitLines(std::string_view input)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < input.size()) {
        std::size_t end = input.find('\n', start);
        if (end == std::string_view::npos)
            end = input.size();
        std::string_view line = input.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        lines.emplace_back(line);
        start = end + 1;
    }
    return lines;
}

bool IsValidUtf8(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = lead < 0x80                    ? 1
                             : lead >= 0xC2 && lead <= 0xDF ? 2
                             : lead >= 0xE0 && lead <= 0xEF ? 3
                             : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                            : 0;
        if (length == 0 || i + length > text.size())
            return false;
        for (std::size_t k = 1; k < length; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
                return false;
        }
        i += length;
    }
    return true;
}

std::string Without(std::string_view text, std::string_view drop)
{
    std::string result;
    for (const char c : text) {
        if (drop.find(c) == std::string_view::npos)
            result += c;
    }
    return result;
}

void CheckDisplayText(std::string_view raw)
{
    const std::string shown = DecodeHeaderText(raw);
    Require(IsValidUtf8(shown));
    Require(std::none_of(shown.begin(), shown.end(),
                         [](char c) { return static_cast<unsigned char>(c) < 0x20; }));
    // Wrapping only adds line breaks and drops blanks at the start of the new lines.
    const std::string wrapped = WrapText(shown, " ,;");
    Require(Without(wrapped, "\r\n ") == Without(shown, "\r\n "));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string> lines = SplitLines(input);

    TWireMessage message;
    message.ExtractAttachments = false;
    message.SetHeaderLines(lines);
    Require(message.Headers().size() <= lines.size());
    for (const auto* list : {&message.Too(), &message.CCList(), &message.Newsgroups()}) {
        for (const std::string& item : *list)
            Require(!item.empty() && static_cast<unsigned char>(item.front()) > ' ' &&
                    static_cast<unsigned char>(item.back()) > ' ');
    }

    const TDateTime date = message.Date();
    int year = 0;
    int month = 0;
    int day = 0;
    Require(DecodeDate(date, year, month, day) && date == static_cast<long>(date));
    const std::string shownDate = FormatMessageDate(message.HeaderValue("Date"), date, "/");
    Require(shownDate.size() >= 11 && shownDate.size() <= 20);
    // A date that reads is a day of the calendar, and its RFC 3339 text has one fixed length.
    if (const std::optional<TMessageDate> read = ReadMessageDate(message.HeaderValue("Date"))) {
        Require(DecodeDate(read->Value(), year, month, day) && day == read->Day);
        const std::string iso = Rfc3339Text(*read);
        Require(iso.empty() || iso.size() == 25);
    }

    const std::string from = message.From();
    CheckDisplayText(ExtractSenderName(from));
    CheckDisplayText(ExtractSenderAddress(from));
    CheckDisplayText(message.Subject());
    for (const std::string& name : ExtractAttachmentNames(lines))
        CheckDisplayText(name);
    // Decoding may make more lines than arrived (base64, HTML), but each is shown as it is:
    // valid UTF-8 without a control character other than the tab.
    for (const std::string& line : ExtractBodyText(lines)) {
        Require(IsValidUtf8(line));
        Require(std::none_of(line.begin(), line.end(), [](char c) {
            return (static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7F;
        }));
    }
    CheckDisplayText(input.substr(0, 4096));
    return 0;
}
