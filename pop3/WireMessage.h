#pragma once

#include "pop3/DateTime.h"

#include <string>
#include <string_view>
#include <vector>

// One received mail message: its header lines as name=value entries and the fields derived.
class TWireMessage
{
public:
    using TStrings = std::vector<std::string>;

    TWireMessage() = default;
    virtual ~TWireMessage() = default;
    TWireMessage(const TWireMessage&) = default;
    TWireMessage& operator=(const TWireMessage&) = default;

    // Empties every list and sets MsgNo to 0; ExtractAttachments, UseNowForDate, ContentType and
    // NoDecode keep their values, since the caller sets them once for many messages.
    virtual void Clear();

    // Replaces Headers with the captured header lines (without the empty line that ends them):
    // joins folded lines, fills Too, CCList and Newsgroups, and moves a "Title" to "Subject".
    void SetHeaderLines(std::vector<std::string> lines);

    const TStrings& Headers() const { return FHeaders; }
    // The value of the first entry of that name in any letter case; empty when there is none.
    std::string HeaderValue(std::string_view name) const;
    // A non-empty value replaces the first entry of that name or is appended; the empty value
    // deletes the first entry of that name.
    void SetHeaderValue(std::string_view name, std::string_view value);

    std::string From() const { return HeaderValue("From"); }
    void SetFrom(std::string_view value) { SetHeaderValue("From", value); }
    std::string Organization() const { return HeaderValue("Organization"); }
    void SetOrganization(std::string_view value) { SetHeaderValue("Organization", value); }
    std::string References() const { return HeaderValue("References"); }
    void SetReferences(std::string_view value) { SetHeaderValue("References", value); }
    std::string ReplyTo() const { return HeaderValue("Reply-To"); }
    void SetReplyTo(std::string_view value) { SetHeaderValue("Reply-To", value); }
    std::string Subject() const { return HeaderValue("Subject"); }
    void SetSubject(std::string_view value) { SetHeaderValue("Subject", value); }
    std::string MsgID() const { return HeaderValue("Message-ID"); }
    void SetMsgID(std::string_view value) { SetHeaderValue("Message-ID", value); }

    // The calendar date of the "Date" header at midnight; 0 when it is missing or unreadable.
    // The time of day and the zone are not read. Never throws.
    TDateTime Date() const;

    const TStrings& Too() const { return FToo; }
    const TStrings& CCList() const { return FCCList; }
    const TStrings& BCCList() const { return FBCCList; }
    const TStrings& Newsgroups() const { return FNewsgroups; }
    const TStrings& Text() const { return FText; }

    int MsgNo = 0;
    bool ExtractAttachments = true;
    bool UseNowForDate = true;
    bool NoDecode = false;
    std::string ContentType = "text/plain";
    std::string DefaultDomain;

private:
    TStrings FHeaders;
    TStrings FToo;
    TStrings FCCList;
    TStrings FBCCList;
    TStrings FNewsgroups;
    TStrings FText;
};

// Header lines joined as on the receiving path: a line starting with a blank or tab continues
// the entry before it (tabs made blanks, trimmed, joined by one blank); every other line becomes
// an entry with its first colon, and one blank or tab after it, turned into "=".
std::vector<std::string> JoinFoldedLines(std::vector<std::string> lines);

// One header value split at the commas that are outside a quoted part of an item; items are
// trimmed, empty ones dropped; quotes and angle brackets stay in the items.
std::vector<std::string> SplitAddressList(std::string_view value);

// The date of a "Date" header value by the reading rules of TWireMessage::Date.
TDateTime ParseMessageDate(std::string_view value);
