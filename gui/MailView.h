#pragma once

#include <cstddef>
#include <vector>

class QString;
struct TAccountFailure;
struct TMailNotice;
struct TMessagePreview;
struct TMessageRow;

// What the mail operations show and ask on the window that started them: the message list, the
// status panels, the tray hint, the preview pane, the action log, the deletion question and the
// announcement of new mail. The main window implements it; the operations' controller sees the
// window only through it.
class IMailView
{
public:
    virtual ~IMailView() = default;

    // Whether the connection setting finds the computer online.
    virtual bool IsOnline() const = 0;

    // The number of rows on the list.
    virtual int MessageCount() const = 0;
    // The selected rows that refer to an account, in list order, copied for an operation.
    virtual std::vector<TMessageRow> SelectedMessages() const = 0;
    // A check starts: the tray icon stops blinking, the list and the status panels are
    // emptied. The selection and an open preview of messages known by their unique ids wait
    // for the rows of the check; any other preview closes.
    virtual void BeginCheck() = 0;
    // Appends a row the check found; a message selected before the check is selected again.
    virtual void AddMessage(const TMessageRow& row) = 0;
    // The check has listed its rows: those at the indexes (in the order they were added) are
    // new and shown so; a preview whose message was not listed again closes.
    virtual void EndCheck(const std::vector<std::size_t>& newRows) = 0;
    // Opens the preview pane with the texts of a preview.
    virtual void ShowPreview(const TMessagePreview& preview) = 0;

    // Panel 0 shows the total, 1 the new count, 2 the latest status text.
    virtual void SetStatusText(int panel, const QString& text) = 0;
    virtual void SetTrayHint(const QString& text) = 0;
    // A status text of the POP3 client: the log, the last status panel and the tray hint.
    virtual void WirePOP3Status(const QString& text) = 0;
    // Appends to the action log while the Log option is on.
    virtual void AddLogEntry(const QString& text) = 0;
    // No connection to check over: the list and the counts are emptied and the window says so.
    virtual void ReportOffline() = 0;

    // Asks before the selected messages are deleted; true for yes.
    virtual bool ConfirmDeletion() = 0;
    // A check found mail to announce: the tray icon blinks, and the mail client starts, the
    // sound plays and the desktop shows a pop-up of the notice's messages as the options say.
    virtual void AnnounceMail(const TMailNotice& notice) = 0;
    // The accounts the check that just ended could not read; none when every account answered.
    virtual void ShowFailedAccounts(const std::vector<TAccountFailure>& failures) = 0;
};
