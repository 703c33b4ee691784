// The window on a desktop of its own (SessionMain.cpp): pop-ups shown by a real notification
// server, and the tray icon as a StatusNotifierItem that a panel's host would show.
#include "tests/e2e/DesktopSession.h"

#include "desktop/TrayIcon.h"
#include "tests/e2e/SessionTest.h"
#include "tests/support/FakeMailbox.h"
#include "tests/support/FakePop3Server.h"
#include "tests/ui/MailSupport.h"

#include <QProcess>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

// A command run to its end while the window goes on answering the bus, as it must when the
// command talks to the window itself. Its standard output, or nothing when it failed.
QString RunTool(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!WaitFor([&] { return process.state() == QProcess::NotRunning; }, 15000)) {
        process.kill();
        process.waitForFinished();
        ADD_FAILURE() << program.toStdString() << " did not end";
        return {};
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        ADD_FAILURE() << program.toStdString() << " " << arguments.join(u' ').toStdString()
                      << " failed: " << process.readAllStandardError().toStdString();
        return {};
    }
    return QString::fromUtf8(process.readAllStandardOutput());
}

// One pop-up as dunst printed it.
struct TShown
{
    QString AppName;
    QString Summary;
    QString Body;
    QString Id;
    QString Actions;
    QString DesktopEntry;
    bool Pixels = false;
};

std::vector<TShown> Shown()
{
    static const QRegularExpression block(
        QStringLiteral("\\{\\n\\tappname: '(.*?)'\\n\\tsummary: '(.*?)'\\n\\tbody: '(.*?)'\\n"
                       "\\ticon: .*?\\n\\traw_icon set: (\\w+)\\n.*?\\tdesktop_entry: '(.*?)'\\n"
                       ".*?\\tid: (\\d+)\\n\\tactions: \\{(.*?)\\}"),
        QRegularExpression::DotMatchesEverythingOption);
    std::vector<TShown> shown;
    QRegularExpressionMatchIterator matches =
        block.globalMatch(QString::fromStdString(Session->NotificationLog()));
    while (matches.hasNext()) {
        const QRegularExpressionMatch match = matches.next();
        shown.push_back({match.captured(1), match.captured(2), match.captured(3), match.captured(6),
                         match.captured(7), match.captured(5),
                         match.captured(4) == QStringLiteral("true")});
    }
    return shown;
}

// The bus names of the items that registered with the watcher, in order.
QStringList Registrations()
{
    static const QRegularExpression line(QStringLiteral("^registered (\\S+) /StatusNotifierItem$"),
                                         QRegularExpression::MultilineOption);
    QStringList services;
    QRegularExpressionMatchIterator matches =
        line.globalMatch(QString::fromStdString(Session->WatcherLog()));
    while (matches.hasNext())
        services.append(matches.next().captured(1));
    return services;
}

QString Property(const QString& service, const QString& name)
{
    return RunTool(QStringLiteral("gdbus"),
                   {QStringLiteral("call"), QStringLiteral("--session"), QStringLiteral("--dest"),
                    service, QStringLiteral("--object-path"), QStringLiteral("/StatusNotifierItem"),
                    QStringLiteral("--method"),
                    QStringLiteral("org.freedesktop.DBus.Properties.Get"),
                    QStringLiteral("org.kde.StatusNotifierItem"), name});
}

std::string Mail(const std::string& from, const std::string& subject)
{
    return "From: " + from +
           " <sender@example.org>\r\nTo: alice@example.org\r\nSubject: " + subject +
           "\r\nDate: Sun, 06 Dec 2026 20:07:05 +0000\r\n\r\nHello.\r\n";
}

class DesktopSessionTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!SessionFailure.empty())
            GTEST_SKIP() << "no desktop session: " << SessionFailure;
    }

    // The mailbox outlives the server, whose thread may still answer a QUIT from it.
    TFakeMailbox Box;
    TFakePop3Server Server;
};

TEST_F(DesktopSessionTest, NewMailPopsUpNamingTheSendersAndItsActionsReachTheWindow)
{
    Box.SetMessages({Mail("Ann Smith", "Lunch"), Mail("Bob", "<b>5 & 6</b>")});
    Box.ServeOn(Server, 5);
    Server.Start();
    TMailWindow window;
    window.AddAccount("Home", Server.Port());
    TNotification& options = window.Form->Configuration().Notification;
    options.NotifyOnlyWhenNew = true;
    const std::string client = window.Dir.File("mail-client");
    WriteFile(client, "#!/bin/sh\n");
    options.MailClient = client;

    ASSERT_TRUE(window.Check());
    ASSERT_TRUE(WaitFor([] { return Shown().size() == 1; }, 10000)) << Session->NotificationLog();
    const TShown first = Shown()[0];
    EXPECT_EQ(first.AppName, QStringLiteral("Mailbeacon"));
    EXPECT_EQ(first.Summary, QStringLiteral("2 new messages"));
    // The server reads markup: the subject's own brackets arrive as text.
    EXPECT_EQ(first.Body,
              QStringLiteral("Ann Smith \u2014 Lunch\nBob \u2014 &lt;b&gt;5 &amp; 6&lt;/b&gt;"));
    EXPECT_TRUE(first.Actions.contains(QStringLiteral("\"default\": \"Show\"")));
    EXPECT_TRUE(first.Actions.contains(QStringLiteral("\"show\": \"Show\"")));
    EXPECT_TRUE(first.Actions.contains(QStringLiteral("\"mailclient\": \"Start Mail Client\"")));
    EXPECT_TRUE(first.Pixels) << "the program's image, as it is not installed";
    EXPECT_EQ(first.DesktopEntry, QStringLiteral("com.hollinway.Mailbeacon"));

    // A check that finds nothing new shows nothing; the next pop-up takes the first one's place.
    ASSERT_TRUE(window.Check());
    Box.AddMessage(Mail("Cid", "Three"));
    ASSERT_TRUE(window.Check());
    ASSERT_TRUE(WaitFor([] { return Shown().size() >= 2; }, 10000));
    std::vector<TShown> shown = Shown();
    ASSERT_EQ(shown.size(), 2u) << "the quiet check showed a pop-up";
    EXPECT_EQ(shown[1].Summary, QStringLiteral("1 new message"));
    EXPECT_EQ(shown[1].Body, QStringLiteral("Cid \u2014 Three"));
    EXPECT_EQ(shown[1].Id, first.Id) << "replaced, not stacked";

    // Its menu: "Start Mail Client".
    Session->ChooseAction("mailclient");
    RunTool(QStringLiteral("dunstctl"), {QStringLiteral("context")});
    ASSERT_TRUE(WaitFor([&] { return !window.Shell->Opened.empty(); }, 10000));
    EXPECT_EQ(window.Shell->Opened[0].first, QString::fromStdString(client));

    // Its menu's "Show", then a click on the pop-up itself: each shows the window.
    Box.AddMessage(Mail("Dee", "Four"));
    ASSERT_TRUE(window.Check());
    ASSERT_TRUE(WaitFor([] { return Shown().size() == 3; }, 10000));
    ASSERT_FALSE(window.Form->isVisible());
    Session->ChooseAction("show");
    RunTool(QStringLiteral("dunstctl"), {QStringLiteral("context")});
    ASSERT_TRUE(WaitFor([&] { return window.Form->isVisible(); }, 10000));

    window.Form->hide();
    Box.AddMessage(Mail("Eve", "Five"));
    ASSERT_TRUE(window.Check());
    ASSERT_TRUE(WaitFor([] { return Shown().size() == 4; }, 10000));
    RunTool(QStringLiteral("dunstctl"), {QStringLiteral("action"), QStringLiteral("0")});
    EXPECT_TRUE(WaitFor([&] { return window.Form->isVisible(); }, 10000));
}

TEST_F(DesktopSessionTest, TheTrayIconRegistersAsAnItemThatActivatesBlinksAndHasItsMenu)
{
    Box.SetMessages({Mail("Ann Smith", "Lunch")});
    Box.ServeOn(Server, 1);
    Server.Start();
    const qsizetype before = Registrations().size();
    TMailWindow window;
    window.AddAccount("Home", Server.Port());
    ASSERT_TRUE(WaitFor([&] { return Registrations().size() > before; }, 10000))
        << Session->WatcherLog();
    const QString item = Registrations().back();

    EXPECT_TRUE(Property(item, QStringLiteral("ToolTip")).contains(QStringLiteral("'Mailbeacon'")));
    EXPECT_TRUE(Property(item, QStringLiteral("Status")).contains(QStringLiteral("'Active'")));
    window.Form->WirePOP3Status(QStringLiteral("Checking for messages"));
    EXPECT_TRUE(WaitFor([&] {
        return Property(item, QStringLiteral("ToolTip"))
            .contains(QStringLiteral("'Checking for messages'"));
    }));

    // One activation, as a host sends for a click: the double-click action (show the window).
    ASSERT_FALSE(window.Form->isVisible());
    RunTool(QStringLiteral("gdbus"),
            {QStringLiteral("call"), QStringLiteral("--session"), QStringLiteral("--dest"), item,
             QStringLiteral("--object-path"), QStringLiteral("/StatusNotifierItem"),
             QStringLiteral("--method"), QStringLiteral("org.kde.StatusNotifierItem.Activate"),
             QStringLiteral("0"), QStringLiteral("0")});
    EXPECT_TRUE(WaitFor([&] { return window.Form->isVisible(); }, 10000));

    // The menu as the host reads it, and its "Check Now" clicked there.
    const QString menu = QStringLiteral("/MenuBar");
    const QStringList call = {QStringLiteral("call"),          QStringLiteral("--session"),
                              QStringLiteral("--dest"),        item,
                              QStringLiteral("--object-path"), menu,
                              QStringLiteral("--method")};
    const QString layout = RunTool(
        QStringLiteral("gdbus"),
        call + QStringList{QStringLiteral("com.canonical.dbusmenu.GetLayout"), QStringLiteral("--"),
                           QStringLiteral("0"), QStringLiteral("-1"), QStringLiteral("[]")});
    // Labels carry their mnemonics in the menu protocol's form (an underscore).
    for (const char* label : {"'_Open Mailbeacon'", "'Start _Mail Client'", "'E_xit'"})
        EXPECT_TRUE(layout.contains(QString::fromLatin1(label))) << label;
    const QRegularExpressionMatch checkNow =
        QRegularExpression(QStringLiteral("\\((\\d+), \\{[^}]*'label': <'Check _Now'>"))
            .match(layout);
    ASSERT_TRUE(checkNow.hasMatch()) << layout.toStdString();

    QProcess monitor;
    monitor.start(QStringLiteral("gdbus"), {QStringLiteral("monitor"), QStringLiteral("--session"),
                                            QStringLiteral("--dest"), item});
    ASSERT_TRUE(monitor.waitForStarted());
    QString heard;
    ASSERT_TRUE(WaitFor([&] {
        heard += QString::fromUtf8(monitor.readAllStandardOutput());
        return heard.contains(QStringLiteral("Monitoring"));
    }));
    RunTool(QStringLiteral("gdbus"),
            call + QStringList{QStringLiteral("com.canonical.dbusmenu.Event"), checkNow.captured(1),
                               QStringLiteral("clicked"), QStringLiteral("<int32 0>"),
                               QStringLiteral("0")});
    ASSERT_TRUE(WaitFor([&] { return window.Form->TrayIcon->Animated(); }, 10000))
        << "the check of the menu found mail to announce";
    // Blinking: the host is told of a new image several times.
    EXPECT_TRUE(WaitFor(
        [&] {
            heard += QString::fromUtf8(monitor.readAllStandardOutput());
            return heard.count(QStringLiteral("org.kde.StatusNotifierItem.NewIcon")) >= 4;
        },
        10000))
        << heard.toStdString();
    monitor.kill();
    monitor.waitForFinished();
}

} // namespace
