#include "MailOperations.h"

#include "app/MailThreads.h"
#include "app/MessageListItem.h"
#include "desktop/LocalTime.h"

#include <QAction>
#include <QFileInfo>
#include <QTime>
#include <QTreeWidget>

TMailOperationsController::TMailOperationsController(TMainForm& form)
    : FForm(form)
{}

TMailOperationsController::~TMailOperationsController()
{
    for (TMailThread* thread : findChildren<TMailThread*>()) {
        disconnect(thread, nullptr, this, nullptr);
        thread->Abort();
        delete thread;
    }
}

TMailOperations TMailOperationsController::Operations()
{
    TMailOperations operations;
    operations.StartCheck = [this] { StartCheck(); };
    operations.Cancel = [this] { Cancel(); };
    return operations;
}

void TMailOperationsController::Cancel()
{
    // A worker that has ended but whose end is still on its way is left alone: Stop reaches
    // only an operation under way.
    for (TMailThread* thread : findChildren<TMailThread*>())
        if (thread->isRunning())
            thread->Cancel();
}

void TMailOperationsController::Launch(TMailThread* thread)
{
    thread->Timeout = Timeout;
    connect(thread, &TMailThread::StatusText, this,
            [this](const QString& text) { FForm.WirePOP3Status(text); });
    connect(thread, &TMailThread::ErrorCounted, this,
            [this](const QString& logLine, const QString& statusText) {
                ++FForm.ErrorCount;
                if (!statusText.isEmpty())
                    FForm.WirePOP3Status(statusText);
                if (!logLine.isEmpty())
                    FForm.AddLogEntry(logLine);
            });
    thread->start();
}

void TMailOperationsController::StartCheck()
{
    FForm.Busy = true;
    FForm.ErrorCount = 0;
    Q_EMIT FForm.TrayAnimationChanged(false);
    FForm.HideMessagePreview();
    FForm.lvNotification->clear();
    for (int panel = 0; panel < TMainForm::StatusPanelCount; ++panel)
        FForm.SetStatusText(panel, {});

    TCheckRequest request;
    for (const std::shared_ptr<TAccount>& account : FForm.Configuration().Accounts)
        request.Accounts.push_back(SnapshotOf(account));
    request.DateSeparator = DateSeparator().toStdString();

    auto* thread = new TCheckMailThread(std::move(request), this);
    connect(thread, &TCheckMailThread::RowReady, this, &TMailOperationsController::AddRow);
    connect(thread, &QThread::finished, this, &TMailOperationsController::FinishCheck);
    CheckThread = thread;
    Launch(thread);
}

void TMailOperationsController::AddRow(const TMessageRow& row)
{
    FForm.lvNotification->addTopLevelItem(new TMessageListItem(row));
}

void TMailOperationsController::FinishCheck()
{
    const int total = FForm.lvNotification->topLevelItemCount();
    int fresh = total - FForm.LastTotal;
    FForm.LastTotal = total;
    if (fresh < 0)
        fresh = 0;
    const QString now = LongTimeText(QTime::currentTime());
    FForm.SetStatusText(0, QStringLiteral("Total: %1").arg(total));
    FForm.SetStatusText(1, QStringLiteral("New: %1").arg(fresh));
    FForm.SetStatusText(2, QStringLiteral("Mail Check completed at %1 with %2 error(s)")
                               .arg(now)
                               .arg(FForm.ErrorCount));
    FForm.SetTrayHint(QStringLiteral("Total: %1, New: %2 at %3").arg(total).arg(fresh).arg(now));
    const bool notify =
        FForm.Configuration().Notification.NotifyOnlyWhenNew ? fresh > 0 : total > 0;
    if (notify)
        Notify();
    FForm.Busy = false;
}

void TMailOperationsController::Notify()
{
    const TNotification& notification = FForm.Configuration().Notification;
    Q_EMIT FForm.TrayAnimationChanged(true);
    if (notification.StartClient)
        FForm.actNotificationStartMailClient->trigger();
    const QFileInfo sound(QString::fromStdString(notification.Sound));
    if (notification.PlaySound && !notification.Sound.empty() && sound.exists() && !sound.isDir() &&
        FForm.lvNotification->topLevelItemCount() > 0)
        Q_EMIT FForm.NotificationSoundRequested(sound.filePath());
}
