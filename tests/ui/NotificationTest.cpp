// The pop-up of new mail, the failed accounts on the icon, in its hint and in the window's bar,
// and the tray's single activations.
#include "config/Data.h"
#include "config/KeyStore.h"
#include "desktop/DesktopNotifier.h"
#include "desktop/TrayIcon.h"
#include "gui/AccountFailures.h"
#include "gui/MailNotification.h"
#include "gui/SettingsFrm.h"
#include "mail/CheckOutcome.h"
#include "tests/support/FakeMailbox.h"
#include "tests/support/FakePop3Server.h"
#include "tests/ui/FakeTrayArea.h"
#include "tests/ui/MailSupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTcpServer>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

TMessageRow Row(const std::string& from, const std::string& subject,
                const std::string& address = {})
{
    TMessageRow row;
    row.From = from;
    row.Subject = subject;
    row.Address = address;
    return row;
}

// The pop-up's texts

TEST(DesktopNoticeTest, NamesTheCountAndOneSenderAndSubjectPerMessage)
{
    const TDesktopNotice one = DesktopNoticeOf({1, true, {Row("Ann Smith", "Lunch?")}}, false);
    EXPECT_EQ(one.Summary, QStringLiteral("1 new message"));
    EXPECT_EQ(one.Lines, QStringList{QStringLiteral("Ann Smith \u2014 Lunch?")});
    EXPECT_FALSE(one.OfferMailClient);

    // Without a name the address stands in; without either, or without a subject, a word
    // says so.
    const TDesktopNotice waiting = DesktopNoticeOf(
        {3, false, {Row("", "Report", "bob@example.org"), Row("", ""), Row("<b>Eve</b>", " ")}},
        true);
    EXPECT_EQ(waiting.Summary, QStringLiteral("3 messages waiting"));
    EXPECT_EQ(waiting.Lines, (QStringList{QStringLiteral("bob@example.org \u2014 Report"),
                                          QStringLiteral("(unknown sender) \u2014 (no subject)"),
                                          QStringLiteral("<b>Eve</b> \u2014 (no subject)")}));
    EXPECT_TRUE(waiting.OfferMailClient);
}

TEST(DesktopNoticeTest, ListsFiveMessagesAndCountsTheOthers)
{
    TMailNotice notice{7, true, {}};
    for (int n = 1; n <= 7; ++n)
        notice.Messages.push_back(Row("Ann", "message " + std::to_string(n)));
    const TDesktopNotice desktop = DesktopNoticeOf(notice, false);
    EXPECT_EQ(desktop.Summary, QStringLiteral("7 new messages"));
    ASSERT_EQ(desktop.Lines.size(), MaxNoticeLines + 1);
    EXPECT_EQ(desktop.Lines[4], QStringLiteral("Ann \u2014 message 5"));
    EXPECT_EQ(desktop.Lines[5], QStringLiteral("and 2 more"));
}

// The tray hint with failed accounts

struct THintCase
{
    std::vector<std::string> Accounts;
    QString Expected;
};

void PrintTo(const THintCase& hint, std::ostream* out)
{
    *out << hint.Expected.toStdString();
}

class FailedAccountsHintTest : public ::testing::TestWithParam<THintCase>
{};

TEST_P(FailedAccountsHintTest, NamesAsManyAccountsAsFitTheHint)
{
    std::vector<TAccountFailure> failures;
    for (const std::string& account : GetParam().Accounts)
        failures.push_back({account, "refused"});
    const QString hint = FailedAccountsHint(QStringLiteral("Total: 5, New: 1 at 10:02:33"),
                                            failures, TTrayIcon::MaxHintLength);
    EXPECT_EQ(hint, GetParam().Expected);
    EXPECT_LE(hint.size(), TTrayIcon::MaxHintLength);
}

INSTANTIATE_TEST_SUITE_P(
    Hints, FailedAccountsHintTest,
    ::testing::Values(
        THintCase{{}, QStringLiteral("Total: 5, New: 1 at 10:02:33")},
        THintCase{{"Home"},
                  QStringLiteral("Total: 5, New: 1 at 10:02:33 \u2014 1 account failed: Home")},
        THintCase{{"Home", "Work", "Holidays"},
                  QStringLiteral(
                      "Total: 5, New: 1 at 10:02:33 \u2014 3 accounts failed: Home, Work, \u2026")},
        THintCase{{"A", "B", "C"},
                  QStringLiteral("Total: 5, New: 1 at 10:02:33 \u2014 3 accounts failed: A, B, C")},
        THintCase{
            {"The office account of the whole family"},
            QStringLiteral(
                "Total: 5, New: 1 at 10:02:33 \u2014 1 account failed: The office ac\u2026")}),
    [](const ::testing::TestParamInfo<THintCase>& hint) {
        return std::to_string(hint.param.Accounts.size()) + "Failed" + std::to_string(hint.index);
    });

// The window's bar

class FailedAccountsBarTest : public ::testing::Test
{
protected:
    QStringList Names() const
    {
        QStringList names;
        for (const QLabel* label : FBar.findChildren<QLabel*>(QStringLiteral("lblFailedAccount")))
            names.append(label->text());
        return names;
    }

    QWidget FWindow;
    TFailedAccountsBar FBar{&FWindow};
};

TEST_F(FailedAccountsBarTest, NamesEachAccountWithItsReasonAndLeadsToItsSettings)
{
    FWindow.show();
    FBar.SetFailures(
        {{"Home", "Connection refused (127.0.0.1:1)"}, {"<b>Work</b>", "-ERR locked"}});
    ASSERT_TRUE(FBar.isVisible());
    EXPECT_EQ(Names(), (QStringList{QStringLiteral("Home"), QStringLiteral("<b>Work</b>")}));
    QStringList reasons;
    for (const QLabel* label : FBar.findChildren<QLabel*>(QStringLiteral("lblFailureReason"))) {
        reasons.append(label->text());
        EXPECT_EQ(label->textFormat(), Qt::PlainText) << "a server's reply is never markup";
    }
    EXPECT_EQ(reasons, (QStringList{QStringLiteral("Connection refused (127.0.0.1:1)"),
                                    QStringLiteral("-ERR locked")}));
    EXPECT_EQ(FBar.lblFailedAccountsTitle->text(),
              QStringLiteral("The last check could not read 2 accounts:"));

    QStringList requested;
    QObject::connect(&FBar, &TFailedAccountsBar::AccountSettingsRequested,
                     [&](const QString& account) { requested.append(account); });
    const auto buttons = FBar.findChildren<QPushButton*>(QStringLiteral("btnAccountSettings"));
    ASSERT_EQ(buttons.size(), 2);
    buttons[1]->click();
    EXPECT_EQ(requested, QStringList{QStringLiteral("<b>Work</b>")});

    // A check that reads every account takes the bar away.
    FBar.SetFailures({});
    EXPECT_FALSE(FBar.isVisible());
}

TEST_F(FailedAccountsBarTest, StaysClosedWhileTheSameAccountsFailForTheSameReasons)
{
    FWindow.show();
    const std::vector<TAccountFailure> failures = {{"Home", "refused"}};
    FBar.SetFailures(failures);
    FBar.sbtnFailedAccountsClose->click();
    EXPECT_FALSE(FBar.isVisible());
    FBar.SetFailures(failures);
    EXPECT_FALSE(FBar.isVisible()) << "the user has seen this one";
    FBar.SetFailures({{"Home", "timed out"}});
    EXPECT_TRUE(FBar.isVisible()) << "news";
    // Closed, then a good check, then the old failure again: news once more.
    FBar.Dismiss();
    FBar.SetFailures({});
    FBar.SetFailures({{"Home", "timed out"}});
    EXPECT_TRUE(FBar.isVisible());
}

TEST_F(FailedAccountsBarTest, ManyAccountsAreCountedBeyondTheRowsShown)
{
    std::vector<TAccountFailure> failures;
    for (int n = 1; n <= TFailedAccountsBar::MaxRows + 2; ++n)
        failures.push_back({"Account " + std::to_string(n), "refused"});
    FBar.SetFailures(failures);
    EXPECT_EQ(Names().size(), TFailedAccountsBar::MaxRows);
    const auto* more = FBar.findChild<QLabel*>(QStringLiteral("lblFailedAccountsMore"));
    ASSERT_NE(more, nullptr);
    EXPECT_EQ(more->text(), QStringLiteral("and 2 more accounts"));
}

// The tray icon

class TrayIconActivationTest : public ::testing::Test
{
protected:
    TrayIconActivationTest()
    {
        auto area = std::make_unique<TFakeTrayArea>();
        FArea = area.get();
        FTray.SetArea(std::move(area));
        FTray.SetIcon(QIcon(Pixmap(Qt::blue)));
        FTray.SetIcons({QIcon(Pixmap(Qt::green)), QIcon(Pixmap(Qt::yellow))});
        FTray.OnDblClick = [this] { ++FActions; };
    }

    // Red, as the error mark is.
    static bool Marked(const QColor& color)
    {
        return color.red() > 180 && color.green() < 120 && color.blue() < 120;
    }

    static QPixmap Pixmap(Qt::GlobalColor color)
    {
        QPixmap pixmap(16, 16);
        pixmap.fill(color);
        return pixmap;
    }

    TTrayIcon FTray;
    TFakeTrayArea* FArea = nullptr;
    int FActions = 0;
};

TEST_F(TrayIconActivationTest, OneActivationOfAStatusNotifierHostRunsTheActionOnce)
{
    FArea->SingleActivations = true;
    FArea->Click(QSystemTrayIcon::Trigger);
    EXPECT_EQ(FActions, 1);
    // A host that passes on both clicks of a double click.
    FArea->Click(QSystemTrayIcon::Trigger);
    EXPECT_EQ(FActions, 1);

    // An embedded icon waits for the second click.
    FArea->SingleActivations = false;
    QTest::qWait(QApplication::doubleClickInterval() + 50);
    FArea->Click(QSystemTrayIcon::Trigger);
    EXPECT_EQ(FActions, 1);
    FArea->Click(QSystemTrayIcon::Trigger);
    EXPECT_EQ(FActions, 2);
}

TEST_F(TrayIconActivationTest, TheErrorMarkStaysOnStillAndBlinkingImagesUntilTakenOff)
{
    const QImage still = FArea->Image.pixmap(16, 16).toImage();
    FTray.SetBadge(true);
    const QImage marked = FArea->Image.pixmap(16, 16).toImage();
    EXPECT_NE(marked, still);
    // The mark sits in the lower right corner; the upper left keeps the program's image.
    EXPECT_EQ(marked.pixelColor(1, 1), still.pixelColor(1, 1));
    EXPECT_TRUE(Marked(marked.pixelColor(14, 10)));

    FTray.SetAnimated(true);
    const qint64 first = FArea->Image.cacheKey();
    EXPECT_EQ(FArea->Image.pixmap(16, 16).toImage().pixelColor(1, 1), QColor(Qt::green));
    EXPECT_TRUE(Marked(FArea->Image.pixmap(16, 16).toImage().pixelColor(14, 10)));
    FTray.NextFrame();
    FTray.NextFrame();
    EXPECT_EQ(FArea->Image.cacheKey(), first) << "each frame keeps one image, as before";

    FTray.SetAnimated(false);
    FTray.SetBadge(false);
    EXPECT_EQ(FArea->Image.pixmap(16, 16).toImage(), still);
}

// The notifier without a notification service

class DesktopNotifierTest : public TrayIconActivationTest
{
protected:
    TDesktopNotifier FNotifier{&FTray, QDBusConnection(QStringLiteral("no bus"))};
};

TEST_F(DesktopNotifierTest, WithoutAServiceTheTrayBalloonShowsThePopUp)
{
    int shows = 0;
    QObject::connect(&FNotifier, &TNotifier::ShowRequested, [&] { ++shows; });
    // A balloon click before any balloon is someone else's.
    FArea->ClickBalloon();
    EXPECT_EQ(shows, 0);

    FNotifier.Notify(
        {QStringLiteral("2 new messages"),
         {QStringLiteral("Ann \u2014 <b>Hi</b> & bye"), QStringLiteral("Bob \u2014 Re")},
         true});
    EXPECT_EQ(FNotifier.LastRoute(), TDesktopNotifier::TRoute::Balloon);
    EXPECT_EQ(FArea->Balloons, QStringList{QStringLiteral(
                                   "2 new messages\nAnn \u2014 <b>Hi</b> & bye\nBob \u2014 Re")});
    FArea->ClickBalloon();
    EXPECT_EQ(shows, 1);
}

TEST_F(DesktopNotifierTest, WithoutABalloonEitherNothingIsShownAndNothingFails)
{
    FArea->HasBalloon = false;
    FNotifier.Notify({QStringLiteral("1 new message"), {}, false});
    EXPECT_EQ(FNotifier.LastRoute(), TDesktopNotifier::TRoute::None);
    FArea->HasBalloon = true;
    FTray.SetActive(false);
    FNotifier.Notify({QStringLiteral("1 new message"), {}, false});
    EXPECT_EQ(FNotifier.LastRoute(), TDesktopNotifier::TRoute::None) << "no icon, no balloon";
    EXPECT_TRUE(FArea->Balloons.isEmpty());
}

// The window: what a check announces and reports

std::string Mail(const std::string& from, const std::string& subject)
{
    return "From: " + from +
           " <sender@example.org>\r\nTo: alice@example.org\r\nSubject: " + subject +
           "\r\nDate: Sun, 06 Dec 2026 20:07:05 +0000\r\n\r\nHello.\r\n";
}

// Records the pop-ups instead of showing them.
class TRecordingNotifier : public TNotifier
{
public:
    void Notify(const TDesktopNotice& notice) override { Notices.push_back(notice); }
    std::vector<TDesktopNotice> Notices;
};

// A port nobody listens on.
std::uint16_t ClosedPort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost);
    return server.serverPort();
}

class WindowNotificationTest : public ::testing::Test
{
protected:
    WindowNotificationTest()
    {
        auto notifier = std::make_unique<TRecordingNotifier>();
        FNotifier = notifier.get();
        Window.Form->SetNotifier(notifier.release());
        auto area = std::make_unique<TFakeTrayArea>();
        FArea = area.get();
        Window.Form->TrayIcon->SetArea(std::move(area));
    }

    void Serve(int sessions)
    {
        Box.ServeOn(Server, sessions);
        Server.Start();
        Window.AddAccount("Home", Server.Port());
    }

    TFakeMailbox Box;
    TFakePop3Server Server;
    TMailWindow Window;
    TRecordingNotifier* FNotifier = nullptr;
    TFakeTrayArea* FArea = nullptr;
};

TEST_F(WindowNotificationTest, EachAnnouncingCheckShowsItsNewMessagesInOnePopUp)
{
    TNotification& options = Window.Form->Configuration().Notification;
    options.NotifyOnlyWhenNew = true;
    options.MailClient = "thunderbird";
    Box.SetMessages({Mail("Ann", "One"), Mail("Bob", "Two")});
    Serve(5);

    ASSERT_TRUE(Window.Check());
    ASSERT_EQ(FNotifier->Notices.size(), 1u);
    EXPECT_EQ(FNotifier->Notices[0].Summary, QStringLiteral("2 new messages"));
    EXPECT_EQ(FNotifier->Notices[0].Lines,
              (QStringList{QStringLiteral("Ann \u2014 One"), QStringLiteral("Bob \u2014 Two")}));
    EXPECT_TRUE(FNotifier->Notices[0].OfferMailClient);

    // Nothing new: no pop-up. One more: that one alone.
    ASSERT_TRUE(Window.Check());
    EXPECT_EQ(FNotifier->Notices.size(), 1u);
    Box.AddMessage(Mail("Cid", "Three"));
    ASSERT_TRUE(Window.Check());
    ASSERT_EQ(FNotifier->Notices.size(), 2u);
    EXPECT_EQ(FNotifier->Notices[1].Summary, QStringLiteral("1 new message"));
    EXPECT_EQ(FNotifier->Notices[1].Lines, QStringList{QStringLiteral("Cid \u2014 Three")});

    // Announcing whenever mail waits: every message, as waiting.
    options.NotifyOnlyWhenNew = false;
    ASSERT_TRUE(Window.Check());
    ASSERT_EQ(FNotifier->Notices.size(), 3u);
    EXPECT_EQ(FNotifier->Notices[2].Summary, QStringLiteral("3 messages waiting"));
    EXPECT_EQ(FNotifier->Notices[2].Lines.size(), 3);

    // The option off: the icon still blinks, but no pop-up.
    options.DesktopNotification = false;
    ASSERT_TRUE(Window.Check());
    EXPECT_EQ(FNotifier->Notices.size(), 3u);
    EXPECT_TRUE(Window.Form->TrayIcon->Animated());
}

TEST_F(WindowNotificationTest, ThePopUpsActionsShowTheWindowAndStartTheMailClient)
{
    const std::string client = Window.Dir.File("mail-client");
    WriteFile(client, "#!/bin/sh\n");
    Window.Form->Configuration().Notification.MailClient = client;
    ASSERT_FALSE(Window.Form->isVisible());
    Q_EMIT FNotifier->ShowRequested();
    EXPECT_TRUE(Window.Form->isVisible());
    Q_EMIT FNotifier->MailClientRequested();
    ASSERT_EQ(Window.Shell->Opened.size(), 1u);
    EXPECT_EQ(Window.Shell->Opened[0].first, QString::fromStdString(client));
}

TEST_F(WindowNotificationTest, FailedAccountsShowOnTheIconInTheHintAndInTheWindowUntilAllAnswer)
{
    Serve(2);
    const auto broken = Window.AddAccount("Broken", ClosedPort());
    ASSERT_TRUE(Window.Check());
    EXPECT_TRUE(Window.Form->TrayIcon->Badge());
    EXPECT_TRUE(
        Window.Form->TrayHint().contains(QStringLiteral(" \u2014 1 account failed: Broken")))
        << Window.Form->TrayHint().toStdString();
    EXPECT_EQ(FArea->Tip, Window.Form->TrayIcon->ShownHint());
    const std::vector<TAccountFailure>& failures = Window.Form->pnlFailedAccounts->Failures();
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].Account, "Broken");
    EXPECT_FALSE(failures[0].Reason.empty());
    EXPECT_FALSE(Window.Form->pnlFailedAccounts->isHidden());

    // The bar's button opens the settings on that account's page.
    QString page;
    QString name;
    QTimer::singleShot(0, [&] {
        if (auto* dialog = qobject_cast<TSettingsForm*>(QApplication::activeModalWidget())) {
            page = dialog->ActivePage();
            name = dialog->edtAccountName->text();
            dialog->close();
        }
    });
    Window.Form->pnlFailedAccounts->findChild<QPushButton*>(QStringLiteral("btnAccountSettings"))
        ->click();
    EXPECT_EQ(page, QStringLiteral("Account"));
    EXPECT_EQ(name, QStringLiteral("Broken"));

    broken->Include = false;
    ASSERT_TRUE(Window.Check());
    EXPECT_FALSE(Window.Form->TrayIcon->Badge());
    EXPECT_TRUE(Window.Form->pnlFailedAccounts->isHidden());
    EXPECT_FALSE(Window.Form->TrayHint().contains(QStringLiteral("failed")));
}

// The option

TEST(DesktopNotificationOptionTest, IsOnWhenAbsentAndFollowsItsCheckBox)
{
    TTempDir dir;
    TFileKeyStore store(dir.File("store.reg"));
    TConfiguration configuration;
    configuration.Notification.DesktopNotification = false;
    LoadSettings(store, configuration);
    EXPECT_TRUE(configuration.Notification.DesktopNotification);

    TScriptedDialogs dialogs;
    {
        TSettingsForm form(store, dialogs.Make(),
                           TStartupShortcut(QString::fromStdString(dir.File("autostart"))));
        form.AttachConfiguration(configuration);
        form.ShowNotificationPage();
        EXPECT_TRUE(form.cbDesktopNotification->isChecked());
        form.cbDesktopNotification->click();
        EXPECT_FALSE(configuration.Notification.DesktopNotification);
    }
    TConfiguration reloaded;
    LoadSettings(store, reloaded);
    EXPECT_FALSE(reloaded.Notification.DesktopNotification);
}

} // namespace
