#include "gui/MainFrm.h"

#include "config/FileKeyStore.h"
#include "desktop/LocalTime.h"
#include "gui/CheckTimer.h"
#include "gui/LogFrm.h"
#include "gui/MailOperations.h"
#include "gui/MessageListItem.h"
#include "gui/SettingsFrm.h"
#include "gui/SplitterBar.h"
#include "tests/support/FakeConnectionProbes.h"
#include "tests/support/TempDir.h"
#include "tests/ui/UiSupport.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

const std::string Settings = StoreKeys::Settings;
const std::string Window = StoreKeys::Window;

class TMainFormTest : public ::testing::Test
{
protected:
    TMainFormTest()
        : FStore(std::make_unique<TFileKeyStore>(FDir.File("store.reg")))
        , FProbes(std::make_shared<TFakeConnectionProbes>())
        , FShell(std::make_shared<TRecordingShell>())
    {
        SetOnline(true);
    }

    // A window on the test's store, with scripted dialogs, fake probes and counted operations.
    std::unique_ptr<TMainForm> MakeForm()
    {
        auto form = std::make_unique<TMainForm>(*FStore, FDialogs.Make(), FShell);
        form->ConnectionDetector().SetProbes(FProbes);
        TMailOperations operations;
        operations.StartCheck = [this] { ++FChecks; };
        operations.StartPreview = [this] { ++FPreviews; };
        operations.StartDelete = [this] { ++FDeletes; };
        operations.Cancel = [this] { ++FCancels; };
        form->MailOperationsController().SetOperations(operations);
        return form;
    }

    // Online and offline for a dial-up and a direct connection alike.
    void SetOnline(bool online)
    {
        FProbes->DialUpIsAvailable = true;
        FProbes->DialUpIsConnected = online;
        FProbes->QueryIsAvailable = true;
        FProbes->Flags = online ? ConnectedState::Lan | ConnectedState::Modem : 0;
    }

    void EnableIntervalChecking() { FStore->WriteInteger(Settings, "IntervalCheck", 1); }

    // Rows as a check lists them, each referring to its account.
    static void AddRows(TMainForm& form, int count)
    {
        const auto account = std::make_shared<TAccount>();
        for (int index = 0; index < count; ++index) {
            TMessageRow row;
            row.Account = account;
            row.AccountName = "Home";
            row.From = "Sender " + std::to_string(index);
            form.lvNotification->addTopLevelItem(new TMessageListItem(row));
        }
    }

    static void ShowAndWait(TMainForm& form)
    {
        form.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    }

    static bool ResizeAndWait(TMainForm& form, int width, int height)
    {
        form.resize(width, height);
        return WaitFor([&] { return form.width() == width && form.height() == height; });
    }

    TTempDir FDir;
    std::unique_ptr<TFileKeyStore> FStore;
    TScriptedDialogs FDialogs;
    std::shared_ptr<TFakeConnectionProbes> FProbes;
    std::shared_ptr<TRecordingShell> FShell;
    int FChecks = 0;
    int FPreviews = 0;
    int FDeletes = 0;
    int FCancels = 0;
};

const QRegularExpression
    OfflineText(QStringLiteral("^No Internet connection detected at \\d{1,2}:\\d{2}:\\d{2}"));

// Timers

TEST_F(TMainFormTest, FirstCheckComesAboutOneSecondAfterStartWhenOnline)
{
    EnableIntervalChecking();
    QElapsedTimer clock;
    clock.start();
    auto form = MakeForm();
    EXPECT_EQ(FChecks, 0) << "no check while the window is created";
    ASSERT_TRUE(WaitFor([&] { return FChecks > 0; }, 5000));
    EXPECT_GE(clock.elapsed(), 900);
    EXPECT_LE(clock.elapsed(), 3000);
    EXPECT_EQ(FChecks, 1);
    EXPECT_TRUE(form->WasOnline);
    EXPECT_TRUE(form->CheckTimer().Enabled());
}

TEST_F(TMainFormTest, WithIntervalCheckingOffNothingIsCheckedUntilTheUserAsks)
{
    auto form = MakeForm();
    EXPECT_FALSE(form->CheckTimer().Enabled());
    form->tmOnlineDetectionTimer();
    EXPECT_EQ(FChecks, 0);
    EXPECT_FALSE(form->WasOnline);

    // Check Now turns interval checking on; from then on the online detection acts.
    form->actNotificationCheckNow->trigger();
    EXPECT_EQ(FChecks, 1);
    EXPECT_TRUE(form->CheckTimer().Enabled());
    EXPECT_EQ(form->CheckTimer().Interval(), DefaultInterval);
    form->tmOnlineDetectionTimer();
    EXPECT_EQ(FChecks, 2);
    EXPECT_TRUE(form->WasOnline);
}

TEST_F(TMainFormTest, ComingOnlineAgainGivesOneCheck)
{
    EnableIntervalChecking();
    auto form = MakeForm();
    form->tmOnlineDetectionTimer();
    form->tmOnlineDetectionTimer();
    EXPECT_EQ(FChecks, 1) << "staying online checks once";

    SetOnline(false);
    form->tmOnlineDetectionTimer();
    EXPECT_FALSE(form->WasOnline);
    EXPECT_EQ(FChecks, 1);
    EXPECT_EQ(form->StatusText(2), QString()) << "the detection itself reports nothing offline";

    SetOnline(true);
    form->tmOnlineDetectionTimer();
    EXPECT_EQ(FChecks, 2);
    EXPECT_TRUE(form->WasOnline);
}

TEST_F(TMainFormTest, ComingOnlineWhileBusyIsNotCheckedLater)
{
    EnableIntervalChecking();
    auto form = MakeForm();
    SetOnline(false);
    form->tmOnlineDetectionTimer();
    form->MailOperationsController().Busy = true;
    SetOnline(true);
    form->tmOnlineDetectionTimer();
    EXPECT_EQ(FChecks, 0);
    EXPECT_TRUE(form->WasOnline);
    form->MailOperationsController().Busy = false;
    form->tmOnlineDetectionTimer();
    EXPECT_EQ(FChecks, 0);
}

TEST_F(TMainFormTest, CheckTimerTickRunsCheckNow)
{
    auto form = MakeForm();
    form->CheckTimer().SetInterval(20);
    form->CheckTimer().SetEnabled(true);
    EXPECT_TRUE(WaitFor([&] { return FChecks > 0; }));
    form->CheckTimer().SetEnabled(false);
}

TEST_F(TMainFormTest, CheckNowOfflineEmptiesTheListAndReports)
{
    auto form = MakeForm();
    AddRows(*form, 3);
    form->SetStatusText(0, QStringLiteral("Total: 3"));
    form->SetStatusText(1, QStringLiteral("New: 1"));
    form->MailOperationsController().LastTotal = 3;
    QSignalSpy hints(form.get(), &TMainForm::TrayHintChanged);
    SetOnline(false);

    form->actNotificationCheckNow->trigger();

    EXPECT_EQ(FChecks, 0);
    EXPECT_EQ(form->lvNotification->topLevelItemCount(), 0);
    EXPECT_EQ(form->StatusText(0), QString());
    EXPECT_EQ(form->StatusText(1), QString());
    EXPECT_TRUE(OfflineText.match(form->StatusText(2)).hasMatch())
        << form->StatusText(2).toStdString();
    EXPECT_EQ(form->TrayHint(), form->StatusText(2));
    ASSERT_EQ(hints.count(), 1);
    EXPECT_EQ(hints[0][0].toString(), form->StatusText(2));
    EXPECT_EQ(form->MailOperationsController().LastTotal, 3);
    EXPECT_TRUE(form->CheckTimer().Enabled()) << "the check timer runs after every Check Now";
}

TEST_F(TMainFormTest, CheckNowWhileBusyStartsNothingButRestartsTheInterval)
{
    auto form = MakeForm();
    form->CheckTimer().SetInterval(60000);
    form->CheckTimer().SetEnabled(true);
    QTest::qWait(200);
    const int before = form->CheckTimer().Timer().remainingTime();
    form->MailOperationsController().Busy = true;
    form->SetStatusText(2, QStringLiteral("Retrieving headers"));

    form->actNotificationCheckNow->trigger();

    EXPECT_EQ(FChecks, 0);
    EXPECT_EQ(form->StatusText(2), QStringLiteral("Retrieving headers"));
    EXPECT_GT(form->CheckTimer().Timer().remainingTime(), before + 100);
}

// Preview, deletion, stop, selection

TEST_F(TMainFormTest, MessagePreviewNeedsOnlineIdleAndASelectedRow)
{
    auto form = MakeForm();
    AddRows(*form, 2);
    form->actViewMessagePreview->trigger();
    EXPECT_EQ(FPreviews, 0) << "no row selected";

    form->lvNotification->topLevelItem(1)->setSelected(true);
    form->MailOperationsController().Busy = true;
    form->actViewMessagePreview->trigger();
    EXPECT_EQ(FPreviews, 0) << "busy";
    form->MailOperationsController().Busy = false;
    form->lvNotificationDblClick();
    EXPECT_EQ(FPreviews, 1);

    SetOnline(false);
    form->actViewMessagePreview->trigger();
    EXPECT_EQ(FPreviews, 1);
    EXPECT_EQ(form->lvNotification->topLevelItemCount(), 0);
    EXPECT_TRUE(OfflineText.match(form->StatusText(2)).hasMatch());
    EXPECT_FALSE(form->CheckTimer().Enabled()) << "the preview leaves the check timer alone";
}

TEST_F(TMainFormTest, DeleteAsksFirstAndStartsOnlyOnYes)
{
    auto form = MakeForm();
    AddRows(*form, 2);
    form->lvNotification->topLevelItem(0)->setSelected(true);

    FDialogs.Answer = false;
    form->actNotificationDeleteMessages->trigger();
    EXPECT_EQ(FDeletes, 0);
    ASSERT_EQ(FDialogs.Questions.size(), 1);
    EXPECT_EQ(FDialogs.Questions[0],
              QStringLiteral(
                  "Delete 1 message (\"(no subject)\") from Home? It is removed from the server."));

    FDialogs.Answer = true;
    form->actNotificationDeleteMessages->trigger();
    EXPECT_EQ(FDeletes, 1);

    form->MailOperationsController().Busy = true;
    form->actNotificationDeleteMessages->trigger();
    EXPECT_EQ(FDialogs.Questions.size(), 2) << "busy: no question";
    form->MailOperationsController().Busy = false;

    SetOnline(false);
    form->actNotificationDeleteMessages->trigger();
    EXPECT_EQ(FDialogs.Questions.size(), 2) << "offline: no question";
    EXPECT_EQ(form->lvNotification->topLevelItemCount(), 0);
}

TEST_F(TMainFormTest, StopCancelsAndSelectAllSelectsEveryRow)
{
    auto form = MakeForm();
    form->actNotificationStop->trigger();
    EXPECT_EQ(FCancels, 0) << "nothing runs: Stop is disabled";
    form->MailOperationsController().Busy = true;
    Q_EMIT form->MailOperationsController().BusyChanged(true);
    form->actNotificationStop->trigger();
    EXPECT_EQ(FCancels, 1);

    AddRows(*form, 4);
    form->actNotificationSelectAll->trigger();
    EXPECT_EQ(form->lvNotification->selectedItems().size(), 4);
}

// Before, every action was enabled at all times and did nothing, without a word, when it had
// nothing to act on.
TEST_F(TMainFormTest, ActionsFollowTheSelectionTheOperationAndTheMailClient)
{
    auto form = MakeForm();
    QAction* rowItems[] = {form->pmNotification->actions()[0], form->pmNotification->actions()[1]};
    const auto enabled = [&] {
        return QStringList{form->actViewMessagePreview->isEnabled() ? "preview" : "",
                           form->actNotificationDeleteMessages->isEnabled() ? "delete" : "",
                           rowItems[0]->isEnabled() && rowItems[1]->isEnabled() ? "row menu" : "",
                           form->actNotificationSelectAll->isEnabled() ? "select all" : "",
                           form->actNotificationStop->isEnabled() ? "stop" : "",
                           form->actNotificationStartMailClient->isEnabled() ? "mail client" : ""}
            .join(u' ')
            .simplified();
    };
    EXPECT_EQ(enabled(), QString());
    EXPECT_TRUE(form->findChild<QToolButton*>(QStringLiteral("tbtnStartMailClient"))
                    ->toolTip()
                    .contains(QStringLiteral("Settings, on the Notification page")));

    AddRows(*form, 2);
    EXPECT_EQ(enabled(), QStringLiteral("select all"));
    form->lvNotification->topLevelItem(1)->setSelected(true);
    EXPECT_EQ(enabled(), QStringLiteral("preview delete row menu select all"));
    form->MailOperationsController().Busy = true;
    Q_EMIT form->MailOperationsController().BusyChanged(true);
    EXPECT_EQ(enabled(), QStringLiteral("preview delete row menu select all stop"));
    form->MailOperationsController().Busy = false;
    Q_EMIT form->MailOperationsController().BusyChanged(false);
    form->lvNotification->clear();
    EXPECT_EQ(enabled(), QString());

    form->Configuration().Notification.MailClient = "/usr/bin/mailer";
    form->UpdateActions();
    EXPECT_EQ(enabled(), QStringLiteral("mail client"));
    EXPECT_EQ(form->findChild<QToolButton*>(QStringLiteral("tbtnStartMailClient"))->toolTip(),
              QStringLiteral("Start Mail Client"));
}

TEST_F(TMainFormTest, DeleteQuestionNamesWhatGoes)
{
    auto form = MakeForm();
    const auto home = std::make_shared<TAccount>();
    const auto work = std::make_shared<TAccount>();
    const std::pair<std::shared_ptr<TAccount>, const char*> rows[] = {
        {home, "Home"}, {home, "Home"}, {work, "Work"}};
    for (const auto& [account, name] : rows) {
        TMessageRow row;
        row.Account = account;
        row.AccountName = name;
        row.Subject = "Disk space on build-02";
        form->lvNotification->addTopLevelItem(new TMessageListItem(row));
    }
    FDialogs.Answer = false;
    form->lvNotification->topLevelItem(0)->setSelected(true);
    form->actNotificationDeleteMessages->trigger();
    form->lvNotification->topLevelItem(1)->setSelected(true);
    form->actNotificationDeleteMessages->trigger();
    form->lvNotification->topLevelItem(2)->setSelected(true);
    form->actNotificationDeleteMessages->trigger();
    EXPECT_EQ(FDialogs.Questions,
              (QStringList{"Delete 1 message (\"Disk space on build-02\") from Home? It is "
                           "removed from the server.",
                           "Delete 2 messages from Home? They are removed from the server.",
                           "Delete 3 messages from 2 accounts? They are removed from their "
                           "servers."}));
    EXPECT_EQ(FDeletes, 0);
}

TEST_F(TMainFormTest, KeysReachTheirActions)
{
    auto form = MakeForm();
    AddRows(*form, 3);
    ShowAndWait(*form);
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    form->lvNotification->setFocus();

    QTest::keyClick(form.get(), Qt::Key_F5);
    EXPECT_EQ(FChecks, 1);

    // Return previews the current row alone, whatever else was selected.
    form->lvNotification->topLevelItem(0)->setSelected(true);
    form->lvNotification->setCurrentItem(form->lvNotification->topLevelItem(2), 0,
                                         QItemSelectionModel::Select);
    QTest::keyClick(form->lvNotification, Qt::Key_Return);
    EXPECT_EQ(FPreviews, 1);
    ASSERT_EQ(form->lvNotification->selectedItems().size(), 1);
    EXPECT_EQ(form->lvNotification->selectedItems()[0], form->lvNotification->topLevelItem(2));

    FDialogs.Answer = false;
    QTest::keyClick(form->lvNotification, Qt::Key_Delete);
    EXPECT_EQ(FDialogs.Questions.size(), 1) << "Delete asks first";

    form->ShowMessagePreview();
    QTest::keyClick(form->lvNotification, Qt::Key_Escape);
    EXPECT_FALSE(form->MessagePreviewShown());

    QString opened;
    QTimer::singleShot(0, form.get(), [&] {
        if (QWidget* dialog = QApplication::activeModalWidget()) {
            opened = dialog->objectName();
            dialog->close();
        }
    });
    QTest::keyClick(form->lvNotification, Qt::Key_Comma, Qt::ControlModifier);
    EXPECT_EQ(opened, QStringLiteral("SettingsForm"));

    // The menus show the keys, and every item underlines a letter of its own in its menu.
    const auto item = [&](const char* name) {
        return form->findChild<QAction*>(QString::fromLatin1(name));
    };
    EXPECT_EQ(item("mmiNotificationCheckNow")->shortcut(), QKeySequence(Qt::Key_F5));
    EXPECT_EQ(item("pmiNotificationDelete")->shortcut(), QKeySequence(Qt::Key_Delete));
    EXPECT_EQ(item("mmiViewMessageDetails")->shortcut(), QKeySequence(Qt::Key_Return));
    EXPECT_EQ(item("mmiViewSettings")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Comma));
    EXPECT_EQ(item("pmiExit")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
    for (QMenu* menu : form->findChildren<QMenu*>()) {
        QStringList letters;
        for (const QAction* entry : menu->actions()) {
            if (entry->isSeparator())
                continue;
            const qsizetype amp = entry->text().indexOf(u'&');
            ASSERT_GE(amp, 0) << entry->objectName().toStdString();
            letters.append(entry->text().mid(amp + 1, 1).toLower());
        }
        const qsizetype items = letters.size();
        letters.removeDuplicates();
        EXPECT_EQ(letters.size(), items) << menu->objectName().toStdString();
    }

    form->SetTrayIconShown(true);
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    QTimer::singleShot(0, form.get(), [&] {
        QTest::keyClick(form->lvNotification, Qt::Key_Q, Qt::ControlModifier);
    });
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    guard.start(5000);
    EXPECT_EQ(QCoreApplication::exec(), 0) << "Ctrl+Q exits";
    EXPECT_TRUE(form->ExitRequested);
}

// Before, a first start showed nothing but a tray icon; a new user had to find Settings alone.
TEST_F(TMainFormTest, FirstStartWithoutAccountOpensTheNewAccountPage)
{
    auto form = MakeForm();
    QString page;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (auto* dialog = qobject_cast<TSettingsForm*>(QApplication::activeModalWidget())) {
            page = dialog->ActivePage();
            dialog->close();
        }
    });
    poll.start(20);
    form->OfferFirstAccount();
    ASSERT_TRUE(WaitFor([&] { return !page.isEmpty(); }));
    EXPECT_EQ(page, QStringLiteral("NewAccount"));

    page.clear();
    form->Configuration().Accounts.push_back(std::make_shared<TAccount>());
    form->OfferFirstAccount();
    QTest::qWait(100);
    EXPECT_TRUE(page.isEmpty()) << "an account to check: no dialog";
}

TEST_F(TMainFormTest, TrayDoubleClickFollowsTheOption)
{
    auto form = MakeForm();
    TApplicationSettings& settings = form->Configuration().ApplicationSettings;
    for (const int ignored : {3, -1}) {
        settings.DoubleClick = ignored;
        form->TrayIconDblClick();
        EXPECT_EQ(FChecks, 0);
        EXPECT_FALSE(form->isVisible());
    }
    settings.DoubleClick = TApplicationSettings::CheckMail;
    form->TrayIconDblClick();
    EXPECT_EQ(FChecks, 1);
    EXPECT_FALSE(form->isVisible());

    settings.DoubleClick = TApplicationSettings::ShowMailbeacon;
    form->TrayIconDblClick();
    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(FChecks, 1);
}

// Lifecycle

TEST_F(TMainFormTest, CloseHidesWhileTheTrayIconIsShown)
{
    auto form = MakeForm();
    form->SetTrayIconShown(true);
    ShowAndWait(*form);
    form->setGeometry(100, 120, 600, 420);
    ASSERT_TRUE(WaitFor([&] { return form->geometry() == QRect(100, 120, 600, 420); }));

    form->findChild<QAction*>(QStringLiteral("mmiFileClose"))->trigger();

    EXPECT_FALSE(form->isVisible());
    EXPECT_FALSE(form->ExitRequested);
    const std::optional<TWindowPlacement> placement = LoadWindowPlacement(*FStore);
    ASSERT_TRUE(placement.has_value()) << "hiding saves the placement";
    EXPECT_EQ(placement->NormalPosition, (TRect{100, 120, 700, 540}));

    form->actFileOpenMailbeacon->trigger();
    EXPECT_TRUE(form->isVisible());
}

TEST_F(TMainFormTest, CloseMinimisesWhenNoTrayIconCouldBringItBack)
{
    auto form = MakeForm();
    ShowAndWait(*form);
    EXPECT_FALSE(form->close());
    EXPECT_TRUE(form->isVisible());
    EXPECT_TRUE(form->isMinimized());
}

TEST_F(TMainFormTest, ExitEndsTheEventLoop)
{
    auto form = MakeForm();
    form->SetTrayIconShown(true);
    ShowAndWait(*form);
    QTimer::singleShot(0, form.get(),
                       [&] { form->findChild<QAction*>(QStringLiteral("pmiExit"))->trigger(); });
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    guard.start(5000);
    EXPECT_EQ(QCoreApplication::exec(), 0);
    EXPECT_TRUE(form->ExitRequested);
    EXPECT_FALSE(form->isVisible());
}

TEST_F(TMainFormTest, SessionEndEndsInsteadOfHiding)
{
    auto form = MakeForm();
    form->SetTrayIconShown(true);
    ShowAndWait(*form);
    EXPECT_FALSE(form->close()) << "an ordinary close hides";
    form->show();
    form->QueryEndSession();
    EXPECT_TRUE(form->close());
}

// Preview pane and splitter

TEST_F(TMainFormTest, PreviewPaneKeeps120PixelsBelowTheList)
{
    auto form = MakeForm();
    ShowAndWait(*form);
    ASSERT_TRUE(ResizeAndWait(*form, 550, 700));
    EXPECT_FALSE(form->MessagePreviewShown()) << "the window starts with the pane hidden";
    EXPECT_EQ(form->NotificationHeight, 163);

    form->NotificationHeight = 400;
    form->ShowMessagePreview();
    const int panel = form->pnlMainForm->height();
    ASSERT_GT(panel, 520);
    EXPECT_EQ(form->pnlNotification->height(), 400);
    EXPECT_EQ(form->splMessage->y(), 400);
    EXPECT_EQ(form->pnlMessage->y() + form->pnlMessage->height(), panel);

    // Shrinking the window shrinks the list pane once less than 120 pixels would remain.
    ASSERT_TRUE(ResizeAndWait(*form, 550, 500));
    const int smaller = form->pnlMainForm->height();
    EXPECT_EQ(form->pnlNotification->height(), smaller - 120);
    EXPECT_EQ(form->pnlMessage->y() + form->pnlMessage->height(), smaller);
    EXPECT_EQ(form->NotificationHeight, 400) << "resizing alone does not move the stored height";

    // Showing the pane with a height that leaves too little applies the same limit.
    form->HideMessagePreview();
    EXPECT_EQ(form->NotificationHeight, smaller - 120);
    EXPECT_EQ(form->pnlNotification->height(), smaller) << "hidden pane: the list fills";
    ASSERT_TRUE(ResizeAndWait(*form, 550, 450));
    EXPECT_EQ(form->pnlNotification->height(), form->pnlMainForm->height());
    form->NotificationHeight = 1000;
    form->ShowMessagePreview();
    EXPECT_EQ(form->pnlNotification->height(), form->pnlMainForm->height() - 120);
}

TEST_F(TMainFormTest, PreviewLabelsAreEmptiedWhenThePaneCloses)
{
    auto form = MakeForm();
    ShowAndWait(*form);
    form->ShowMessagePreview();
    form->lblFrom->setText(QStringLiteral("Ada <ada@example.com>"));
    form->lblSubject->setText(QStringLiteral("Minutes"));
    form->memMessage->setPlainText(QStringLiteral("Hello"));
    QTest::mouseClick(form->sbtnMessagePreviewClose, Qt::LeftButton);
    EXPECT_FALSE(form->MessagePreviewShown());
    EXPECT_FALSE(form->splMessage->isVisible());
    EXPECT_EQ(form->lblFrom->text(), QString());
    EXPECT_EQ(form->lblSubject->text(), QString());
    EXPECT_EQ(form->memMessage->toPlainText(), QString());
}

TEST_F(TMainFormTest, SplitterHeightIsSavedAtExitEvenWithThePaneHidden)
{
    {
        auto form = MakeForm();
        ShowAndWait(*form);
        ASSERT_TRUE(ResizeAndWait(*form, 550, 600));
        form->ShowMessagePreview();
        const int top = form->splMessage->y();
        const QPoint grab(20, 1);
        const auto send = [&](QEvent::Type type, int y, Qt::MouseButtons buttons) {
            const QPoint local(grab.x(), grab.y() + y - form->splMessage->y());
            QMouseEvent event(type, local, form->splMessage->mapToGlobal(local), Qt::LeftButton,
                              buttons, Qt::NoModifier);
            QApplication::sendEvent(form->splMessage, &event);
        };
        send(QEvent::MouseButtonPress, top, Qt::LeftButton);
        send(QEvent::MouseMove, top + 30, Qt::LeftButton);
        send(QEvent::MouseMove, top + 57, Qt::LeftButton);
        send(QEvent::MouseButtonRelease, top + 57, Qt::NoButton);
        EXPECT_EQ(form->pnlNotification->height(), 163 + 57);
        EXPECT_EQ(form->NotificationHeight, 163 + 57);

        // Dragging stops where the preview pane would get less than its minimum.
        send(QEvent::MouseButtonPress, form->splMessage->y(), Qt::LeftButton);
        send(QEvent::MouseMove, 5000, Qt::LeftButton);
        send(QEvent::MouseButtonRelease, 5000, Qt::NoButton);
        EXPECT_EQ(form->pnlMainForm->height() - form->splMessage->y() - 3, 80);
        send(QEvent::MouseButtonPress, form->splMessage->y(), Qt::LeftButton);
        send(QEvent::MouseButtonRelease, 220, Qt::NoButton);
        EXPECT_EQ(form->NotificationHeight, 220);

        form->sbtnMessagePreviewCloseClick();
        form->ExitRequested = true;
    }
    EXPECT_EQ(FStore->ReadInteger(Window, "NotificationHeight"), 220);
    auto again = MakeForm();
    EXPECT_EQ(again->NotificationHeight, 220);
}

// Configuration

TEST_F(TMainFormTest, StartLoadsOptionsLayoutAndAccounts)
{
    FStore->WriteInteger(Settings, "IntervalCheck", 1);
    FStore->WriteInteger(Settings, "Interval", 120000);
    FStore->WriteInteger(Settings, "DoubleClick", 0);
    FStore->WriteInteger(Window, "NotificationHeight", 150);
    FStore->WriteInteger(Window, "Subject", 222);
    FStore->WriteString(std::string(StoreKeys::Accounts) + "\\Home", "Host", "pop.example.com");

    auto form = MakeForm();

    EXPECT_TRUE(FDialogs.Errors.isEmpty());
    EXPECT_TRUE(form->CheckTimer().Enabled());
    EXPECT_EQ(form->CheckTimer().Interval(), 120000u);
    EXPECT_EQ(form->CheckTimer().Timer().interval(), 120000);
    EXPECT_EQ(form->Configuration().ApplicationSettings.DoubleClick, 0);
    EXPECT_EQ(form->NotificationHeight, 150);
    EXPECT_EQ(form->lvNotification->columnWidth(2), 222);
    EXPECT_EQ(form->lvNotification->columnWidth(1), 150) << "no stored width: design width";
    ASSERT_EQ(form->Configuration().Accounts.size(), 1u);
    EXPECT_EQ(form->Configuration().Accounts[0]->Host, "pop.example.com");
    EXPECT_FALSE(form->MessagePreviewShown());
}

TEST_F(TMainFormTest, FailedLoadingShowsTheErrorAndGoesOnWithDefaults)
{
    const std::string accounts = StoreKeys::Accounts;
    FStore->WriteString(accounts + "\\A", "Host", "a.example.com");
    FStore->WriteString(accounts + "\\B", "Password", "not hex");
    FStore->WriteString(accounts + "\\C", "Host", "c.example.com");
    FStore->WriteInteger(Settings, "IntervalCheck", 1);
    FStore->WriteInteger(Window, "NotificationHeight", 300);

    auto form = MakeForm();

    ASSERT_EQ(FDialogs.Errors.size(), 1);
    EXPECT_EQ(FDialogs.Errors[0],
              QStringLiteral("TCryptLib: decrypting error - not hexlook string"));
    ASSERT_EQ(form->Configuration().Accounts.size(), 1u) << "the accounts loaded until then";
    EXPECT_EQ(form->Configuration().Accounts[0]->Name, "A");
    EXPECT_FALSE(form->CheckTimer().Enabled());
    EXPECT_EQ(form->CheckTimer().Interval(), DefaultInterval);
    EXPECT_EQ(form->Configuration().ApplicationSettings.DoubleClick,
              TApplicationSettings::ShowMailbeacon);
    EXPECT_EQ(form->NotificationHeight, 163);
    EXPECT_FALSE(form->MessagePreviewShown());
}

TEST_F(TMainFormTest, ValueOfAnotherTypeIsNamedInTheErrorBox)
{
    FStore->WriteString(Settings, "IntervalCheck", "yes");
    FStore->WriteInteger(Settings, "Log", 1);
    auto form = MakeForm();
    ASSERT_EQ(FDialogs.Errors.size(), 1);
    EXPECT_TRUE(FDialogs.Errors[0].contains(QStringLiteral("IntervalCheck")));
    EXPECT_FALSE(form->Configuration().ApplicationSettings.Log) << "options fall back to defaults";
}

// Before, every option fell back to its default and the next close of the settings dialog wrote
// the defaults over the user's interval, mail client and log choice.
TEST_F(TMainFormTest, OptionsThatLoadedAreKeptAndThoseThatDidNotAreNeverWrittenOver)
{
    FStore->WriteInteger(Settings, "IntervalCheck", 1);
    FStore->WriteInteger(Settings, "Interval", 120000);
    FStore->WriteString(Settings, "MailClient", "/usr/bin/mailer");
    FStore->WriteString(Settings, "MessagePreview", "twenty");
    FStore->WriteInteger(Settings, "Log", 1);
    FStore->WriteInteger(Window, "Subject", 222);
    auto form = MakeForm();
    ASSERT_EQ(FDialogs.Errors.size(), 1);
    EXPECT_TRUE(FDialogs.Errors[0].contains(QStringLiteral("MessagePreview")));
    EXPECT_TRUE(form->CheckTimer().Enabled());
    EXPECT_EQ(form->CheckTimer().Interval(), 120000u);
    EXPECT_EQ(form->Configuration().Notification.MailClient, "/usr/bin/mailer");
    EXPECT_FALSE(form->Configuration().ApplicationSettings.Log) << "after the bad value";
    EXPECT_EQ(form->lvNotification->columnWidth(2), 150) << "window values come after";

    {
        TSettingsForm dialog(*FStore, FDialogs.Make(), TStartupShortcut(), form.get());
        dialog.AttachConfiguration(form->Configuration());
        form->Configuration().Notification.NotifyOnlyWhenNew = true;
        dialog.done(QDialog::Accepted);
    }
    TFileKeyStore reread(FDir.File("store.reg"));
    EXPECT_EQ(reread.ReadInteger(Settings, "Interval"), 120000);
    EXPECT_EQ(reread.ReadString(Settings, "MailClient"), "/usr/bin/mailer");
    EXPECT_EQ(reread.ReadString(Settings, "MessagePreview"), "twenty");
    EXPECT_EQ(reread.ReadInteger(Settings, "Log"), 1);
    EXPECT_EQ(reread.ReadInteger(Settings, "NotifyOnlyWhenNew"), 1);
}

TEST_F(TMainFormTest, UnreadableStoreIsReportedOnceAndNeverOverwritten)
{
    const std::string broken = "REGEDIT4\r\n\r\nthis is no key\r\n";
    WriteFile(FDir.File("store.reg"), broken);
    {
        auto form = MakeForm();
        ASSERT_EQ(FDialogs.Errors.size(), 1);
        EXPECT_TRUE(FDialogs.Errors[0].contains(QStringLiteral("store.reg")))
            << FDialogs.Errors[0].toStdString();
        form->SetTrayIconShown(true);
        ShowAndWait(*form);
        form->close();
        form->actFileOpenMailbeacon->trigger();
        form->close();
        EXPECT_EQ(FDialogs.Errors.size(), 2) << "the failed save at the first hide only";
        form->ExitRequested = true;
    }
    EXPECT_EQ(FDialogs.Errors.size(), 2);
    EXPECT_EQ(ReadFile(FDir.File("store.reg")), broken);
}

TEST_F(TMainFormTest, AtSessionEndAFailedSaveGoesToStandardErrorAndTheLogNotToABox)
{
    // The store's folder cannot be made: a file stands where it would go.
    WriteFile(FDir.File("blocked"), "a file");
    FStore = std::make_unique<TFileKeyStore>(FDir.File("blocked/store.reg"));
    testing::internal::CaptureStderr();
    {
        auto form = MakeForm();
        ASSERT_EQ(FDialogs.Errors.size(), 1) << "the defaults could not be written at start";
        form->Configuration().ApplicationSettings.Log = true;
        ShowAndWait(*form);
        form->QueryEndSession();
        EXPECT_TRUE(form->close()) << "the program ends";
        EXPECT_EQ(FDialogs.Errors.size(), 1) << FDialogs.Errors.join(u'|').toStdString();
        ASSERT_FALSE(form->LogList.Empty());
        EXPECT_TRUE(form->LogList[form->LogList.Count() - 1].Action.contains(u"blocked"));
    }
    const std::string err = testing::internal::GetCapturedStderr();
    const std::string line = "mailbeacon: Cannot read " + FDir.File("blocked/store.reg");
    EXPECT_EQ(err.find(line), err.rfind(line)) << "once, though both the close and the end save";
    EXPECT_NE(err.find(line), std::string::npos) << err;
    EXPECT_EQ(FDialogs.Errors.size(), 1) << "nor when the window goes";
}

TEST_F(TMainFormTest, PlacementRoundTripsThroughTheStore)
{
    {
        auto form = MakeForm();
        ShowAndWait(*form);
        form->setGeometry(60, 80, 640, 480);
        ASSERT_TRUE(WaitFor([&] { return form->geometry() == QRect(60, 80, 640, 480); }));
        form->ExitRequested = true;
    }
    const std::optional<TWindowPlacement> saved = LoadWindowPlacement(*FStore);
    ASSERT_TRUE(saved.has_value());
    EXPECT_EQ(saved->ShowCmd, 1);
    EXPECT_EQ(saved->NormalPosition, (TRect{60, 80, 700, 560}));
    {
        auto form = MakeForm();
        EXPECT_EQ(form->geometry(), QRect(60, 80, 640, 480)) << "applied before the first show";
        ShowAndWait(*form);
        form->showMaximized();
        ASSERT_TRUE(WaitFor([&] { return form->isMaximized(); }));
        form->ExitRequested = true;
    }
    const std::optional<TWindowPlacement> maximized = LoadWindowPlacement(*FStore);
    ASSERT_TRUE(maximized.has_value());
    EXPECT_EQ(maximized->ShowCmd, 3);
    EXPECT_EQ(maximized->NormalPosition, (TRect{60, 80, 700, 560}));
    auto form = MakeForm();
    EXPECT_TRUE(form->windowState() & Qt::WindowMaximized);
}

TEST_F(TMainFormTest, PlacementOffEveryScreenIsCentred)
{
    TWindowPlacement placement;
    placement.NormalPosition = {-5000, -5000, -4400, -4600};
    placement.PixelsPerInch = qRound(QGuiApplication::primaryScreen()->logicalDotsPerInchY());
    SaveWindowPlacement(*FStore, placement);
    auto form = MakeForm();
    EXPECT_EQ(form->size(), QSize(600, 400));
    EXPECT_EQ(form->geometry().center(),
              QGuiApplication::primaryScreen()->availableGeometry().center());
}

// Help pages, action log

TEST_F(TMainFormTest, HelpPagesOpenOnTheVendorHost)
{
    qputenv("MAILBEACON_VENDOR_HOST", "127.0.0.1:8123");
    auto form = MakeForm();
    form->findChild<QAction*>(QStringLiteral("mmiHelpOnlineHelp"))->trigger();
    form->findChild<QAction*>(QStringLiteral("mmiHelpHomePage"))->trigger();
    qunsetenv("MAILBEACON_VENDOR_HOST");
    ASSERT_EQ(FShell->Opened.size(), 2u);
    EXPECT_EQ(FShell->Opened[0].first,
              QStringLiteral("http://127.0.0.1:8123/beaconer/support.php3"));
    EXPECT_EQ(FShell->Opened[0].second, QString());
    EXPECT_EQ(FShell->Opened[1].first, QStringLiteral("http://127.0.0.1:8123/"));
}

TEST_F(TMainFormTest, LogKeepsStatusTextsOnlyWhileLoggingIsOn)
{
    auto form = MakeForm();
    form->WirePOP3Status(QStringLiteral("Connected"));
    EXPECT_TRUE(form->LogList.Empty());
    EXPECT_EQ(form->StatusText(2), QStringLiteral("Connected"));
    EXPECT_EQ(form->TrayHint(), QStringLiteral("Connected"));

    form->Configuration().ApplicationSettings.Log = true;
    const QDateTime before = QDateTime::currentDateTime();
    form->WirePOP3Status(QStringLiteral(" Password is valid "));
    form->AddLogEntry(QString());
    const QDateTime after = QDateTime::currentDateTime();
    ASSERT_EQ(form->LogList.Count(), 2u);
    EXPECT_EQ(form->LogList[0].Action, QStringLiteral(" Password is valid "));
    EXPECT_TRUE(form->LogList[0].Time == DateTimeText(before) ||
                form->LogList[0].Time == DateTimeText(after));
    EXPECT_EQ(form->LogList[1].Action, QString());

    form->Configuration().ApplicationSettings.Log = false;
    form->AddLogEntry(QStringLiteral("ignored"));
    EXPECT_EQ(form->LogList.Count(), 2u) << "turning the log off keeps what it holds";
}

TEST_F(TMainFormTest, ActionLogOpensCentredOnTheLogAndGoesWhenClosed)
{
    auto form = MakeForm();
    form->Configuration().ApplicationSettings.Log = true;
    form->AddLogEntry(QStringLiteral("Connected"));
    form->AddLogEntry(QStringLiteral("Checking for messages"));
    ShowAndWait(*form);
    form->setGeometry(101, 77, 600, 451);
    ASSERT_TRUE(WaitFor([&] { return form->geometry() == QRect(101, 77, 600, 451); }));

    QRect seen;
    int rows = -1;
    QTimer::singleShot(0, form.get(), [&] {
        auto* dialog = qobject_cast<TLogForm*>(QApplication::activeModalWidget());
        if (dialog == nullptr)
            return;
        seen = dialog->geometry();
        rows = dialog->findChild<QTreeWidget*>(QStringLiteral("lvLog"))->topLevelItemCount();
        dialog->findChild<QPushButton*>(QStringLiteral("btnClose"))->click();
    });
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] {
        if (QWidget* modal = QApplication::activeModalWidget())
            modal->close();
    });
    guard.start(5000);
    form->findChild<QToolButton*>(QStringLiteral("tbtnLog"))->click();

    EXPECT_EQ(rows, 2);
    ASSERT_TRUE(seen.isValid()) << "the log window was not shown modally";
    EXPECT_EQ(seen.left(), 101 + (600 - seen.width()) / 2);
    EXPECT_EQ(seen.top(), 77 + (451 - seen.height()) / 2);
    EXPECT_EQ(form->findChild<TLogForm*>(), nullptr) << "destroyed after its modal loop";
}

TEST_F(TMainFormTest, LogKeepsTheNewestEntriesOnly)
{
    TLogList log;
    for (std::size_t entry = 0; entry <= TLogList::MaxEntries + 1; ++entry)
        log.Add({QString(), QString::number(entry)});
    ASSERT_EQ(log.Count(), TLogList::MaxEntries);
    EXPECT_EQ(log[0].Action, QStringLiteral("2"));
    EXPECT_EQ(log[log.Count() - 1].Action, QString::number(TLogList::MaxEntries + 1));
}

} // namespace
