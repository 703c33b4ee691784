#include "mail/MailCheck.h"

#include "pop3/HeaderText.h"
#include "pop3/Pop3Wire.h"
#include "pop3/StrUtils.h"
#include "pop3/Util.h"
#include "pop3/WireMessage.h"

#include <exception>

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

void CheckMail(TWirePOP3& client, const TCheckRequest& request, ICheckEvents& events,
               const std::atomic<bool>& cancel)
{
    for (const TAccountSnapshot& account : request.Accounts) {
        if (cancel)
            break;
        if (account.Data.Include)
            CheckAccount(client, account, request.DateSeparator, events, cancel);
    }
}

namespace {

// Messages whose commands may be on the way at once when the server allows pipelining: enough
// to hide the round trips, few enough that neither side's buffers can fill up.
constexpr std::int32_t PipelineWindow = 32;

void ListRow(TWirePOP3& client, const TAccountSnapshot& account, std::int32_t number,
             const TWireMessage& message, std::int32_t size, const std::string& dateSeparator,
             ICheckEvents& events, bool& lost)
{
    events.ListRow(MakeMessageRow(account, number, message, size, dateSeparator));
    lost = !client.Connected();
}

// One message after the other, each command's reply read before the next command goes out.
void ListOneByOne(TWirePOP3& client, const TAccountSnapshot& account, std::int32_t count,
                  const std::string& dateSeparator, ICheckEvents& events,
                  const std::atomic<bool>& cancel, bool& lost)
{
    TWireMessage message;
    for (std::int32_t number = 1; number <= count && !lost && !cancel; ++number) {
        message.Clear();
        message.ExtractAttachments = false;
        client.RetrieveHeader(number, message);
        const std::int32_t size = client.RetrieveSize(number);
        ListRow(client, account, number, message, size, dateSeparator, events, lost);
    }
}

// The same rows, status texts and failures as ListOneByOne, with the TOP and LIST commands of
// up to PipelineWindow messages sent ahead of the replies, which are read in order.
void ListPipelined(TWirePOP3& client, const TAccountSnapshot& account, std::int32_t count,
                   const std::string& dateSeparator, ICheckEvents& events,
                   const std::atomic<bool>& cancel, bool& lost)
{
    // TOP has gone out for messages 1 to headersSent, LIST for 1 to sizesSent. A failed write
    // stops the sending; its failure shows at the message whose command it was, as it would
    // have one command at a time.
    std::int32_t headersSent = 0;
    std::int32_t sizesSent = 0;
    std::exception_ptr sendError;
    std::string sendErrorText;
    std::int32_t number = 1;
    TWireMessage message;
    for (; number <= count && !lost && !cancel; ++number) {
        while (!sendError && sizesSent < count && sizesSent < number - 1 + PipelineWindow) {
            try {
                if (headersSent == sizesSent) {
                    client.RequestHeader(headersSent + 1);
                    ++headersSent;
                }
                client.RequestSize(sizesSent + 1);
                ++sizesSent;
            } catch (const std::exception& error) {
                sendError = std::current_exception();
                sendErrorText = error.what();
            }
        }
        // A write that dropped the connection took the replies not yet read with it; its own
        // failure says why, not the closed socket the next read would meet.
        if (sendError && (number > headersSent || !client.Connected()))
            std::rethrow_exception(sendError);
        message.Clear();
        message.ExtractAttachments = false;
        client.ReadHeader(message);
        std::int32_t size = -1;
        if (number <= sizesSent)
            size = client.ReadSize();
        else
            client.DoStatus(sendErrorText);
        ListRow(client, account, number, message, size, dateSeparator, events, lost);
    }
    if (lost || !client.Connected())
        return;
    // After Stop the replies still on the way are read without a trace, so that the session
    // ends in step with the server rather than with unread replies ahead of QUIT.
    try {
        for (; number <= headersSent; ++number) {
            client.SkipHeader();
            if (number <= sizesSent)
                client.SkipSize();
        }
    } catch (const std::exception&) {
        // The user stopped the check: a session failing now ends as it would anyway.
    }
}

} // namespace

void CheckAccount(TWirePOP3& client, const TAccountSnapshot& account,
                  const std::string& dateSeparator, ICheckEvents& events,
                  const std::atomic<bool>& cancel)
{
    TStatusForward status(client, events);
    if (!ConnectAccount(client, account.Data, events))
        return;
    // CheckMessages and RetrieveSize post their own failures and go on; only a session that
    // is gone afterwards makes one of them an error of the run.
    bool lost = false;
    bool failed = false;
    std::string failure;
    try {
        const std::int32_t count = client.CheckMessages();
        lost = !client.Connected();
        // CAPA posts no status text; a server that refuses it is checked one command at a time.
        if (count >= 2 && !lost && !cancel && TWirePOP3::AllowsPipelining(client.Capabilities()))
            ListPipelined(client, account, count, dateSeparator, events, cancel, lost);
        else
            ListOneByOne(client, account, count, dateSeparator, events, cancel, lost);
    } catch (const std::exception& error) {
        failed = true;
        failure = error.what();
    }
    const std::string lastStatus = status.Last();
    CloseSession(client);
    if (failed)
        events.Failure(failure, TFailureReport::StatusText);
    else if (lost)
        events.Failure(lastStatus, TFailureReport::AlreadyPosted);
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
