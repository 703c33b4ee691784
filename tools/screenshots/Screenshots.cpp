// Renders the main window after a real check of the sample server with its multipart message
// previewed, the same window after a check that met an account where nothing listens, the action
// log window with that log, each page of the settings dialog, the version window after a check,
// the About box, the icon set, the tray icon (still and blinking, as the desktop's tray shows it)
// and the pop-up of new mail as the desktop's notification server shows it, into PNG files for
// the README. Usage: mb_screenshots OUTPUT_FOLDER
#include "config/FileKeyStore.h"
#include "desktop/DesktopNotifier.h"
#include "desktop/Icons.h"
#include "desktop/LocalTime.h"
#include "desktop/TrayIcon.h"
#include "gui/AboutFrm.h"
#include "gui/AccountFailures.h"
#include "gui/LogFrm.h"
#include "gui/MailNotification.h"
#include "gui/MailOperations.h"
#include "gui/MainFrm.h"
#include "gui/MessageListItem.h"
#include "gui/SettingsFrm.h"
#include "gui/VersionFrm.h"
#include "mail/CheckOutcome.h"
#include "net/VersionFile.h"
#include "tests/support/FakeConnectionProbes.h"
#include "tests/support/HttpFixtureServer.h"
#include "tests/support/PopServers.h"
#include "tools/DemoStore.h"
#include "tools/SamplePop3Server.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QPainter>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <thread>

namespace {

bool Save(QWidget& window, const QString& fileName)
{
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return false;
    QTest::qWait(200);
    if (!window.grab().save(fileName)) {
        std::fprintf(stderr, "mb_screenshots: cannot write %s\n", qPrintable(fileName));
        return false;
    }
    return true;
}

// The computer counts as online whatever this machine's network is.
void SetOnline(TMainForm& form)
{
    auto probes = std::make_shared<TFakeConnectionProbes>();
    probes->DialUpIsAvailable = true;
    probes->DialUpIsConnected = true;
    probes->QueryIsAvailable = true;
    probes->Flags = ConnectedState::Lan | ConnectedState::Modem;
    form.ConnectionDetector().SetProbes(probes);
}

bool WaitIdle(TMainForm& form)
{
    return QTest::qWaitFor([&] { return !form.MailOperationsController().Busy; }, 15000);
}

// The main window as a user of the demo sees it: a real check of the sample server, then the
// preview of its multipart message.
bool FillMainWindow(TMainForm& form, std::uint16_t port)
{
    const TDemoAccount demo;
    auto account = std::make_shared<TAccount>();
    account->Name = demo.Name;
    account->Host = demo.Host;
    account->Port = port;
    account->UserId = demo.UserId;
    account->Password = demo.Password;
    form.Configuration().Accounts.push_back(account);
    SetOnline(form);
    form.actNotificationCheckNowExecute();
    if (!WaitIdle(form) || form.lvNotification->topLevelItemCount() == 0) {
        std::fprintf(stderr, "mb_screenshots: the check of the sample server listed nothing: %s\n",
                     qPrintable(form.StatusText(2)));
        return false;
    }
    const QList<QTreeWidgetItem*> report =
        form.lvNotification->findItems(QStringLiteral("Quarterly report"), Qt::MatchStartsWith, 2);
    if (report.isEmpty()) {
        std::fprintf(stderr, "mb_screenshots: the sample server has no quarterly report\n");
        return false;
    }
    form.lvNotification->setCurrentItem(report.front());
    form.actViewMessagePreviewExecute();
    if (!WaitIdle(form) || !form.MessagePreviewShown()) {
        std::fprintf(stderr, "mb_screenshots: the preview did not open: %s\n",
                     qPrintable(form.StatusText(2)));
        return false;
    }
    return true;
}

// A second account on a loopback port where nothing listens, and a real check of both: the
// window's bar names the account that failed and why.
bool CheckWithFailingAccount(TMainForm& form)
{
    auto account = std::make_shared<TAccount>();
    account->Name = "Old provider";
    account->Host = "127.0.0.1";
    account->Port = FreeLoopbackPort();
    account->UserId = "demo";
    account->Password = "demo";
    form.Configuration().Accounts.push_back(account);
    form.actNotificationCheckNowExecute();
    if (!WaitIdle(form) || form.MailOperationsController().ErrorCount == 0) {
        std::fprintf(stderr,
                     "mb_screenshots: the check with a failing account failed nothing: %s\n",
                     qPrintable(form.StatusText(2)));
        return false;
    }
    return true;
}

void FillConfiguration(TConfiguration& configuration)
{
    // The work server has a self-signed certificate, trusted by its fingerprint.
    const struct
    {
        const char* Name;
        const char* Host;
        const char* UserId;
        bool Include;
        std::int32_t Security;
        const char* TrustedCertificate;
    } accounts[] = {
        {"Home", "pop.example.net", "ada.brennan", true, TAccount::SecurityTls, ""},
        {"Work", "mail.example.com", "abrennan", true, TAccount::SecurityTls,
         "3F:A1:0C:77:92:5E:D4:1B:8C:26:E9:40:5D:B3:71:AA:"
         "0E:64:C8:19:F2:7D:35:9B:E0:4C:A8:13:6F:D2:57:B9"},
        {"Old provider", "pop3.example.org", "ada1972", false, TAccount::SecurityNone, ""}};
    for (const auto& sample : accounts) {
        auto account = std::make_shared<TAccount>();
        account->Name = sample.Name;
        account->Host = sample.Host;
        account->Port = sample.Security == TAccount::SecurityTls ? DefaultSecurePort : DefaultPort;
        account->UserId = sample.UserId;
        account->Password = "secret";
        account->Include = sample.Include;
        account->Security = sample.Security;
        account->TrustedCertificate = sample.TrustedCertificate;
        configuration.Accounts.push_back(account);
    }
    configuration.Notification.CheckTimer->SetEnabled(true);
    configuration.Notification.CheckTimer->SetInterval(10 * 60000);
    configuration.Notification.PlaySound = true;
    configuration.Notification.Sound = "/usr/share/sounds/mailbeacon/new-mail.wav";
    configuration.Notification.MailClient = "/usr/bin/mail-reader";
    configuration.Connection.ConnectionType = TConnection::Direct;
    configuration.Connection.UseProxy = true;
    configuration.Connection.Proxy = "proxy.example.net";
    configuration.Connection.ProxyPort = 3128;
    configuration.ApplicationSettings.MessagePreview = 50;
    configuration.ApplicationSettings.Log = true;
}

// One picture per page of the settings dialog, chosen through its node in the tree.
bool SaveSettingsPages(TMainForm& form, TKeyStore& store, const QString& scratch,
                       const QDir& output)
{
    TConfiguration configuration;
    FillConfiguration(configuration);
    TSettingsForm settingsForm(store, TDialogs::Standard(),
                               TStartupShortcut(scratch + QStringLiteral("/autostart")), &form);
    settingsForm.AttachConfiguration(configuration);
    form.PlaceDialog(&settingsForm);
    const struct
    {
        const char* Node;
        const char* File;
    } pages[] = {{"Accounts", "settings-new-account.png"},
                 {"Work", "settings-account.png"},
                 {"Application", "settings-application.png"},
                 {"Connection", "settings-connection.png"},
                 {"Notification", "settings-notification.png"}};
    bool saved = true;
    for (const auto& page : pages) {
        for (QTreeWidgetItemIterator it(settingsForm.tvOptionExplorer); *it != nullptr; ++it) {
            if ((*it)->text(0) == QLatin1String(page.Node))
                settingsForm.tvOptionExplorer->setCurrentItem(*it);
        }
        saved = Save(settingsForm, output.filePath(QLatin1String(page.File))) && saved;
    }
    settingsForm.hide();
    return saved;
}

// The window after a check against a local server that publishes version 2.1; the computer
// counts as online whatever this machine's network is.
bool SaveVersionWindow(TMainForm& form, const QString& fileName)
{
    THttpFixtureServer server;
    server.Serve(VersionFilePath,
                 THttpFixtureServer::Ok(
                     "2.1\r\nJul 2 2000\r\nhttp://www.hollinway.com/beaconer/download.php3\r\n"));
    qputenv("MAILBEACON_VENDOR_HOST", QByteArray::fromStdString(server.Host()));
    SetOnline(form);

    TVersionForm versionForm({}, &form);
    versionForm.AssignOptions(form.Configuration(), form.ConnectionDetector());
    form.PlaceDialog(&versionForm);
    versionForm.show();
    QElapsedTimer clock;
    clock.start();
    while (!versionForm.Checked && clock.elapsed() < 10000)
        QTest::qWait(20);
    qunsetenv("MAILBEACON_VENDOR_HOST");
    if (!versionForm.Checked ||
        versionForm.pnlStatus->text() != QStringLiteral("Version checked successfully")) {
        std::fprintf(stderr, "mb_screenshots: the version check did not succeed: %s\n",
                     qPrintable(versionForm.pnlStatus->text()));
        return false;
    }
    return Save(versionForm, fileName);
}

QImage IconSheet()
{
    const int sizes[] = {16, 22, 32, 48};
    const int columns = Icons::ToolBarImageCount + 3;
    QImage sheet(columns * 56 + 8, 4 * 56 + 8, QImage::Format_ARGB32);
    sheet.fill(Qt::white);
    QPainter painter(&sheet);
    for (int row = 0; row < 4; ++row) {
        const int size = sizes[row];
        for (int column = 0; column < columns; ++column) {
            QIcon icon;
            if (column < Icons::ToolBarImageCount)
                icon = Icons::ToolBarImage(column);
            else if (column == Icons::ToolBarImageCount)
                icon = Icons::ProgramIcon();
            else
                icon = Icons::MailWaitingFrame(column - Icons::ToolBarImageCount - 1);
            const int x = 8 + column * 56 + (48 - size) / 2;
            const int y = 8 + row * 56 + (48 - size) / 2;
            painter.drawPixmap(x, y, icon.pixmap(size, size));
        }
    }
    return sheet;
}

// The part of the screen around the tray icon, enlarged four times so the pixels can be seen.
QImage GrabTray(const QRect& icon)
{
    QTest::qWait(300);
    QScreen* screen = QGuiApplication::primaryScreen();
    const QRect area = icon.adjusted(-6, -1, 6, 1) & screen->geometry();
    const QPixmap shot = screen->grabWindow(0, area.x(), area.y(), area.width(), area.height());
    return shot.toImage().scaled(shot.size() * 4, Qt::IgnoreAspectRatio, Qt::FastTransformation);
}

QImage SideBySide(const QImage& left, const QImage& right)
{
    QImage both(left.width() + 8 + right.width(), std::max(left.height(), right.height()),
                QImage::Format_ARGB32);
    both.fill(Qt::white);
    QPainter painter(&both);
    painter.drawImage(0, 0, left);
    painter.drawImage(left.width() + 8, 0, right);
    return both;
}

// Needs a tray on the display (scripts/screenshots starts one).
bool SaveTrayPictures(TTrayIcon& tray, const QDir& output)
{
    QRect icon;
    const bool placed = QTest::qWaitFor(
        [&] {
            const QRect before = icon;
            icon = tray.Available() ? tray.Area().Geometry() : QRect();
            return !icon.isEmpty() && icon == before;
        },
        5000);
    if (!placed) {
        std::fprintf(stderr, "mb_screenshots: no tray on this display for the tray pictures\n");
        return false;
    }
    // The frames are held still while they are taken.
    tray.SetInterval(60000);
    tray.SetAnimated(false);
    const QImage still = GrabTray(icon);
    tray.SetAnimated(true);
    const QImage first = GrabTray(icon);
    tray.NextFrame();
    const QImage second = GrabTray(icon);
    tray.SetAnimated(false);
    return still.save(output.filePath(QStringLiteral("tray-normal.png"))) &&
           SideBySide(first, second).save(output.filePath(QStringLiteral("tray-blinking.png")));
}

// The part of the screen a change covered; empty when nothing changed.
QRect ChangedArea(const QImage& before, const QImage& after)
{
    QRect changed;
    for (int y = 0; y < std::min(before.height(), after.height()); ++y) {
        for (int x = 0; x < std::min(before.width(), after.width()); ++x) {
            if (before.pixel(x, y) != after.pixel(x, y))
                changed |= QRect(x, y, 1, 1);
        }
    }
    return changed;
}

std::vector<TMessageRow> ListedRows(const TMainForm& window)
{
    std::vector<TMessageRow> rows;
    for (int index = 0; index < window.lvNotification->topLevelItemCount(); ++index)
        if (const TMessageListItem* item =
                TMessageListItem::Of(window.lvNotification->topLevelItem(index)))
            rows.push_back(item->Row());
    return rows;
}

// Needs a notification service on the session bus (scripts/screenshots starts dunst).
// The main window is hidden meanwhile, so that the pop-up is the only change on screen.
// The rows are those a real check listed, all of them new, as at the first check after a start.
bool SaveNotificationPicture(TMainForm& window, const std::vector<TMessageRow>& rows,
                             const QString& fileName)
{
    const TMailNotice notice = MakeMailNotice(rows, static_cast<std::int32_t>(rows.size()));
    window.hide();
    QTest::qWait(300);
    QScreen* screen = QGuiApplication::primaryScreen();
    const QImage before = screen->grabWindow(0).toImage();
    TDesktopNotifier notifier(nullptr);
    bool shown = false;
    QObject::connect(&notifier, &TDesktopNotifier::Routed, [&](TDesktopNotifier::TRoute route) {
        shown = route == TDesktopNotifier::TRoute::Service;
    });
    notifier.Notify(DesktopNoticeOf(notice, true));
    if (!QTest::qWaitFor([&] { return shown; }, 5000)) {
        std::fprintf(stderr, "mb_screenshots: no notification service for the pop-up picture\n");
        return false;
    }
    QTest::qWait(1000);
    const QImage after = screen->grabWindow(0).toImage();
    const QRect popUp = ChangedArea(before, after);
    window.show();
    return !popUp.isEmpty() && after.copy(popUp).save(fileName);
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Mailbeacon"));
    QApplication::setWindowIcon(Icons::ProgramIcon());
    if (argc != 2) {
        std::fprintf(stderr, "usage: mb_screenshots OUTPUT_FOLDER\n");
        return 2;
    }
    const QDir output(QString::fromLocal8Bit(argv[1]));
    QTemporaryDir scratch;
    TFileKeyStore store((scratch.path() + QStringLiteral("/store.reg")).toStdString());

    TSamplePop3Server::TOptions options;
    options.Folder = MB_SAMPLES_DIR;
    TSamplePop3Server sampleServer(options);
    std::thread serving([&] { sampleServer.Run(); });
    TMainForm form(store);
    form.setGeometry(40, 60, 860, 560);
    // The log window shows what these real checks logged.
    form.Configuration().ApplicationSettings.Log = true;
    bool saved = FillMainWindow(form, sampleServer.Port()) &&
                 Save(form, output.filePath(QStringLiteral("main-window.png")));
    const std::vector<TMessageRow> listed = ListedRows(form);
    saved = CheckWithFailingAccount(form) &&
            Save(form, output.filePath(QStringLiteral("failed-accounts.png"))) && saved;
    sampleServer.Stop();
    serving.join();
    form.pnlFailedAccounts->SetFailures({});

    TLogForm logForm(TDialogs::Standard(), &form);
    logForm.AssignLog(form.LogList);
    form.PlaceDialog(&logForm);
    saved = Save(logForm, output.filePath(QStringLiteral("log-window.png"))) && saved;
    logForm.hide();

    saved = SaveSettingsPages(form, store, scratch.path(), output) && saved;
    saved = SaveVersionWindow(form, output.filePath(QStringLiteral("version-window.png"))) && saved;

    TAboutForm aboutForm({}, &form);
    form.PlaceDialog(&aboutForm);
    saved = Save(aboutForm, output.filePath(QStringLiteral("about-box.png"))) && saved;
    aboutForm.hide();

    saved = IconSheet().save(output.filePath(QStringLiteral("icons.png"))) && saved;
    saved = SaveNotificationPicture(form, listed,
                                    output.filePath(QStringLiteral("notification.png"))) &&
            saved;
    saved = SaveTrayPictures(*form.TrayIcon, output) && saved;
    form.ExitRequested = true;
    return saved ? 0 : 1;
}
