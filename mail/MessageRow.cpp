#include "mail/MessageRow.h"

#include "mail/MailSession.h"
#include "pop3/HeaderText.h"
#include "pop3/StrUtils.h"
#include "pop3/Util.h"
#include "pop3/WireMessage.h"

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
    row.Date = FormatMessageDate(header.HeaderValue("Date"), header.Date(), dateSeparator);
    row.Size = SizeText(size);
    row.To = CommaText(header.Too());
    row.Address = ExtractSenderAddress(from);
    row.Number = std::to_string(number);
    row.MessageId = header.MsgID();
    row.SizeBytes = size;
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
