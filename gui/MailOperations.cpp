#include "gui/MailOperations.h"

#include "desktop/LocalTime.h"
#include "desktop/TrayIcon.h"
#include "gui/AccountFailures.h"
#include "gui/MailThreads.h"
#include "gui/MailView.h"
#include "mail/CheckSummary.h"

#include <QString>
#include <QTime>

#include <algorithm>
#include <utility>
#include <vector>

TMailOperationsController::TMailOperationsController(IMailView& view, TConfiguration& configuration,
                                                     QObject* parent)
    : QObject(parent)
    , FView(view)
    , FConfiguration(configuration)
    , FHeaderCaches(std::make_shared<THeaderCaches>())
{
    FOperations.StartCheck = [this] { StartCheck(); };
    FOperations.StartPreview = [this] { StartPreview(); };
    FOperations.StartDelete = [this] { StartDelete(); };
    FOperations.Cancel = [this] { Cancel(); };
}

TMailOperationsController::~TMailOperationsController()
{
    for (TMailThread* thread : findChildren<TMailThread*>()) {
        disconnect(thread, nullptr, this, nullptr);
        thread->Abort();
        delete thread;
    }
}

void TMailOperationsController::SetOperations(TMailOperations operations)
{
    FOperations = std::move(operations);
}

bool TMailOperationsController::MayStart(TMailOperation operation)
{
    if (!FView.IsOnline()) {
        FView.ReportOffline();
        return false;
    }
    if (Busy)
        return false;
    return operation == TMailOperation::Check || !FView.SelectedMessages().empty();
}

void TMailOperationsController::CheckNow()
{
    if (MayStart(TMailOperation::Check) && FOperations.StartCheck)
        FOperations.StartCheck();
    RestartCheckTimer();
}

void TMailOperationsController::PreviewMessage()
{
    if (MayStart(TMailOperation::Preview) && FOperations.StartPreview)
        FOperations.StartPreview();
}

// The question waits for the user while the timers run on: a check may have started, or the
// connection gone, by the time the answer comes, so the guard decides once more.
void TMailOperationsController::DeleteSelected()
{
    if (MayStart(TMailOperation::Delete) && FView.ConfirmDeletion() &&
        MayStart(TMailOperation::Delete) && FOperations.StartDelete)
        FOperations.StartDelete();
}

void TMailOperationsController::Stop()
{
    if (FOperations.Cancel)
        FOperations.Cancel();
}

void TMailOperationsController::Cancel()
{
    // A worker that has ended but whose end is still on its way is left alone: Stop reaches
    // only an operation under way.
    for (TMailThread* thread : findChildren<TMailThread*>())
        if (thread->isRunning())
            thread->Cancel();
}

void TMailOperationsController::RestartCheckTimer()
{
    FConfiguration.Notification.CheckTimer->SetEnabled(false);
    FConfiguration.Notification.CheckTimer->SetEnabled(true);
}

QString TMailOperationsController::Now()
{
    return LongTimeText(QTime::currentTime());
}

void TMailOperationsController::LogStopped(const TMailThread* thread, const QString& text)
{
    if (thread != nullptr && thread->Cancelled())
        FView.AddLogEntry(text);
}

void TMailOperationsController::Launch(TMailThread* thread)
{
    thread->Timeout = Timeout;
    // After the operation's own end, which may have started the next one.
    connect(thread, &QThread::finished, this, [this] { Q_EMIT BusyChanged(Busy); });
    connect(thread, &TMailThread::StatusText, this,
            [this](const QString& text) { FView.WirePOP3Status(text); });
    connect(thread, &TMailThread::ErrorCounted, this,
            [this](const QString& logLine, const QString& statusText) {
                ++ErrorCount;
                if (!statusText.isEmpty())
                    FView.WirePOP3Status(statusText);
                if (!logLine.isEmpty())
                    FView.AddLogEntry(logLine);
            });
    connect(thread, &TMailThread::LogLine, this,
            [this](const QString& text) { FView.AddLogEntry(text); });
    thread->start();
    Q_EMIT BusyChanged(Busy);
}

void TMailOperationsController::StartCheck()
{
    const auto included = [](const std::shared_ptr<TAccount>& account) { return account->Include; };
    if (std::none_of(FConfiguration.Accounts.begin(), FConfiguration.Accounts.end(), included)) {
        // A summary of zero messages would read as if the mailboxes had been checked.
        FView.BeginCheck();
        FView.EndCheck({});
        const QString text = QStringLiteral("No account to check: add one in Settings");
        FView.SetStatusText(2, text);
        FView.SetTrayHint(text);
        return;
    }
    Busy = true;
    ErrorCount = 0;
    FView.BeginCheck();

    TCheckRequest request;
    for (const std::shared_ptr<TAccount>& account : FConfiguration.Accounts)
        request.Accounts.push_back(SnapshotOf(account));
    request.DateSeparator = DateSeparator().toStdString();

    FCheckRows.clear();
    FFailedAccounts.clear();
    auto* thread = new TCheckMailThread(std::move(request), FHeaderCaches, this);
    connect(thread, &TCheckMailThread::RowReady, this, [this](const TMessageRow& row) {
        FCheckRows.push_back(row);
        FView.AddMessage(row);
    });
    connect(thread, &TMailThread::AccountFailed, this,
            [this](const QString& account, const QString& reason) {
                FFailedAccounts.push_back({account.toStdString(), reason.toStdString()});
            });
    connect(thread, &QThread::finished, this, &TMailOperationsController::FinishCheck);
    CheckThread = thread;
    Launch(thread);
}

std::vector<std::size_t> TMailOperationsController::NewRows(bool stopped)
{
    std::vector<std::size_t> fresh;
    std::map<std::string, std::set<std::string>> listed;
    std::set<std::string> partial;
    std::vector<std::size_t> counted;
    for (std::size_t index = 0; index < FCheckRows.size(); ++index) {
        const TMessageRow& row = FCheckRows[index];
        if (row.Uid.empty()) {
            counted.push_back(index);
            continue;
        }
        const std::string mailbox = row.Account ? MailboxKey(*row.Account) : std::string();
        if (FListedUids[mailbox].count(row.Uid) == 0)
            fresh.push_back(index);
        listed[mailbox].insert(row.Uid);
        const bool failed =
            std::any_of(FFailedAccounts.begin(), FFailedAccounts.end(),
                        [&row](const TAccountFailure& f) { return f.Account == row.AccountName; });
        if (stopped || failed)
            partial.insert(mailbox);
    }
    // A mailbox listed whole is known as listed; one listed in part (stopped, failed on the
    // way) forgets nothing, as the messages it did not reach may still be there.
    for (auto& [mailbox, uids] : listed) {
        if (partial.count(mailbox) != 0)
            FListedUids[mailbox].insert(uids.begin(), uids.end());
        else
            FListedUids[mailbox] = std::move(uids);
    }
    // Without ids, the messages beyond the last total are new, counted from the end.
    const int total = static_cast<int>(counted.size());
    const int beyond = std::clamp(total - LastTotal, 0, total);
    LastTotal = total;
    fresh.insert(fresh.end(), counted.end() - beyond, counted.end());
    std::sort(fresh.begin(), fresh.end());
    return fresh;
}

void TMailOperationsController::FinishCheck()
{
    const int total = FView.MessageCount();
    const std::vector<std::size_t> newRows =
        NewRows(CheckThread != nullptr && CheckThread->Cancelled());
    const int fresh = static_cast<int>(newRows.size());
    FView.EndCheck(newRows);
    const QString now = Now();
    FView.SetStatusText(0, QStringLiteral("Total: %1").arg(total));
    FView.SetStatusText(1, QStringLiteral("New: %1").arg(fresh));
    FView.SetStatusText(2, QString::fromStdString(CheckSummary(now.toStdString(), ErrorCount)));
    FView.SetTrayHint(FailedAccountsHint(
        QStringLiteral("Total: %1, New: %2 at %3").arg(total).arg(fresh).arg(now), FFailedAccounts,
        TTrayIcon::MaxHintLength));
    FView.ShowFailedAccounts(FFailedAccounts);
    const bool announce = FConfiguration.Notification.NotifyOnlyWhenNew ? fresh > 0 : total > 0;
    if (announce)
        FView.AnnounceMail(MakeMailNotice(FCheckRows, newRows));
    LogStopped(CheckThread, QStringLiteral("Mail Check stopped."));
    Busy = false;
}

void TMailOperationsController::StartPreview()
{
    const std::vector<TMessageRow> selected = FView.SelectedMessages();
    if (selected.empty())
        return;
    Busy = true;
    ErrorCount = 0;
    TPreviewRequest request;
    request.Row = selected.front();
    request.Account = SnapshotOf(request.Row.Account);
    request.MessagePreview = FConfiguration.ApplicationSettings.MessagePreview;
    request.DateSeparator = DateSeparator().toStdString();

    auto* thread = new TMsgInfoThread(std::move(request), this);
    connect(thread, &TMsgInfoThread::PreviewReady, this,
            [this](const TMessagePreview& preview) { FView.ShowPreview(preview); });
    connect(thread, &QThread::finished, this, &TMailOperationsController::FinishPreview);
    PreviewThread = thread;
    Launch(thread);
}

void TMailOperationsController::FinishPreview()
{
    FView.SetStatusText(2, QString::fromStdString(PreviewSummary(Now().toStdString(), ErrorCount)));
    LogStopped(PreviewThread, QStringLiteral("Message Preview stopped."));
    Busy = false;
}

void TMailOperationsController::StartDelete()
{
    const std::vector<TMessageRow> selected = FView.SelectedMessages();
    if (selected.empty())
        return;
    Busy = true;
    ErrorCount = 0;
    TDeleteRequest request;
    for (const TMessageRow& row : selected)
        request.Items.push_back({SnapshotOf(row.Account), row});
    request.DateSeparator = DateSeparator().toStdString();

    auto* thread = new TDeleteMsgThread(std::move(request), this);
    connect(thread, &TDeleteMsgThread::MessageDeleted, this, [this](const TMessageRow& row) {
        if (row.Uid.empty())
            --LastTotal;
        else if (row.Account)
            FListedUids[MailboxKey(*row.Account)].erase(row.Uid);
        FView.AddLogEntry(QString::fromStdString(DeletedText(row)));
    });
    const QPointer<TDeleteMsgThread> worker = thread;
    connect(thread, &QThread::finished, this, [this, worker] {
        LogStopped(worker, QStringLiteral("Deletion stopped."));
        FinishDelete(worker.isNull() || worker->Cancelled());
    });
    DeleteThread = thread;
    Launch(thread);
}

void TMailOperationsController::FinishDelete(bool cancelled)
{
    Busy = false;
    if (!cancelled)
        CheckNow();
}
