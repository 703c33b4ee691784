#include "tests/unit/mail/MailRecorder.h"

void TMailRecorder::Status(const std::string& text)
{
    Trace.push_back("S " + text);
    if (OnStatus)
        OnStatus(text);
}

void TMailRecorder::Failure(const std::string& text, TFailureReport report)
{
    const char* kind = report == TFailureReport::LogLine      ? "EL "
                       : report == TFailureReport::StatusText ? "ES "
                                                              : "EP ";
    Trace.push_back(kind + text);
    ++Errors;
}

void TMailRecorder::LogEntry(const std::string& text)
{
    Trace.push_back("L " + text);
}

void TMailRecorder::AccountFailed(const std::string& accountName, const std::string& reason)
{
    Trace.push_back("A " + accountName + ": " + reason);
}

void TMailRecorder::ListRow(const TMessageRow& row)
{
    Trace.push_back("R " + row.AccountName + " " + row.Number);
    Rows.push_back(row);
    if (OnRow)
        OnRow(row);
}

void TMailRecorder::ShowPreview(const TMessagePreview& preview)
{
    Trace.push_back("P");
    Shown = preview;
}

void TMailRecorder::Deleted(const TMessageRow& row)
{
    Trace.push_back("D " + row.AccountName + " " + row.Number);
    if (OnDeleted)
        OnDeleted(row);
}

std::vector<std::string> TMailRecorder::Only(const std::string& prefix) const
{
    std::vector<std::string> entries;
    for (const std::string& entry : Trace)
        if (entry.rfind(prefix, 0) == 0)
            entries.push_back(entry);
    return entries;
}
