#include "mail/MessageRow.h"

#include "mail/MailSession.h"
#include "pop3/HeaderText.h"
#include "pop3/MessageDate.h"
#include "pop3/StrUtils.h"
#include "pop3/Util.h"
#include "pop3/WireMessage.h"

#include <optional>

const std::string& TMessageRow::Text(int index) const
{
    static const std::string none;
    switch (index) {
    case 0:
        return AccountName;
    case 1:
        return From;
    case 2:
        return Subject;
    case 3:
        return Date;
    case 4:
        return Size;
    case 5:
        return To;
    case 6:
        return Address;
    case 7:
        return Number;
    case 8:
        return MessageId;
    default:
        return none;
    }
}

std::int32_t TMessageRow::MessageNumber() const
{
    int number = 0;
    return TryParseInt(Number, number) && number > 0 ? number : 0;
}

TMessageRow MakeMessageRow(const TAccountSnapshot& account, std::int32_t number,
                           const TWireMessage& header, std::int32_t size,
                           const std::string& dateSeparator)
{
    const std::string from = header.From();
    TMessageRow row;
    row.Account = account.Record;
    row.AccountName = account.Data.Name;
    row.From = SenderDisplayText(from);
    row.Subject = DecodeHeaderText(header.Subject());
    const std::string date = header.HeaderValue("Date");
    // A day of 1899 or 1900 would be read as a date; a message without one shows none.
    if (const std::optional<TMessageDate> read = ReadMessageDate(date)) {
        row.Date = FormatMessageDate(date, read->Value(), dateSeparator);
        row.DateIso = Rfc3339Text(*read);
    }
    row.Size = SizeText(size);
    row.To = CommaText(header.Too());
    row.Address = ExtractSenderAddress(from);
    row.Number = std::to_string(number);
    row.MessageId = header.MsgID();
    row.SizeBytes = size;
    row.SenderAddress = CleanAddress(from);
    for (const std::string& entry : header.Too()) {
        std::string address = CleanAddress(entry);
        if (!address.empty())
            row.ToList.push_back(std::move(address));
    }
    row.Sent = MessageDateTime(header.HeaderValue("Date"));
    return row;
}

bool SameMessage(const TMessageRow& listed, const TMessageRow& fetched)
{
    if (!listed.MessageId.empty() || !fetched.MessageId.empty())
        return listed.MessageId == fetched.MessageId;
    return listed.From == fetched.From && listed.Date == fetched.Date &&
           listed.Subject == fetched.Subject;
}

// In whole numbers: (size + 512) / 1024 with its remainder decides, so that no floating-point
// rounding mode can move a tie.
std::int64_t Kilobytes(std::int64_t size)
{
    const std::int64_t shifted = size + 512;
    std::int64_t quotient = shifted / 1024;
    std::int64_t remainder = shifted % 1024;
    if (remainder < 0) {
        remainder += 1024;
        --quotient;
    }
    if (remainder > 512 || (remainder == 512 && quotient % 2 != 0))
        ++quotient;
    return quotient;
}

std::string SizeText(std::int64_t size)
{
    return std::to_string(Kilobytes(size)) + " KB";
}

std::string CommaText(const std::vector<std::string>& entries)
{
    if (entries.size() == 1 && entries.front().empty())
        return "\"\"";
    std::string result;
    for (std::size_t index = 0; index < entries.size(); ++index) {
        const std::string& entry = entries[index];
        if (index > 0)
            result += ',';
        bool quote = false;
        for (const char c : entry) {
            const auto byte = static_cast<unsigned char>(c);
            quote = quote || byte <= 0x20 || byte == 0x7F || c == ',' || c == '"';
        }
        if (!quote) {
            result += entry;
            continue;
        }
        result += '"';
        for (const char c : entry) {
            if (c == '"')
                result += '"';
            result += c;
        }
        result += '"';
    }
    return result;
}

std::string CleanAddress(const std::string& entry)
{
    const std::size_t open = entry.find('<');
    const std::size_t close = entry.find('>', open == std::string::npos ? 0 : open);
    if (open != std::string::npos && close != std::string::npos)
        return std::string(Trim(std::string_view(entry).substr(open + 1, close - open - 1)));
    std::string_view text = Trim(entry);
    // RFC 5322 §3.4: "Team: a@example.org, b@example.org;" is split at the commas.
    const std::size_t colon = text.find(':');
    if (colon != std::string_view::npos &&
        text.substr(0, colon).find('@') == std::string_view::npos)
        text = Trim(text.substr(colon + 1));
    if (!text.empty() && text.back() == ';')
        text = Trim(text.substr(0, text.size() - 1));
    const bool bare = text.find('@') != std::string_view::npos &&
                      text.find_first_of(" \t\"<>()") == std::string_view::npos;
    return bare ? std::string(text) : std::string();
}

std::string SenderDisplayText(const std::string& from)
{
    std::string name = DecodeHeaderText(ExtractSenderName(from));
    if (!Trim(name).empty())
        return name;
    const std::string address = ExtractSenderAddress(from);
    if (!address.empty())
        return DecodeHeaderText(address);
    return DecodeHeaderText(Trim(from));
}
