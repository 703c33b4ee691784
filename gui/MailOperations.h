#pragma once

#include "mail/CheckOutcome.h"
#include "mail/HeaderCache.h"

#include <QObject>
#include <QPointer>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

class IMailView;
class QString;
class TCheckMailThread;
class TDeleteMsgThread;
class TMailThread;
class TMsgInfoThread;
struct TConfiguration;
struct TMessagePreview;
struct TMessageRow;

// The window's three mail operations, as the start guard tells them apart.
enum class TMailOperation
{
    Check,
    Preview,
    Delete
};

// What the controller runs once its start guard has let an operation through: its own workers,
// unless SetOperations replaced them (tests count the starts instead).
struct TMailOperations
{
    std::function<void()> StartCheck;
    std::function<void()> StartPreview;
    std::function<void()> StartDelete;
    // Asks every operation under way to stop at its next check point.
    std::function<void()> Cancel;
};

// Runs the window's mail operations: decides whether one may start, starts it on a worker of
// its own and applies what the worker reports to the view, on the view's thread. Busy,
// ErrorCount and LastTotal are its state; the window is reached only through IMailView.
class TMailOperationsController : public QObject
{
    Q_OBJECT

public:
    // The configuration gives the accounts, the options and the check timer; it and the view
    // outlive the controller.
    TMailOperationsController(IMailView& view, TConfiguration& configuration,
                              QObject* parent = nullptr);
    // Aborts the workers still running and waits for them; nothing of theirs reaches the
    // view any more.
    ~TMailOperationsController() override;

    // Check Now: a check when one may start. The check timer counts its interval afresh
    // afterwards in every case, also when interval checking was off before.
    void CheckNow();
    // Message Preview of the first selected row, when one may start.
    void PreviewMessage();
    // Delete Message(s): when one may start and, after the user said yes, still may, the
    // selected rows are deleted; a deletion that was not stopped is followed by a refreshing
    // check.
    void DeleteSelected();
    // Stop: cancels every operation under way, breaking off its connection at once; the log
    // says that it was stopped when it ends.
    void Stop();

    // The start guard of all three operations: online, not Busy, and for the preview and the
    // deletion a selected row that refers to an account. Being offline is reported on the
    // view.
    bool MayStart(TMailOperation operation);

    void SetOperations(TMailOperations operations);

    // An operation is under way; no other starts until it has ended.
    bool Busy = false;
    // The errors of the operation under way, or of the last one.
    std::int32_t ErrorCount = 0;
    // For the accounts whose server gives no unique ids: their rows at the last check, less the
    // messages deleted since; a check reports what it finds beyond it as new. A message with
    // an id is new when the last check of its account did not list that id.
    std::int32_t LastTotal = 0;
    // Longest wait of the workers for a connection and for every read, in milliseconds.
    int Timeout = 60000;
    // The check under way, if any.
    QPointer<TCheckMailThread> CheckThread;
    // The preview under way, if any.
    QPointer<TMsgInfoThread> PreviewThread;
    // The deletion under way, if any.
    QPointer<TDeleteMsgThread> DeleteThread;

Q_SIGNALS:
    // An operation started or ended: Busy may have changed.
    void BusyChanged(bool busy);

private:
    // Busy, the view emptied, then the worker with a copy of the accounts; with no account
    // included, the view says so instead.
    void StartCheck();
    // Busy, then the worker with a copy of the first selected row and its account; nothing
    // without a selected row.
    void StartPreview();
    // Busy, then the worker with a copy of the selected rows and their accounts; nothing
    // without a selected row.
    void StartDelete();
    void Cancel();
    void RestartCheckTimer();
    // Hands the worker's status texts and errors to the view and starts it.
    void Launch(TMailThread* thread);
    // Totals, summary, announcement, Busy cleared.
    void FinishCheck();
    // The completion line, Busy cleared.
    void FinishPreview();
    // The log line of an operation that Stop ended.
    void LogStopped(const TMailThread* thread, const QString& text);
    // Busy cleared, then the refreshing check unless the deletion was stopped.
    void FinishDelete(bool cancelled);
    static QString Now();

    // The rows of the check that just ended that are new, as indexes into FCheckRows; the ids
    // remembered for the next check are brought up to date.
    std::vector<std::size_t> NewRows(bool stopped);

    IMailView& FView;
    TConfiguration& FConfiguration;
    // The headers of the messages listed before, shared with the check under way.
    std::shared_ptr<THeaderCaches> FHeaderCaches;
    // The ids each mailbox (MailboxKey) listed at its last check.
    std::map<std::string, std::set<std::string>> FListedUids;
    TMailOperations FOperations;
    // What the check under way has listed and which accounts it could not read.
    std::vector<TMessageRow> FCheckRows;
    std::vector<TAccountFailure> FFailedAccounts;
};
