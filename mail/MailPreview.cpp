#include "mail/MailPreview.h"

#include "mail/RecipientText.h"
#include "pop3/Pop3Wire.h"
#include "pop3/Util.h"
#include "pop3/WireMessage.h"
#include "pop3/Wires.h"

#include <algorithm>
#include <exception>

namespace {

// The row that the captured header makes, as a check would list it.
TMessageRow FetchedRow(const TPreviewRequest& request, const std::vector<std::string>& lines)
{
    const auto end = std::find(lines.begin(), lines.end(), std::string());
    TWireMessage header;
    header.ExtractAttachments = false;
    header.SetHeaderLines(std::vector<std::string>(lines.begin(), end));
    return MakeMessageRow(request.Account, request.Row.MessageNumber(), header, -1,
                          request.DateSeparator);
}

} // namespace

std::string PreviewFailedText(const std::string& accountName)
{
    return "ERROR - Message Preview on " + accountName + " failed.";
}

TMessagePreview MakeMessagePreview(const TMessageRow& row, const std::vector<std::string>& lines)
{
    TMessagePreview preview;
    preview.Row = row;
    preview.From = row.From + " <" + row.Address + ">";
    preview.To = ReadableRecipients(row.To);
    preview.ToHint = WrapText(preview.To, " ,;");
    preview.Subject = row.Subject;
    for (const std::string& name : ExtractAttachmentNames(lines)) {
        preview.Attachments.push_back(name);
        if (preview.Attachments.size() > 1)
            preview.AttachmentsText += ", ";
        preview.AttachmentsText += preview.Attachments.back();
    }
    preview.AttachmentsHint = WrapText(preview.AttachmentsText, ",");
    preview.Body = ExtractBodyText(lines);
    return preview;
}

void RetrieveMessagePreview(TWirePOP3& client, const TPreviewRequest& request,
                            IPreviewEvents& events, const std::atomic<bool>& cancel)
{
    TStatusForward status(client, events);
    const std::string& name = request.Account.Data.Name;
    if (!ConnectAccount(client, request.Account.Data, events))
        return;
    if (cancel) {
        CloseSession(client);
        return;
    }
    std::vector<std::string> lines;
    bool captured = false;
    try {
        client.BeginPreview(request.Row.MessageNumber(), request.MessagePreview);
        if (!cancel) {
            lines = client.ReadPreview();
            captured = true;
        }
    } catch (const EWireResponseError&) {
        CloseSession(client);
        events.Failure(PreviewFailedText(name), TFailureReport::LogLine);
        return;
    } catch (const std::exception& error) {
        // A dropped connection or a time-out: the session is over and nothing is shown.
        CloseSession(client);
        events.Failure(error.what(), TFailureReport::StatusText);
        return;
    }
    const TMessageRow fetched = captured ? FetchedRow(request, lines) : request.Row;
    // The number is that of the last check; another client may have changed the mailbox
    // since, and the number may now name another message.
    if (request.CheckIdentity && !SameMessage(request.Row, fetched)) {
        CloseSession(client);
        events.Failure(PreviewFailedText(name), TFailureReport::LogLine);
        return;
    }
    events.ShowPreview(MakeMessagePreview(request.CheckIdentity ? request.Row : fetched, lines));
    CloseSession(client);
}
