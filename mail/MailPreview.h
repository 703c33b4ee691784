#pragma once

#include "mail/MailCheck.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

class TWirePOP3;

// Everything a preview needs, copied from the row and the options before it starts.
struct TPreviewRequest
{
    TAccountSnapshot Account;
    // The row as the last check listed it; its Message-ID (else From, Date and Subject) must
    // still match what the server sends under its number.
    TMessageRow Row;
    // False when no check listed the message (the command line names it by its number alone):
    // nothing is compared, and the pane's texts come from the header the server sends.
    bool CheckIdentity = true;
    // The number of body lines to ask for.
    std::int32_t MessagePreview = 50;
    // As for the check that made the row, so that dates compare equal.
    std::string DateSeparator = "/";
};

// What the preview pane shows, as display texts.
struct TMessagePreview
{
    // The row whose message this is.
    TMessageRow Row;
    // The sender's name, a blank and the address in angle brackets.
    std::string From;
    // The To list as a person reads it, and the same broken into lines for its hint.
    std::string To;
    std::string ToHint;
    std::string Subject;
    // The decoded attachment names, in order; none hides the caption and the value.
    std::vector<std::string> Attachments;
    // The names joined by ", ", and the same broken into lines for its hint.
    std::string AttachmentsText;
    std::string AttachmentsHint;
    // The text to show, line by line in UTF-8; empty when Stop came before it was read.
    std::vector<std::string> Body;
};

// What a preview reports besides status texts and errors.
class IPreviewEvents : public IMailEvents
{
public:
    virtual void ShowPreview(const TMessagePreview& preview) = 0;
};

// "ERROR - Message Preview on " + name + " failed."
std::string PreviewFailedText(const std::string& accountName);

// The pane's texts for a row and the lines captured from the server.
TMessagePreview MakeMessagePreview(const TMessageRow& row, const std::vector<std::string>& lines);

// The session that fetches the header and the first body lines of the row's message. A
// refused TOP, or an answer that belongs to another message than the row's, is one error
// logged as PreviewFailedText and shows nothing. Stop before TOP fetches nothing; Stop after
// the server accepted it shows the row's texts with an empty body. Never throws.
void RetrieveMessagePreview(TWirePOP3& client, const TPreviewRequest& request,
                            IPreviewEvents& events, const std::atomic<bool>& cancel);
