#pragma once

#include "gui/MainFrm.h"

#include <QObject>
#include <QPointer>

#include <vector>

class TCheckMailThread;
class TDeleteMsgThread;
class TMailThread;
class TMessageListItem;
class TMsgInfoThread;
struct TMessagePreview;
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
    // The start of RetrieveMessagePreview: Busy, then the worker with a copy of the first
    // selected row and its account.
    void StartPreview();
    // The start of DeleteMessages: Busy, then the worker with a copy of the selected rows and
    // their accounts. The question has been asked already.
    void StartDelete();
    // Stop: cancels every operation under way.
    void Cancel();

    // Longest wait of the workers for a connection and for every read, in milliseconds.
    int Timeout = 60000;
    // The check under way, if any.
    QPointer<TCheckMailThread> CheckThread;
    // The preview under way, if any.
    QPointer<TMsgInfoThread> PreviewThread;
    // The deletion under way, if any.
    QPointer<TDeleteMsgThread> DeleteThread;

private:
    // Hands the worker's status texts and errors to the window and starts it.
    void Launch(TMailThread* thread);
    void AddRow(const TMessageRow& row);
    // The end of CheckMail on the window: totals, summary, notification, Busy cleared.
    void FinishCheck();
    // The tray animation, the mail client and the sound.
    void Notify();
    // The selected message rows in list order.
    std::vector<TMessageListItem*> SelectedRows() const;
    // Fills the preview pane with the texts of a preview.
    void ShowPreview(const TMessagePreview& preview);
    // The end of RetrieveMessagePreview on the window: the completion line, Busy cleared.
    void FinishPreview();
    // The end of DeleteMessages on the window: Busy cleared, then the refreshing check
    // unless the deletion was stopped.
    void FinishDelete(bool cancelled);

    TMainForm& FForm;
};
