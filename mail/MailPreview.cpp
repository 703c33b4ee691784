#include "mail/MailPreview.h"

#include "pop3/HeaderText.h"
#include "pop3/Pop3Wire.h"
#include "pop3/Util.h"
#include "pop3/WireMessage.h"
#include "pop3/Wires.h"

#include <algorithm>
#include <exception>

namespace {

// Whether the captured header is that of the row's message.
bool SameAsListed(const TPreviewRequest& request, const std::vector<std::string>& lines)
{
    const auto end = std::find(lines.begin(), lines.end(), std::string());
    TWireMessage header;
    header.ExtractAttachments = false;
    header.SetHeaderLines(std::vector<std::string>(lines.begin(), end));
    const TMessageRow fetched =
        MakeMessageRow(request.Account, 0, header, -1, request.DateSeparator);
    return SameMessage(request.Row, fetched);
}

} // namespace

std::string PreviewFailedText(const std::string& accountName)
{
    return "ERROR - Message Preview on " + accountName + " failed.";
}

TMessagePreview MakeMessagePreview(const TMessageRow& row, const std::vector<std::string>& lines)
{
    TMessagePreview preview;
    preview.From = row.From + " <" + row.Address + ">";
    preview.To = DecodeHeaderText(row.To);
    preview.ToHint = WrapText(preview.To, " ,;");
    preview.Subject = row.Subject;
    for (const std::string& name : ExtractAttachmentNames(lines)) {
        preview.Attachments.push_back(DecodeHeaderText(name));
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
    // The number is that of the last check; another client may have changed the mailbox
    // since, and the number may now name another message.
    if (captured && !SameAsListed(request, lines)) {
        CloseSession(client);
        events.Failure(PreviewFailedText(name), TFailureReport::LogLine);
        return;
    }
    events.ShowPreview(MakeMessagePreview(request.Row, lines));
    CloseSession(client);
}
