#include "gui/MailOperations.h"

#include "gui/MailThreads.h"
#include "gui/MessageListItem.h"

#include "desktop/LocalTime.h"

#include <QAction>
#include <QFileInfo>
#include <QLabel>
#include <QPlainTextEdit>
#include <QStringDecoder>
#include <QTextCursor>
#include <QTime>
#include <QTreeWidget>

namespace {

// A body line as received: UTF-8 when it is valid UTF-8, else Windows-1252 as the headers.
QString BodyLineText(const std::string& line)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8(QByteArrayView(line.data(), static_cast<qsizetype>(line.size())));
    if (!utf8.hasError())
        return text;
    QStringDecoder windows("windows-1252");
    if (!windows.isValid())
        return QString::fromLatin1(line.data(), static_cast<qsizetype>(line.size()));
    return windows(QByteArrayView(line.data(), static_cast<qsizetype>(line.size())));
}

} // namespace

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
    operations.StartPreview = [this] { StartPreview(); };
    operations.StartDelete = [this] { StartDelete(); };
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

std::vector<TMessageListItem*> TMailOperationsController::SelectedRows() const
{
    std::vector<TMessageListItem*> rows;
    for (int index = 0; index < FForm.lvNotification->topLevelItemCount(); ++index) {
        QTreeWidgetItem* item = FForm.lvNotification->topLevelItem(index);
        TMessageListItem* row = TMessageListItem::Of(item);
        if (item->isSelected() && row != nullptr && row->Account())
            rows.push_back(row);
    }
    return rows;
}

void TMailOperationsController::StartPreview()
{
    FForm.Busy = true;
    FForm.ErrorCount = 0;
    const std::vector<TMessageListItem*> selected = SelectedRows();
    if (selected.empty()) {
        FForm.Busy = false;
        return;
    }
    TPreviewRequest request;
    request.Row = selected.front()->Row();
    request.Account = SnapshotOf(request.Row.Account);
    request.MessagePreview = FForm.Configuration().ApplicationSettings.MessagePreview;
    request.DateSeparator = DateSeparator().toStdString();

    auto* thread = new TMsgInfoThread(std::move(request), this);
    connect(thread, &TMsgInfoThread::PreviewReady, this, &TMailOperationsController::ShowPreview);
    connect(thread, &QThread::finished, this, &TMailOperationsController::FinishPreview);
    PreviewThread = thread;
    Launch(thread);
}

void TMailOperationsController::ShowPreview(const TMessagePreview& preview)
{
    FForm.ShowMessagePreview();
    FForm.lblFrom->setText(QString::fromStdString(preview.From));
    FForm.lblTo->setText(QString::fromStdString(preview.To));
    FForm.lblTo->setToolTip(QString::fromStdString(preview.ToHint));
    FForm.lblSubject->setText(QString::fromStdString(preview.Subject));
    const bool attachments = !preview.Attachments.empty();
    FForm.lblAttachments->setText(QString::fromStdString(preview.AttachmentsText));
    FForm.lblAttachments->setToolTip(QString::fromStdString(preview.AttachmentsHint));
    FForm.lblAttachmentsTitle->setVisible(attachments);
    FForm.lblAttachments->setVisible(attachments);
    FForm.LayoutMessagePreviewTitle();

    QStringList body;
    for (const std::string& line : preview.Body)
        body.append(BodyLineText(line));
    FForm.memMessage->clear();
    FForm.memMessage->setPlainText(body.join(u'\n'));
    QTextCursor caret = FForm.memMessage->textCursor();
    caret.movePosition(QTextCursor::Start);
    FForm.memMessage->setTextCursor(caret);
    FForm.memMessage->ensureCursorVisible();
}

void TMailOperationsController::FinishPreview()
{
    FForm.SetStatusText(2, QStringLiteral("Message Preview completed at %1 with %2 error(s)")
                               .arg(LongTimeText(QTime::currentTime()))
                               .arg(FForm.ErrorCount));
    FForm.Busy = false;
}

void TMailOperationsController::StartDelete()
{
    FForm.Busy = true;
    FForm.ErrorCount = 0;
    const std::vector<TMessageListItem*> selected = SelectedRows();
    if (selected.empty()) {
        FForm.Busy = false;
        return;
    }
    TDeleteRequest request;
    for (const TMessageListItem* row : selected)
        request.Items.push_back({SnapshotOf(row->Account()), row->Row()});
    request.DateSeparator = DateSeparator().toStdString();

    auto* thread = new TDeleteMsgThread(std::move(request), this);
    connect(thread, &TDeleteMsgThread::MessageDeleted, this, [this] { --FForm.LastTotal; });
    const QPointer<TDeleteMsgThread> worker = thread;
    connect(thread, &QThread::finished, this,
            [this, worker] { FinishDelete(worker.isNull() || worker->Cancelled()); });
    DeleteThread = thread;
    Launch(thread);
}

void TMailOperationsController::FinishDelete(bool cancelled)
{
    FForm.Busy = false;
    if (!cancelled)
        FForm.actNotificationCheckNowExecute();
}
