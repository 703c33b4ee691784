// Renders the main window with an open preview, the action log window, each page of the
// settings dialog, the version window after a check, the About box, the icon set and the tray
// icon (still and blinking, as the desktop's tray shows it) into PNG files, with sample content,
// for the README, and the pop-up of new mail as the desktop's notification server shows it.
// Usage: mb_screenshots OUTPUT_FOLDER
#include "config/FileKeyStore.h"
#include "desktop/DesktopNotifier.h"
#include "desktop/Icons.h"
#include "desktop/LocalTime.h"
#include "desktop/TrayIcon.h"
#include "gui/AboutFrm.h"
#include "gui/AccountFailures.h"
#include "gui/LogFrm.h"
#include "gui/MailNotification.h"
#include "gui/MainFrm.h"
#include "gui/SettingsFrm.h"
#include "gui/VersionFrm.h"
#include "mail/CheckOutcome.h"
#include "net/VersionFile.h"
#include "tests/support/FakeConnectionProbes.h"
#include "tests/support/HttpFixtureServer.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QPainter>
#include <QPlainTextEdit>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>

#include <algorithm>
#include <cstdio>
#include <memory>

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

void FillMainWindow(TMainForm& form)
{
    const QStringList rows[] = {
        {"Home", "Ada Brennan", "Minutes of Tuesday's meeting", "06/12/00 09:14", "4 KB"},
        {"Home", "Tomas Ruiz", "Re: Holiday photos", "06/12/00 10:02", "212 KB"},
        {"Home", "Newsletter", "Your weekly digest", "06/12/00 11:47", "18 KB"},
        {"Work", "Priya Natarajan", "Quarterly figures", "06/12/00 13:30", "56 KB"},
        {"Work", "Build server", "Nightly build succeeded", "06/12/00 14:05", "2 KB"},
    };
    for (const QStringList& texts : rows)
        form.lvNotification->addTopLevelItem(new QTreeWidgetItem(texts));
    form.lvNotification->topLevelItem(3)->setSelected(true);

    form.ShowMessagePreview();
    form.lblFrom->setText(QStringLiteral("Priya Natarajan <priya@example.com>"));
    form.lblTo->setText(QStringLiteral("team@example.com"));
    form.lblSubject->setText(QStringLiteral("Quarterly figures"));
    form.lblAttachments->setText(QStringLiteral("figures-q2.xls, summary.pdf"));
    form.LayoutMessagePreviewTitle();
    form.memMessage->setPlainText(
        QStringLiteral("Hello all,\n\nthe figures for the second quarter are attached, together "
                       "with a one-page summary.\nSales grew in every region but the north; "
                       "the details are on page two.\n\nBest regards,\nPriya"));
    form.SetStatusText(0, QStringLiteral("Total: 5"));
    form.SetStatusText(1, QStringLiteral("New: 2"));
    form.SetStatusText(2, QStringLiteral("Mail Check completed at 14:06:31 with 0 error(s)"));
}

void FillLog(TLogList& log)
{
    const char* actions[] = {"Connected",
                             "User Account is valid",
                             "Password is valid",
                             "Checking for messages",
                             "Retrieving headers",
                             "Retrieving size",
                             "Retrieving headers",
                             "Retrieving size",
                             "ERROR - Connection to Work failed.",
                             "Connected",
                             "User Account is valid",
                             "Password is valid",
                             "Checking for messages"};
    int second = 7;
    for (const char* action : actions) {
        log.Add({QStringLiteral("06/12/00 14:06:%1").arg(second, 2, 10, QLatin1Char('0')),
                 QString::fromLatin1(action)});
        second += 2;
    }
}

void FillConfiguration(TConfiguration& configuration)
{
    const struct
    {
        const char* Name;
        const char* Host;
        const char* UserId;
        bool Include;
    } accounts[] = {{"Home", "pop.example.net", "ada.brennan", true},
                    {"Work", "mail.example.com", "abrennan", true},
                    {"Old provider", "pop3.example.org", "ada1972", false}};
    for (const auto& sample : accounts) {
        auto account = std::make_shared<TAccount>();
        account->Name = sample.Name;
        account->Host = sample.Host;
        account->UserId = sample.UserId;
        account->Password = "secret";
        account->Include = sample.Include;
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
    auto probes = std::make_shared<TFakeConnectionProbes>();
    probes->DialUpIsAvailable = true;
    probes->DialUpIsConnected = true;
    probes->QueryIsAvailable = true;
    probes->Flags = ConnectedState::Lan | ConnectedState::Modem;
    form.ConnectionDetector().SetProbes(probes);

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

// Needs a notification service on the session bus (scripts/screenshots starts dunst).
// The main window is hidden meanwhile, so that the pop-up is the only change on screen.
bool SaveNotificationPicture(QWidget& window, const QString& fileName)
{
    window.hide();
    QTest::qWait(300);
    QScreen* screen = QGuiApplication::primaryScreen();
    const QImage before = screen->grabWindow(0).toImage();
    TMailNotice notice{3, true, {}};
    for (const auto& [from, subject] :
         {std::pair{"Ann Smith", "Lunch on Friday?"}, std::pair{"Bob Jones", "Re: The report"},
          std::pair{"Carla Diaz", "Photos from the trip"}}) {
        TMessageRow row;
        row.From = from;
        row.Subject = subject;
        notice.Messages.push_back(row);
    }
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

    TMainForm form(store);
    form.move(40, 60);
    FillMainWindow(form);
    bool saved = Save(form, output.filePath(QStringLiteral("main-window.png")));
    const QString summary = form.StatusText(2);
    form.SetStatusText(2, QString(summary).replace(QStringLiteral("with 0 error"),
                                                   QStringLiteral("with 1 error")));
    form.pnlFailedAccounts->SetFailures(
        {{"Old provider", "Connection refused (pop.old-provider.example:110)"}});
    saved = Save(form, output.filePath(QStringLiteral("failed-accounts.png"))) && saved;
    form.pnlFailedAccounts->SetFailures({});
    form.SetStatusText(2, summary);

    FillLog(form.LogList);
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
    saved =
        SaveNotificationPicture(form, output.filePath(QStringLiteral("notification.png"))) && saved;
    saved = SaveTrayPictures(*form.TrayIcon, output) && saved;
    form.ExitRequested = true;
    return saved ? 0 : 1;
}
