#include "gui/MailOperations.h"

#include "gui/CheckTimer.h"
#include "gui/MailView.h"
#include "gui/SettingsFrm.h"
#include "tests/support/FakeMailbox.h"
#include "tests/support/FakePop3Server.h"
#include "tests/support/PopServers.h"
#include "tests/ui/MailSupport.h"

#include <QAction>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

namespace {

std::string Mail(const std::string& subject)
{
    return "From: Ann Smith <ann@example.org>\r\nTo: alice@example.org\r\nSubject: " + subject +
           "\r\nDate: Sun, 06 Dec 2026 20:07:05 +0000\r\n\r\nHello.\r\n";
}

std::vector<std::string> Mails(int count)
{
    std::vector<std::string> mails;
    for (int n = 1; n <= count; ++n)
        mails.push_back(Mail("message " + std::to_string(n)));
    return mails;
}

const QRegularExpression Summary(
    QStringLiteral("^Mail Check completed at \\d{1,2}:\\d{2}:\\d{2}.* with (\\d+) error\\(s\\)$"));
const QRegularExpression
    TrayTotals(QStringLiteral("^Total: (\\d+), New: (\\d+) at \\d{1,2}:\\d{2}:\\d{2}"));

// A window with one account on a fake mailbox that serves the given number of sessions.
class MailOperationsTest : public ::testing::Test
{
protected:
    void Serve(int sessions)
    {
        Box.ServeOn(Server, sessions);
        Server.Start();
        Window.AddAccount("Home", Server.Port());
    }

    // The Total and New panels of the last check.
    std::pair<QString, QString> Counts() const
    {
        return {Window.Form->StatusText(0), Window.Form->StatusText(1)};
    }

    // The mailbox outlives the server, whose thread may still answer a QUIT from it.
    TFakeMailbox Box;
    TFakePop3Server Server;
    TMailWindow Window;
};

using TCounts = std::pair<QString, QString>;

TCounts Expect(int total, int fresh)
{
    return {QStringLiteral("Total: %1").arg(total), QStringLiteral("New: %1").arg(fresh)};
}

// A view that answers the start guard's questions as a test sets them and counts what the
// controller asks of it.
class TGuardView : public IMailView
{
public:
    bool Online = true;
    bool Selection = false;
    bool Answer = true;
    // Runs while the question waits for the answer.
    std::function<void()> WhileAsked;
    int OfflineReports = 0;
    int Questions = 0;

    bool IsOnline() const override { return Online; }
    int MessageCount() const override { return 0; }
    std::vector<TMessageRow> SelectedMessages() const override
    {
        if (!Selection)
            return {};
        TMessageRow row;
        row.Account = std::make_shared<TAccount>();
        return {row};
    }
    void BeginCheck() override {}
    void AddMessage(const TMessageRow&) override {}
    void EndCheck(const std::vector<std::size_t>&) override {}
    void ShowPreview(const TMessagePreview&) override {}
    void SetStatusText(int, const QString&) override {}
    void SetTrayHint(const QString&) override {}
    void WirePOP3Status(const QString&) override {}
    void AddLogEntry(const QString&) override {}
    void ReportOffline() override { ++OfflineReports; }
    bool ConfirmDeletion() override
    {
        ++Questions;
        if (WhileAsked)
            WhileAsked();
        return Answer;
    }
    void AnnounceMail(const TMailNotice&) override {}
    void ShowFailedAccounts(const std::vector<TAccountFailure>&) override {}
};

} // namespace

// The start guard

TEST(MailOperationsGuardTest, OneGuardDecidesForCheckPreviewAndDeletion)
{
    struct TCase
    {
        const char* Name;
        bool Online;
        bool Busy;
        bool Selection;
        // Starts of the check, the preview and the deletion.
        int Check;
        int Preview;
        int Delete;
    };
    const TCase cases[] = {
        {"idle with a selected row", true, false, true, 1, 1, 1},
        {"idle with nothing selected", true, false, false, 1, 0, 0},
        {"busy", true, true, true, 0, 0, 0},
        {"offline", false, false, true, 0, 0, 0},
        {"offline and busy", false, true, true, 0, 0, 0},
    };
    for (const TCase& test : cases) {
        SCOPED_TRACE(test.Name);
        TGuardView view;
        view.Online = test.Online;
        view.Selection = test.Selection;
        TConfiguration configuration;
        TMailOperationsController controller(view, configuration);
        int checks = 0;
        int previews = 0;
        int deletes = 0;
        TMailOperations operations;
        operations.StartCheck = [&] { ++checks; };
        operations.StartPreview = [&] { ++previews; };
        operations.StartDelete = [&] { ++deletes; };
        controller.SetOperations(operations);
        controller.Busy = test.Busy;

        controller.CheckNow();
        controller.PreviewMessage();
        controller.DeleteSelected();

        EXPECT_EQ(checks, test.Check);
        EXPECT_EQ(previews, test.Preview);
        EXPECT_EQ(deletes, test.Delete);
        EXPECT_EQ(view.Questions, test.Delete) << "the question only once the guard agrees";
        EXPECT_EQ(view.OfflineReports, test.Online ? 0 : 3) << "offline is said, even when busy";
        EXPECT_TRUE(configuration.Notification.CheckTimer->Enabled())
            << "Check Now restarts the check timer whatever the guard says";
    }
}

TEST(MailOperationsGuardTest, TheAnswerStartsTheDeletionOnlyWhileItMayStillStart)
{
    TGuardView view;
    view.Selection = true;
    TConfiguration configuration;
    TMailOperationsController controller(view, configuration);
    int deletes = 0;
    TMailOperations operations;
    operations.StartDelete = [&] { ++deletes; };
    controller.SetOperations(operations);

    view.Answer = false;
    controller.DeleteSelected();
    EXPECT_EQ(deletes, 0) << "no";

    // The check timer keeps running while the question waits.
    view.Answer = true;
    view.WhileAsked = [&] { controller.Busy = true; };
    controller.DeleteSelected();
    EXPECT_EQ(deletes, 0) << "a check started meanwhile";
    controller.Busy = false;

    view.WhileAsked = [&] { view.Online = false; };
    controller.DeleteSelected();
    EXPECT_EQ(deletes, 0) << "offline meanwhile";
    EXPECT_EQ(view.OfflineReports, 1);

    view.Online = true;
    view.WhileAsked = nullptr;
    controller.DeleteSelected();
    EXPECT_EQ(deletes, 1);
    EXPECT_EQ(view.Questions, 4);
}

// Totals and summary

TEST_F(MailOperationsTest, NewCountIsTheGrowthOfTheTotalAndNeverNegative)
{
    // A server without unique ids: only the totals tell what is new.
    Box.RefuseUidl = true;
    Serve(4);
    TMainForm& form = *Window.Form;

    Box.SetMessages(Mails(4));
    ASSERT_TRUE(Window.Check());
    EXPECT_EQ(Counts(), Expect(4, 4)) << "first check after start";
    EXPECT_EQ(form.MailOperationsController().LastTotal, 4);
    const QRegularExpressionMatch hint = TrayTotals.match(form.TrayHint());
    ASSERT_TRUE(hint.hasMatch()) << form.TrayHint().toStdString();
    EXPECT_EQ(hint.captured(1), QStringLiteral("4"));
    EXPECT_EQ(hint.captured(2), QStringLiteral("4"));
    const QRegularExpressionMatch summary = Summary.match(form.StatusText(2));
    ASSERT_TRUE(summary.hasMatch()) << form.StatusText(2).toStdString();
    EXPECT_EQ(summary.captured(1), QStringLiteral("0"));

    ASSERT_TRUE(Window.Check());
    EXPECT_EQ(Counts(), Expect(4, 0)) << "the same four messages";

    Box.AddMessage(Mail("arrived"));
    ASSERT_TRUE(Window.Check());
    EXPECT_EQ(Counts(), Expect(5, 1)) << "one more arrived";

    Box.SetMessages(Mails(3));
    ASSERT_TRUE(Window.Check());
    EXPECT_EQ(Counts(), Expect(3, 0)) << "two deleted elsewhere, one arrived";
    EXPECT_EQ(form.MailOperationsController().LastTotal, 3);
    EXPECT_EQ(Window.RowCount(), 3);
}

namespace {

// The subjects of the rows shown in bold, in list order.
QStringList BoldSubjects(const TMailWindow& window)
{
    QStringList subjects;
    for (int index = 0; index < window.RowCount(); ++index) {
        const QTreeWidgetItem* item = window.Form->lvNotification->topLevelItem(index);
        if (item->font(2).bold() && item->font(0).bold())
            subjects.append(item->text(2));
    }
    return subjects;
}

} // namespace

// Before, one message removed elsewhere and one arrived read "New: 0" and announced nothing.
TEST_F(MailOperationsTest, NewIsWhatTheLastCheckDidNotListByUniqueId)
{
    Box.SetMessages(Mails(3));
    Serve(3);
    TMainForm& form = *Window.Form;
    ASSERT_TRUE(Window.Check());
    EXPECT_EQ(Counts(), Expect(3, 3)) << "first check after start";
    EXPECT_EQ(BoldSubjects(Window).size(), 3);
    EXPECT_EQ(form.MailOperationsController().LastTotal, 0) << "kept for servers without ids";

    ASSERT_TRUE(Window.Check());
    EXPECT_EQ(Counts(), Expect(3, 0));
    EXPECT_TRUE(BoldSubjects(Window).isEmpty());

    Box.RemoveMessage(0);
    Box.AddMessage(Mail("arrived"));
    form.Configuration().Notification.NotifyOnlyWhenNew = true;
    QSignalSpy animation(&form, &TMainForm::TrayAnimationChanged);
    ASSERT_TRUE(Window.Check());
    EXPECT_EQ(Counts(), Expect(3, 1)) << "one removed elsewhere, one arrived";
    EXPECT_EQ(BoldSubjects(Window), QStringList{QStringLiteral("arrived")});
    ASSERT_FALSE(animation.isEmpty());
    EXPECT_TRUE(animation.last()[0].toBool()) << "the newcomer is announced";
}

// Before, a check with nothing to check ended with "Mail Check completed ... with 0 error(s)", as
// if every mailbox had been looked at and found empty.
TEST_F(MailOperationsTest, NoAccountIncludedSaysSoInsteadOfASummary)
{
    TMainForm& form = *Window.Form;
    Window.AddAccount("Off", FreeLoopbackPort())->Include = false;
    QSignalSpy animation(&form, &TMainForm::TrayAnimationChanged);
    form.MailOperationsController().LastTotal = 2;
    ASSERT_TRUE(Window.Check());
    EXPECT_EQ(Counts(), TCounts()) << "the list and its counts are emptied";
    EXPECT_EQ(form.StatusText(2), QStringLiteral("No account to check: add one in Settings"));
    EXPECT_EQ(form.TrayHint(), form.StatusText(2));
    EXPECT_EQ(form.MailOperationsController().LastTotal, 2) << "no check ran";
    ASSERT_EQ(animation.count(), 1);
    EXPECT_FALSE(animation[0][0].toBool()) << "nothing is announced";
    EXPECT_TRUE(form.CheckTimer().Enabled()) << "a Check Now all the same";
}

// Rows

TEST_F(MailOperationsTest, RowsCarryTheirTextsAndAccountAndArriveWhileTheCheckRuns)
{
    Box.SetMessages({"From: <ann@example.org>\r\nTo: alice@example.org, bob@example.org\r\n"
                     "Subject: =?UTF-8?Q?Gr=C3=BC=C3=9Fe?=\r\nMessage-ID: <one@example.org>\r\n"
                     "Date: Sun, 06 Dec 2026 20:07:05 +0000\r\n\r\nHello.\r\n",
                     Mail("second")});
    Box.SetDelay(80);
    Serve(1);
    TMainForm& form = *Window.Form;

    form.actNotificationCheckNowExecute();
    EXPECT_TRUE(form.MailOperationsController().Busy);
    ASSERT_TRUE(WaitFor([&] { return Window.RowCount() == 1; }, 5000));
    EXPECT_TRUE(form.MailOperationsController().Busy)
        << "the first row shows before the check ends";
    ASSERT_TRUE(WaitFor([&] { return !form.MailOperationsController().Busy; }, 5000));

    ASSERT_EQ(Window.RowCount(), 2);
    const QStringList texts = Window.Texts(0);
    ASSERT_EQ(texts.size(), 9);
    EXPECT_EQ(texts[0], QStringLiteral("Home"));
    EXPECT_EQ(texts[1], QStringLiteral("ann@example.org")) << "no name: the address";
    EXPECT_EQ(texts[2], QStringLiteral("Grüße"));
    EXPECT_TRUE(texts[3].endsWith(QStringLiteral("2026 20:07:05"))) << texts[3].toStdString();
    EXPECT_EQ(texts[5], QStringLiteral("alice@example.org,bob@example.org"));
    EXPECT_EQ(texts[6], QStringLiteral("ann@example.org"));
    EXPECT_EQ(texts[7], QStringLiteral("1"));
    EXPECT_EQ(texts[8], QStringLiteral("<one@example.org>"));
    for (int column = 0; column < 5; ++column)
        EXPECT_EQ(form.lvNotification->topLevelItem(0)->text(column), texts[column]);
    EXPECT_EQ(Window.Row(1)->Text(7), QStringLiteral("2"));
    EXPECT_EQ(Window.Row(1)->Account(), form.Configuration().Accounts.front());
    EXPECT_TRUE(form.lvNotification->selectedItems().isEmpty());
}

TEST_F(MailOperationsTest, CheckStartHidesThePreviewAndEmptiesTheListAndThePanels)
{
    Box.SetMessages(Mails(1));
    Box.SetDelay(50);
    Serve(1);
    TMainForm& form = *Window.Form;
    form.lvNotification->addTopLevelItem(new QTreeWidgetItem(QStringList{"Old", "row"}));
    form.lvNotification->topLevelItem(0)->setSelected(true);
    form.ShowMessagePreview();
    form.lblFrom->setText(QStringLiteral("Someone"));
    form.memMessage->setPlainText(QStringLiteral("Body"));
    form.SetStatusText(0, QStringLiteral("Total: 9"));
    form.MailOperationsController().ErrorCount = 7;

    form.actNotificationCheckNowExecute();
    EXPECT_FALSE(form.MessagePreviewShown());
    EXPECT_TRUE(form.lblFrom->text().isEmpty());
    EXPECT_TRUE(form.memMessage->toPlainText().isEmpty());
    EXPECT_EQ(Window.RowCount(), 0);
    EXPECT_EQ(form.StatusText(0), QString());
    EXPECT_EQ(form.MailOperationsController().ErrorCount, 0);
    ASSERT_TRUE(WaitFor([&] { return !form.MailOperationsController().Busy; }, 5000));
    EXPECT_EQ(Window.RowCount(), 1);
    EXPECT_TRUE(form.lvNotification->selectedItems().isEmpty());
}

TEST_F(MailOperationsTest, ListAndAccountsMayChangeUnderARunningCheck)
{
    Box.SetMessages(Mails(3));
    Box.SetDelay(60);
    Serve(1);
    TMainForm& form = *Window.Form;
    std::weak_ptr<TAccount> account = form.Configuration().Accounts.front();

    form.actNotificationCheckNowExecute();
    ASSERT_TRUE(WaitFor([&] { return Window.RowCount() == 1; }, 5000));
    // The user goes offline and removes the account in the settings meanwhile.
    form.ReportOffline();
    form.Configuration().Accounts.clear();
    EXPECT_EQ(Window.RowCount(), 0);
    ASSERT_TRUE(WaitFor([&] { return !form.MailOperationsController().Busy; }, 5000));

    EXPECT_EQ(Window.RowCount(), 2) << "the rows that came after";
    EXPECT_EQ(form.StatusText(0), QStringLiteral("Total: 2"));
    ASSERT_NE(Window.Row(0), nullptr);
    EXPECT_EQ(Window.Row(0)->Text(0), QStringLiteral("Home"));
    EXPECT_FALSE(account.expired()) << "the rows keep the removed account";
}

// Notification

TEST_F(MailOperationsTest, WithoutNotifyOnlyWhenNewEveryCheckThatFindsMailNotifies)
{
    Box.SetMessages(Mails(2));
    Serve(3);
    TMainForm& form = *Window.Form;
    const std::string sound = Window.Dir.File("mail.wav");
    WriteFile(sound, "RIFF");
    TNotification& notification = form.Configuration().Notification;
    notification.NotifyOnlyWhenNew = false;
    notification.StartClient = true;
    notification.MailClient = sound;
    form.UpdateActions();
    notification.PlaySound = true;
    notification.Sound = sound;
    QSignalSpy animation(&form, &TMainForm::TrayAnimationChanged);
    QSignalSpy sounds(&form, &TMainForm::NotificationSoundRequested);
    QSignalSpy client(form.actNotificationStartMailClient, &QAction::triggered);

    ASSERT_TRUE(Window.Check());
    ASSERT_EQ(animation.count(), 2);
    EXPECT_FALSE(animation[0][0].toBool()) << "stopped as the check starts";
    EXPECT_TRUE(animation[1][0].toBool()) << "started as it notifies";
    EXPECT_EQ(client.count(), 1);
    ASSERT_EQ(sounds.count(), 1);
    EXPECT_EQ(sounds[0][0].toString(), QString::fromStdString(sound));

    ASSERT_TRUE(Window.Check());
    EXPECT_EQ(form.StatusText(1), QStringLiteral("New: 0"));
    EXPECT_EQ(animation.count(), 4) << "nothing new, notified again";
    EXPECT_EQ(client.count(), 2);
    EXPECT_EQ(sounds.count(), 2);

    notification.StartClient = false;
    notification.Sound = Window.Dir.File("missing.wav");
    ASSERT_TRUE(Window.Check());
    EXPECT_EQ(animation.count(), 6);
    EXPECT_EQ(client.count(), 2) << "StartClient is off";
    EXPECT_EQ(sounds.count(), 2) << "a missing file plays nothing";
}

TEST_F(MailOperationsTest, WithNotifyOnlyWhenNewOnlyAGrowingTotalNotifies)
{
    Box.SetMessages(Mails(2));
    Serve(3);
    TMainForm& form = *Window.Form;
    const std::string sound = Window.Dir.File("mail.wav");
    WriteFile(sound, "RIFF");
    TNotification& notification = form.Configuration().Notification;
    notification.NotifyOnlyWhenNew = true;
    notification.PlaySound = true;
    notification.Sound = sound;
    QSignalSpy animation(&form, &TMainForm::TrayAnimationChanged);
    QSignalSpy sounds(&form, &TMainForm::NotificationSoundRequested);
    QSignalSpy client(form.actNotificationStartMailClient, &QAction::triggered);

    ASSERT_TRUE(Window.Check());
    EXPECT_EQ(animation.count(), 2);
    EXPECT_EQ(sounds.count(), 1);
    EXPECT_EQ(client.count(), 0);

    ASSERT_TRUE(Window.Check());
    ASSERT_EQ(animation.count(), 3) << "the same total: only stopped";
    EXPECT_FALSE(animation[2][0].toBool());
    EXPECT_EQ(sounds.count(), 1);

    Box.AddMessage(Mail("new"));
    ASSERT_TRUE(Window.Check());
    EXPECT_EQ(animation.count(), 5);
    EXPECT_TRUE(animation[4][0].toBool());
    EXPECT_EQ(sounds.count(), 2);
}

// Errors and the end of the program

TEST_F(MailOperationsTest, LostSessionIsCountedAndItsTextShownWithTheRowsBeforeIt)
{
    Server.CheckOpening("+OK 2 200")
        .Receive("TOP 1 0")
        .Send("+OK\r\nFrom: Ann <ann@example.org>\r\nSubject: kept\r\n\r\n.\r\n")
        .Receive("LIST 1")
        .Reply("+OK 1 100")
        .Receive("TOP 2 0")
        .Close();
    Server.Start();
    Window.AddAccount("Home", Server.Port());
    TMainForm& form = *Window.Form;
    form.Configuration().ApplicationSettings.Log = true;

    ASSERT_TRUE(Window.Check());
    EXPECT_EQ(Window.RowCount(), 1);
    EXPECT_EQ(form.MailOperationsController().ErrorCount, 1);
    const QRegularExpressionMatch summary = Summary.match(form.StatusText(2));
    ASSERT_TRUE(summary.hasMatch()) << form.StatusText(2).toStdString();
    EXPECT_EQ(summary.captured(1), QStringLiteral("1"));
    EXPECT_TRUE(Window.LogActions().contains(QStringLiteral("Connection Closed Gracefully.")))
        << Window.LogActions().join(u'|').toStdString();
}

TEST_F(MailOperationsTest, ClosingTheProgramDuringACheckEndsItAtOnce)
{
    // A server that accepts and then says nothing.
    Server.Send("").Pause(20000);
    Server.Start();
    Window.AddAccount("Silent", Server.Port());
    Window.Form->MailOperationsController().Timeout = 20000;
    Window.Form->actNotificationCheckNowExecute();
    ASSERT_TRUE(WaitFor([&] { return Server.Connections() == 1; }, 5000));

    QElapsedTimer clock;
    clock.start();
    Window.Form.reset();
    EXPECT_LT(clock.elapsed(), 2000);
}

// Before, Stop was seen only between messages, so a silent server held the check for the whole
// time-out; now Stop breaks the wait off and the check ends as a stopped check does.
TEST_F(MailOperationsTest, StopEndsAWaitOnASilentServerAtOnceAndLogsTheStop)
{
    Box.SetMessages(Mails(2));
    Serve(1);
    TFakePop3Server silent;
    silent.Send("").Pause(20000);
    silent.Start();
    Window.AddAccount("Silent", silent.Port());
    Window.AddAccount("Later", FreeLoopbackPort());
    TMainForm& form = *Window.Form;
    form.Configuration().ApplicationSettings.Log = true;
    form.MailOperationsController().Timeout = 20000;
    form.actNotificationCheckNowExecute();
    ASSERT_TRUE(WaitFor([&] { return silent.Connections() == 1 && Window.RowCount() == 2; }, 5000));
    ASSERT_TRUE(form.actNotificationStop->isEnabled()) << "an operation runs";

    QElapsedTimer clock;
    clock.start();
    form.actNotificationStop->trigger();
    ASSERT_TRUE(WaitFor([&] { return !form.MailOperationsController().Busy; }, 5000));
    EXPECT_LT(clock.elapsed(), 2000);
    EXPECT_EQ(Window.RowCount(), 2) << "the rows so far";
    EXPECT_EQ(Counts(), Expect(2, 2));
    const QRegularExpressionMatch summary = Summary.match(form.StatusText(2));
    ASSERT_TRUE(summary.hasMatch()) << form.StatusText(2).toStdString();
    EXPECT_EQ(summary.captured(1), QStringLiteral("0")) << "stopping is no error";
    const QStringList log = Window.LogActions();
    EXPECT_EQ(log.last(), QStringLiteral("Mail Check stopped.")) << log.join(u'|').toStdString();
    EXPECT_FALSE(log.join(u'|').contains(QStringLiteral("ERROR"))) << log.join(u'|').toStdString();
    EXPECT_FALSE(form.actNotificationStop->isEnabled());
}

// Preview

namespace {

const std::string WithAttachments =
    "From: Ann Smith <ann@example.org>\r\nTo: alice@example.org, bob@example.org\r\n"
    "Subject: Report\r\nDate: Sun, 06 Dec 2026 20:07:05 +0000\r\nMessage-ID: <r@x>\r\n"
    "Content-Type: multipart/mixed;\r\n\tboundary=\"b1\"\r\n\r\n--b1\r\n"
    "Content-Type: text/plain\r\n\r\nLine 1\r\nLine 2\r\nLine 3\r\n--b1\r\n"
    "Content-Type: text/plain; name=\"a.txt\"\r\n\r\nA\r\n--b1\r\n"
    "Content-Type: text/plain; name=\"b.txt\"\r\n\r\nB\r\n--b1--\r\n";

const QRegularExpression PreviewSummary(QStringLiteral(
    "^Message Preview completed at \\d{1,2}:\\d{2}:\\d{2}.* with (\\d+) error\\(s\\)$"));

// Selects rows by index and previews; false when the preview did not end in time.
bool PreviewRows(TMailWindow& window, std::initializer_list<int> rows)
{
    TMainForm& form = *window.Form;
    form.lvNotification->clearSelection();
    for (const int row : rows)
        form.lvNotification->topLevelItem(row)->setSelected(true);
    form.actViewMessagePreviewExecute();
    return WaitFor([&] { return !form.MailOperationsController().Busy; }, 5000);
}

} // namespace

// Before, every interval check closed the preview being read and cleared the selection.
TEST_F(MailOperationsTest, ARefreshKeepsTheSelectionAndTheOpenPreviewOfMessagesStillThere)
{
    Box.SetMessages(Mails(3));
    Serve(4);
    TMainForm& form = *Window.Form;
    ASSERT_TRUE(Window.Check());
    ASSERT_TRUE(PreviewRows(Window, {1, 2}));
    ASSERT_TRUE(form.MessagePreviewShown());
    EXPECT_EQ(form.lblSubject->text(), QStringLiteral("message 2"));

    Box.RemoveMessage(0);
    ASSERT_TRUE(Window.Check());
    EXPECT_TRUE(form.MessagePreviewShown()) << "its message is listed again";
    EXPECT_EQ(form.lblSubject->text(), QStringLiteral("message 2"));
    const IMailView& view = form;
    const std::vector<TMessageRow> selected = view.SelectedMessages();
    ASSERT_EQ(selected.size(), 2u);
    EXPECT_EQ(selected[0].Subject, "message 2");
    EXPECT_EQ(selected[0].Number, "1") << "under its new number, for the next operation";
    EXPECT_EQ(selected[1].Subject, "message 3");
    // The selection moved to the same message: nothing is previewed again.
    QTest::qWait(400);
    EXPECT_EQ(Server.Connections(), 3);

    Box.RemoveMessage(0);
    ASSERT_TRUE(Window.Check());
    EXPECT_FALSE(form.MessagePreviewShown()) << "its message is gone";
    ASSERT_EQ(view.SelectedMessages().size(), 1u);
    EXPECT_EQ(view.SelectedMessages()[0].Subject, "message 3");
}

TEST_F(MailOperationsTest, PreviewFillsThePaneAndTheNextReplacesIt)
{
    std::string longBody = WithAttachments;
    for (int n = 4; n <= 60; ++n)
        longBody.insert(longBody.find("--b1\r\nContent-Type: text/plain; name"),
                        "Line " + std::to_string(n) + "\r\n");
    Box.SetMessages({Mail("plain"), longBody});
    Serve(4);
    TMainForm& form = *Window.Form;
    form.Configuration().ApplicationSettings.MessagePreview = 100;
    form.resize(700, 500);
    ASSERT_TRUE(Window.Check());

    ASSERT_TRUE(PreviewRows(Window, {1, 0})) << "the first selected row in list order";
    EXPECT_TRUE(form.MessagePreviewShown());
    EXPECT_EQ(form.lblSubject->text(), QStringLiteral("plain"));
    EXPECT_FALSE(form.lblAttachments->isVisibleTo(&form));
    EXPECT_FALSE(form.lblAttachmentsTitle->isVisibleTo(&form));
    EXPECT_EQ(form.memMessage->toPlainText(), QStringLiteral("Hello."));

    ASSERT_TRUE(PreviewRows(Window, {1}));
    EXPECT_TRUE(form.MessagePreviewShown());
    EXPECT_EQ(form.lblFrom->text(), QStringLiteral("Ann Smith <ann@example.org>"));
    EXPECT_EQ(form.lblTo->text(), QStringLiteral("alice@example.org, bob@example.org"));
    EXPECT_EQ(form.lblSubject->text(), QStringLiteral("Report"));
    EXPECT_TRUE(form.lblAttachments->isVisibleTo(&form));
    EXPECT_TRUE(form.lblAttachmentsTitle->isVisibleTo(&form));
    EXPECT_EQ(form.lblAttachments->text(), QStringLiteral("a.txt, b.txt"));
    EXPECT_EQ(form.lblToTitle->x(), form.lblFrom->x() + form.lblFrom->width() + 10);
    EXPECT_EQ(form.lblAttachmentsTitle->x(), form.lblSubject->x() + form.lblSubject->width() + 10);
    EXPECT_TRUE(form.memMessage->toPlainText().contains(QStringLiteral("Line 1\nLine 2\n")))
        << form.memMessage->toPlainText().left(80).toStdString();
    EXPECT_TRUE(form.memMessage->toPlainText().contains(QStringLiteral("Line 60")));
    EXPECT_EQ(form.memMessage->textCursor().position(), 0);
    EXPECT_FALSE(form.memMessage->textCursor().hasSelection());
    const QRegularExpressionMatch summary = PreviewSummary.match(form.StatusText(2));
    ASSERT_TRUE(summary.hasMatch()) << form.StatusText(2).toStdString();
    EXPECT_EQ(summary.captured(1), QStringLiteral("0"));
    EXPECT_NE(form.TrayHint(), form.StatusText(2)) << "the completion line is not a tray hint";

    const std::vector<std::string> commands = Server.Commands();
    EXPECT_NE(std::find(commands.begin(), commands.end(), "Top 2 100"), commands.end());
}

TEST_F(MailOperationsTest, PreviewOfAMessageGoneSinceTheCheckShowsNothingAndLogs)
{
    Box.SetMessages({Mail("one"), Mail("two")});
    Serve(2);
    TMainForm& form = *Window.Form;
    form.Configuration().ApplicationSettings.Log = true;
    ASSERT_TRUE(Window.Check());
    Box.SetMessages({Mail("two")});

    ASSERT_TRUE(PreviewRows(Window, {0}));
    EXPECT_FALSE(form.MessagePreviewShown());
    EXPECT_EQ(form.MailOperationsController().ErrorCount, 1);
    EXPECT_TRUE(
        Window.LogActions().contains(QStringLiteral("ERROR - Message Preview on Home failed.")))
        << Window.LogActions().join(u'|').toStdString();
    const QRegularExpressionMatch summary = PreviewSummary.match(form.StatusText(2));
    ASSERT_TRUE(summary.hasMatch()) << form.StatusText(2).toStdString();
    EXPECT_EQ(summary.captured(1), QStringLiteral("1"));
}

// Before, a corrected account went into a new record, and the rows listed before kept the old
// one: preview and delete still logged in with the old values until the next check.
TEST_F(MailOperationsTest, RowsListedBeforeUseTheAccountAsSavedSince)
{
    Box.SetMessages(Mails(1));
    Serve(2);
    TMainForm& form = *Window.Form;
    ASSERT_TRUE(Window.Check());
    {
        TSettingsForm settings(Window.Store, Window.Dialogs.Make(), TStartupShortcut(), &form);
        settings.AttachConfiguration(form.Configuration());
        settings.tvOptionExplorer->setCurrentItem(
            settings.tvOptionExplorer
                ->findItems(QStringLiteral("Home"), Qt::MatchExactly | Qt::MatchRecursive)
                .value(0));
        ASSERT_EQ(settings.ActivePage(), QStringLiteral("Account"));
        settings.edtPassword->setText(QStringLiteral("corrected"));
        settings.btnSaveAccount->click();
        settings.done(QDialog::Accepted);
    }
    ASSERT_TRUE(PreviewRows(Window, {0}));
    const std::vector<std::string> commands = Server.Commands();
    EXPECT_NE(std::find(commands.begin(), commands.end(), "Pass corrected"), commands.end());
}

// Deletion

TEST_F(MailOperationsTest, DeletionAsksFirstAndNoLeavesEverythingAlone)
{
    Box.SetMessages(Mails(3));
    Serve(3);
    TMainForm& form = *Window.Form;
    ASSERT_TRUE(Window.Check());
    form.lvNotification->topLevelItem(2)->setSelected(true);
    form.lvNotification->topLevelItem(0)->setSelected(true);

    Window.Dialogs.Answer = false;
    form.actNotificationDeleteMessagesExecute();
    EXPECT_FALSE(form.MailOperationsController().Busy);
    EXPECT_EQ(Window.Dialogs.Questions,
              QStringList{QStringLiteral(
                  "Delete 2 messages from Home? They are removed from the server.")});
    EXPECT_EQ(Server.Connections(), 1) << "no session for No";
    EXPECT_EQ(Box.Messages().size(), 3u);

    Window.Dialogs.Answer = true;
    form.actNotificationDeleteMessagesExecute();
    EXPECT_TRUE(form.MailOperationsController().Busy);
    ASSERT_TRUE(WaitFor(
        [&] { return Server.Connections() == 3 && !form.MailOperationsController().Busy; }, 10000))
        << "the deletion, then the refreshing check";
    EXPECT_EQ(Box.Messages(), std::vector<std::string>{Mail("message 2")});
    EXPECT_EQ(Window.RowCount(), 1);
    EXPECT_EQ(Counts(), Expect(1, 0)) << "LastTotal went down by the two deleted";
}

TEST_F(MailOperationsTest, StoppedDeletionRunsNoRefreshingCheck)
{
    Box.RefuseUidl = true;
    Box.SetMessages(Mails(3));
    Box.SetDelay(40);
    Serve(3);
    TMainForm& form = *Window.Form;
    ASSERT_TRUE(Window.Check());
    form.actNotificationSelectAllExecute();
    Box.SetOnCommand([&](const std::string& command) {
        if (command == "DELE 1")
            QMetaObject::invokeMethod(&form, [&] { form.actNotificationStopExecute(); });
    });

    form.Configuration().ApplicationSettings.Log = true;
    form.actNotificationDeleteMessagesExecute();
    ASSERT_TRUE(WaitFor([&] { return !form.MailOperationsController().Busy; }, 10000));
    QCoreApplication::processEvents();
    EXPECT_EQ(Server.Connections(), 2) << "no check after Stop";
    EXPECT_EQ(Window.RowCount(), 3) << "the list still shows the rows";
    // Stop broke the session off before QUIT: the server keeps the message, and LastTotal
    // counts it still, so the next check does not announce it as new.
    QThread::msleep(300);
    EXPECT_EQ(Box.Messages().size(), 3u);
    EXPECT_EQ(form.MailOperationsController().LastTotal, 3);
    EXPECT_EQ(Window.LogActions().last(), QStringLiteral("Deletion stopped."));
}

TEST_F(MailOperationsTest, EachDeletionIsLoggedOnceItsSessionEnded)
{
    Box.SetMessages(Mails(3));
    Serve(3);
    TMainForm& form = *Window.Form;
    form.Configuration().ApplicationSettings.Log = true;
    ASSERT_TRUE(Window.Check());
    form.lvNotification->topLevelItem(0)->setSelected(true);
    form.lvNotification->topLevelItem(2)->setSelected(true);

    form.actNotificationDeleteMessagesExecute();
    ASSERT_TRUE(WaitFor(
        [&] { return Server.Connections() == 3 && !form.MailOperationsController().Busy; }, 10000));
    const QStringList log = Window.LogActions();
    EXPECT_TRUE(log.contains(QStringLiteral("Deleted message 1 (\"message 1\") on Home.")));
    EXPECT_TRUE(log.contains(QStringLiteral("Deleted message 3 (\"message 3\") on Home.")));
}

TEST_F(MailOperationsTest, DeletionEndingOfflineRunsNoRefreshingCheckAndSaysSo)
{
    Box.SetMessages(Mails(3));
    Serve(3);
    TMainForm& form = *Window.Form;
    ASSERT_TRUE(Window.Check());
    form.CheckTimer().SetEnabled(false);
    form.lvNotification->topLevelItem(0)->setSelected(true);
    Box.SetOnCommand([&](const std::string& command) {
        if (command == "DELE 1")
            QMetaObject::invokeMethod(&form, [&] {
                Window.Probes->DialUpIsConnected = false;
                Window.Probes->Flags = 0;
            });
    });

    form.actNotificationDeleteMessagesExecute();
    ASSERT_TRUE(WaitFor([&] { return !form.MailOperationsController().Busy; }, 10000));
    QCoreApplication::processEvents();
    EXPECT_EQ(Server.Connections(), 2) << "no check while offline";
    EXPECT_TRUE(
        form.StatusText(2).startsWith(QStringLiteral("No Internet connection detected at ")))
        << form.StatusText(2).toStdString();
    EXPECT_EQ(Window.RowCount(), 0);
    EXPECT_TRUE(form.CheckTimer().Enabled()) << "the refresh is a Check Now: the timer restarts";
    EXPECT_TRUE(WaitFor([&] { return Box.Messages().size() == 2; }, 5000));
}
