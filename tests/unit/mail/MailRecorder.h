#pragma once

#include "mail/MailCheck.h"
#include "mail/MailDelete.h"
#include "mail/MailPreview.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

// Everything a mail operation reported, in order: "S " status text, "EL "/"ES "/"EP " failure
// (log line, status text, already posted), "L " log entry, "A name: reason" failed account,
// "R " listed row, "P" preview shown, "D " deleted row; rows by account name and number. It
// serves as the events of any of the three.
class TMailRecorder : public ICheckEvents, public IPreviewEvents, public IDeleteEvents
{
public:
    void Status(const std::string& text) override;
    void Failure(const std::string& text, TFailureReport report) override;
    void LogEntry(const std::string& text) override;
    void AccountFailed(const std::string& accountName, const std::string& reason) override;
    void ListRow(const TMessageRow& row) override;
    void ShowPreview(const TMessagePreview& preview) override;
    void Deleted(const TMessageRow& row) override;

    // The entries that begin with prefix ("S ", "E", "R "...), in order.
    std::vector<std::string> Only(const std::string& prefix) const;

    std::vector<std::string> Trace;
    int Errors = 0;
    std::vector<TMessageRow> Rows;
    std::optional<TMessagePreview> Shown;
    // Called after the entry is recorded, on the thread of the operation.
    std::function<void(const std::string&)> OnStatus;
    std::function<void(const TMessageRow&)> OnRow;
    std::function<void(const TMessageRow&)> OnDeleted;
};
