#pragma once

#include "app/MainFrm.h"

#include <QObject>
#include <QPointer>

class TCheckMailThread;
class TMailThread;
struct TMessageRow;

// Starts the window's mail operations on their workers and applies what the workers report to
// the window, on the window's thread: rows, status texts, errors, totals, notification, Busy.
class TMailOperationsController : public QObject
{
    Q_OBJECT

public:
    explicit TMailOperationsController(TMainForm& form);
    // Aborts the workers still running and waits for them; nothing of theirs reaches the
    // window any more.
    ~TMailOperationsController() override;

    // The operations for TMainForm::SetMailOperations.
    TMailOperations Operations();

    // The start of CheckMail on the window (Busy, the list and the status bar emptied), then
    // the worker with a copy of the accounts.
    void StartCheck();
    // Stop: cancels every operation under way.
    void Cancel();

    // Longest wait of the workers for a connection and for every read, in milliseconds.
    int Timeout = 60000;
    // The check under way, if any.
    QPointer<TCheckMailThread> CheckThread;

private:
    // Hands the worker's status texts and errors to the window and starts it.
    void Launch(TMailThread* thread);
    void AddRow(const TMessageRow& row);
    // The end of CheckMail on the window: totals, summary, notification, Busy cleared.
    void FinishCheck();
    // The tray animation, the mail client and the sound.
    void Notify();

    TMainForm& FForm;
};
