#include "gui/VersionFrm.h"

#include "config/Data.h"
#include "config/FileKeyStore.h"
#include "gui/MainFrm.h"
#include "net/HttpClient.h"
#include "tests/support/FakeConnectionProbes.h"
#include "tests/support/HttpFixtureServer.h"
#include "tests/support/TempDir.h"
#include "tests/support/TinyProxy.h"
#include "tests/ui/UiSupport.h"

#include <QAction>
#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

namespace {

using TServer = THttpFixtureServer;
using namespace std::chrono_literals;

const char* const PageAddress = "http://www.hollinway.com/beaconer/download.php3";

// Points the program's vendor host at a server of the test's own while it lives.
class TVendorHostOverride
{
public:
    explicit TVendorHostOverride(const std::string& host)
        : FWasSet(qEnvironmentVariableIsSet("MAILBEACON_VENDOR_HOST"))
        , FPrevious(qgetenv("MAILBEACON_VENDOR_HOST"))
    {
        qputenv("MAILBEACON_VENDOR_HOST", QByteArray::fromStdString(host));
    }
    ~TVendorHostOverride()
    {
        if (FWasSet)
            qputenv("MAILBEACON_VENDOR_HOST", FPrevious);
        else
            qunsetenv("MAILBEACON_VENDOR_HOST");
    }
    TVendorHostOverride(const TVendorHostOverride&) = delete;
    TVendorHostOverride& operator=(const TVendorHostOverride&) = delete;

private:
    bool FWasSet;
    QByteArray FPrevious;
};

class TVersionFormTest : public ::testing::Test
{
protected:
    TVersionFormTest()
        : FVendor(FServer.Host())
        , FProbes(std::make_shared<TFakeConnectionProbes>())
        , FShell(std::make_shared<TRecordingShell>())
    {
        SetOnline(true);
        FConnectionDetector.SetProbes(FProbes);
    }

    // Online and offline for a dial-up and a direct connection alike.
    void SetOnline(bool online)
    {
        FProbes->DialUpIsAvailable = true;
        FProbes->DialUpIsConnected = online;
        FProbes->QueryIsAvailable = true;
        FProbes->Flags = online ? ConnectedState::Lan | ConnectedState::Modem : 0;
    }

    void ServeVersionFile(const std::string& body)
    {
        FServer.Serve(VersionFilePath, TServer::Ok(body));
    }

    std::unique_ptr<TVersionForm> MakeForm()
    {
        auto form = std::make_unique<TVersionForm>(FShell);
        form->AssignOptions(FConfiguration, FConnectionDetector);
        return form;
    }

    // Shows a new window and waits for its check to end.
    std::unique_ptr<TVersionForm> OpenAndCheck()
    {
        auto form = MakeForm();
        form->show();
        EXPECT_TRUE(form->Checking) << "showing the window online starts the check";
        EXPECT_TRUE(WaitFor([&] { return form->Checked; }, 5000)) << "the check did not end";
        EXPECT_FALSE(form->Checking);
        return form;
    }

    QString ConnectingText() const
    {
        return QStringLiteral("Connecting to ") + QString::fromStdString(FServer.Host());
    }
    QString ErrorText() const
    {
        return QStringLiteral("Error connecting to ") + QString::fromStdString(FServer.Host());
    }

    TServer FServer;
    TVendorHostOverride FVendor;
    std::shared_ptr<TFakeConnectionProbes> FProbes;
    std::shared_ptr<TRecordingShell> FShell;
    TConfiguration FConfiguration;
    TConnectionDetector FConnectionDetector;
};

// A successful check

TEST_F(TVersionFormTest, NewerVersionIsShownAndUpdateOpensItsPage)
{
    ServeVersionFile(std::string("2.1\r\nJul 2 2000\r\n") + PageAddress + "\r\n");
    auto form = MakeForm();
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Mailbeacon 2.0 - Version Check"));
    EXPECT_EQ(form->pnlInstalledVersion->text(), QStringLiteral("2.0"));
    EXPECT_EQ(form->pnlInstalledDate->text(), QStringLiteral("Jun 13 2000"));
    EXPECT_FALSE(form->btnUpdate->isEnabled());

    form->show();
    // The status is there before the event loop has run once: nothing waits for the server.
    EXPECT_EQ(form->pnlStatus->text(), ConnectingText());
    ASSERT_TRUE(WaitFor([&] { return form->Checked; }, 5000));

    EXPECT_EQ(form->pnlLatestVersion->text(), QStringLiteral("2.1"));
    EXPECT_EQ(form->pnlLatestDate->text(), QStringLiteral("Jul 2 2000"));
    EXPECT_EQ(form->pnlStatus->text(), QStringLiteral("Version checked successfully"));
    EXPECT_EQ(form->UpdateURL, QString::fromLatin1(PageAddress));
    ASSERT_TRUE(form->btnUpdate->isEnabled());
    const auto requests = FServer.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].Method, "GET");
    EXPECT_EQ(requests[0].Target, "/versions/beaconer.dat");

    QTest::mouseClick(form->btnUpdate, Qt::LeftButton);
    ASSERT_EQ(FShell->Opened.size(), 1u);
    EXPECT_EQ(FShell->Opened[0].first, QString::fromLatin1(PageAddress));
    EXPECT_TRUE(form->isVisible()) << "Update leaves the window open";
    EXPECT_TRUE(form->btnUpdate->isEnabled());
}

// The comparison is numeric, and the same whatever decimal separator the user's locale has.
TEST_F(TVersionFormTest, VersionsCompareAsNumbersInAnyLocale)
{
    struct TCase
    {
        const char* Latest;
        bool Newer;
    };
    const TCase cases[] = {{"2.0", false}, {"2.00", false}, {"1.9", false}, {"2.1", true},
                           {"2.10", true}, {"2.01", true},  {"10.0", true}, {"3", true}};
    const QLocale saved;
    for (const QLocale& locale : {QLocale(QLocale::English), QLocale(QLocale::German)}) {
        QLocale::setDefault(locale);
        for (const TCase& test : cases) {
            SCOPED_TRACE(locale.name().toStdString() + " " + test.Latest);
            ServeVersionFile(std::string(test.Latest) + "\nJul 2 2000\n" + PageAddress + "\n");
            auto form = OpenAndCheck();
            EXPECT_EQ(form->pnlLatestVersion->text(), QString::fromLatin1(test.Latest));
            EXPECT_EQ(form->pnlStatus->text(), QStringLiteral("Version checked successfully"));
            EXPECT_EQ(form->btnUpdate->isEnabled(), test.Newer);
        }
    }
    QLocale::setDefault(saved);
}

// Failures: one status text, the lines read before the failure still shown

TEST_F(TVersionFormTest, FileOfTwoLinesShowsThemAndFails)
{
    ServeVersionFile("2.1\nJul 2 2000\n");
    auto form = OpenAndCheck();
    EXPECT_EQ(form->pnlLatestVersion->text(), QStringLiteral("2.1"));
    EXPECT_EQ(form->pnlLatestDate->text(), QStringLiteral("Jul 2 2000"));
    EXPECT_EQ(form->pnlStatus->text(), ErrorText());
    EXPECT_FALSE(form->btnUpdate->isEnabled());
    EXPECT_TRUE(form->UpdateURL.isEmpty());
}

TEST_F(TVersionFormTest, ErrorPageIsShownAsTextAndFails)
{
    FServer.Serve(VersionFilePath,
                  TServer::Status(404, "Not Found",
                                  "<html>\r\n<head><title>404 Not Found</title></head>\r\n"
                                  "<body><h1>Not Found</h1></body>\r\n</html>\r\n"));
    auto form = OpenAndCheck();
    EXPECT_EQ(form->pnlLatestVersion->text(), QStringLiteral("<html>"));
    EXPECT_EQ(form->pnlLatestVersion->textFormat(), Qt::PlainText);
    EXPECT_EQ(form->pnlStatus->text(), ErrorText());
    EXPECT_FALSE(form->btnUpdate->isEnabled());
}

TEST_F(TVersionFormTest, OverlongLineIsCutAndLeavesTheLayoutAlone)
{
    ServeVersionFile(std::string(100000, '9') + "\nJul 2 2000\n" + PageAddress + "\n");
    auto form = MakeForm();
    const QSize size = form->size();
    form->show();
    ASSERT_TRUE(WaitFor([&] { return form->Checked; }, 5000));
    EXPECT_EQ(form->pnlStatus->text(), ErrorText()) << "no number has 100000 digits";
    EXPECT_LT(form->pnlLatestVersion->text().size(), 300);
    EXPECT_EQ(form->size(), size);
    QTest::qWait(20);
    EXPECT_EQ(form->gbInstalled->width(), form->gbLatest->width());
}

TEST_F(TVersionFormTest, UnreachableServerGivesTheErrorTextWithItsCause)
{
    const std::string closed = "127.0.0.1:" + std::to_string(UnusedLoopbackPort());
    TVendorHostOverride vendor(closed);
    auto form = OpenAndCheck();
    EXPECT_EQ(form->pnlStatus->text(),
              QStringLiteral("Error connecting to ") + QString::fromStdString(closed));
    EXPECT_FALSE(form->pnlStatus->toolTip().isEmpty()) << "the cause is kept for the user";
    EXPECT_TRUE(form->pnlLatestVersion->text().isEmpty());
    EXPECT_FALSE(form->btnUpdate->isEnabled());
}

// A version file comes from the network: only a web address may reach the desktop's open
// service, which would start a program named by anything else.
TEST_F(TVersionFormTest, UpdateOpensOnlyWebAddresses)
{
    for (const char* page :
         {"/usr/bin/xterm", "xterm", "file:///usr/bin/xterm", "mailto:x@y.z", "http://"}) {
        SCOPED_TRACE(page);
        ServeVersionFile(std::string("2.1\nJul 2 2000\n") + page + "\n");
        auto form = OpenAndCheck();
        EXPECT_EQ(form->pnlStatus->text(), QStringLiteral("Version checked successfully"));
        EXPECT_FALSE(form->btnUpdate->isEnabled());
        form->btnUpdate->click();
    }
    EXPECT_TRUE(FShell->Opened.empty());
    EXPECT_TRUE(IsDownloadPageAddress(QStringLiteral("HTTPS://www.hollinway.com/")));
}

// When the window checks

TEST_F(TVersionFormTest, OfflineWindowShowsOnlyTheInstalledVersion)
{
    ServeVersionFile(std::string("2.1\nJul 2 2000\n") + PageAddress + "\n");
    SetOnline(false);
    auto form = MakeForm();
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    QTest::qWait(100);
    EXPECT_FALSE(form->Checking);
    EXPECT_FALSE(form->Checked);
    EXPECT_EQ(FServer.Connections(), 0);
    EXPECT_TRUE(form->pnlStatus->text().isEmpty());
    EXPECT_TRUE(form->pnlLatestVersion->text().isEmpty());
    EXPECT_FALSE(form->btnUpdate->isEnabled());
}

TEST_F(TVersionFormTest, WindowChecksOnlyOnce)
{
    ServeVersionFile(std::string("2.1\nJul 2 2000\n") + PageAddress + "\n");
    auto form = OpenAndCheck();
    form->hide();
    form->show();
    QTest::qWait(100);
    EXPECT_FALSE(form->Checking);
    EXPECT_EQ(FServer.Requests().size(), 1u);
}

// A request that hangs

TEST_F(TVersionFormTest, WindowAnswersWhileTheServerIsSilentAndClosingCancels)
{
    FServer.Serve(VersionFilePath, TServer::Stall());
    auto form = MakeForm();
    form->show();
    ASSERT_TRUE(WaitFor([&] { return FServer.Requests().size() == 1; }));
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(10);
    QTest::qWait(200);
    EXPECT_GE(ticks, 5) << "the event loop went on while the request waited";
    EXPECT_TRUE(form->Checking);
    EXPECT_EQ(form->pnlStatus->text(), ConnectingText());

    // The worker holds the client until its request ends; closing must end it at once, not
    // after the client's time-outs.
    const std::weak_ptr<TSimpleHTTP> http = form->SimpleHTTP;
    QTest::mouseClick(form->btnClose, Qt::LeftButton);
    EXPECT_FALSE(form->isVisible());
    form.reset();
    EXPECT_TRUE(WaitFor([&] { return http.expired(); }, 3000))
        << "the request went on after the window had closed";
    QTest::qWait(50);
}

// The answer arrives after the window has gone; nothing may reach it.
TEST_F(TVersionFormTest, ResultForAWindowThatHasGoneIsDropped)
{
    FServer.Serve(VersionFilePath,
                  TServer::Slow(std::string("2.1\nJul 2 2000\n") + PageAddress + "\n", 4, 20ms));
    auto form = MakeForm();
    form->show();
    ASSERT_TRUE(WaitFor([&] { return FServer.Requests().size() == 1; }));
    const std::weak_ptr<TSimpleHTTP> http = form->SimpleHTTP;
    form.reset();
    ASSERT_TRUE(WaitFor([&] { return http.expired(); }, 3000));
    QTest::qWait(50);

    // A window that is only hidden still gets its (cancelled) result.
    auto hidden = MakeForm();
    hidden->show();
    ASSERT_TRUE(WaitFor([&] { return FServer.Requests().size() == 2; }));
    hidden->close();
    ASSERT_TRUE(WaitFor([&] { return hidden->Checked; }, 3000));
    EXPECT_EQ(hidden->pnlStatus->text(), ErrorText());
}

// Through a real proxy

TEST_F(TVersionFormTest, RequestGoesThroughTheConfiguredProxy)
{
    if (!TTinyProxy::Available())
        GTEST_SKIP() << "tinyproxy is not installed; scripts/deps installs it";
    TTinyProxy proxy;
    FConfiguration.Connection.UseProxy = true;
    FConfiguration.Connection.Proxy = "127.0.0.1";
    FConfiguration.Connection.ProxyPort = proxy.Port();
    ServeVersionFile(std::string("2.1\nJul 2 2000\n") + PageAddress + "\n");

    auto form = OpenAndCheck();
    EXPECT_EQ(form->SimpleHTTP->ProxyName, "http=127.0.0.1:" + std::to_string(proxy.Port()));
    EXPECT_EQ(form->pnlStatus->text(), QStringLiteral("Version checked successfully"));
    EXPECT_TRUE(form->btnUpdate->isEnabled());
    const auto requests = FServer.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_NE(requests[0].Header("Via").find("tinyproxy"), std::string::npos)
        << "the server was reached without the proxy";
    EXPECT_NE(proxy.Log().find("GET " + FServer.Url(VersionFilePath)), std::string::npos);
}

// Opened from the main window

TEST_F(TVersionFormTest, MainWindowOpensANewCentredModalWindowEachTime)
{
    ServeVersionFile(std::string("2.1\nJul 2 2000\n") + PageAddress + "\n");
    TTempDir dir;
    TFileKeyStore store(dir.File("store.reg"));
    TScriptedDialogs dialogs;
    TMainForm main(store, dialogs.Make(), FShell);
    main.ConnectionDetector().SetProbes(FProbes);
    main.setGeometry(100, 120, 600, 400);

    for (int opening = 1; opening <= 2; ++opening) {
        QPointer<TVersionForm> seen;
        QRect placed;
        QTimer::singleShot(0, [&] {
            seen = qobject_cast<TVersionForm*>(QApplication::activeModalWidget());
            if (seen.isNull())
                return;
            placed = seen->geometry();
            WaitFor([&] { return seen->Checked; }, 30000);
            seen->btnUpdate->click();
            seen->close();
        });
        main.actHelpCheckForNewVersion->trigger();
        ASSERT_FALSE(placed.isNull()) << "no modal version window was shown";
        EXPECT_TRUE(seen.isNull()) << "the window outlived its opening";
        EXPECT_EQ(placed.left(), 100 + (600 - placed.width()) / 2);
        EXPECT_EQ(placed.top(), 120 + (400 - placed.height()) / 2);
        EXPECT_EQ(FServer.Requests().size(), static_cast<std::size_t>(opening));
        EXPECT_EQ(FShell->Opened.size(), static_cast<std::size_t>(opening));
    }
    main.ExitRequested = true;
}

} // namespace
