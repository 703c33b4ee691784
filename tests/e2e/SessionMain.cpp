// The entry of the tests that need a desktop session of their own: the session is started
// before the application object, on the X11 platform, so that the tray icon registers with the
// session's watcher and pop-ups go to its notification server.
#include "tests/e2e/DesktopSession.h"
#include "tests/e2e/SessionTest.h"

#include <QApplication>
#include <QStandardPaths>

#include <gtest/gtest.h>

std::string SessionFailure;
TDesktopSession* Session = nullptr;

int main(int argc, char* argv[])
{
    ::testing::InitGoogleTest(&argc, argv);
    // Listing the tests (as the build does) needs no session.
    static TDesktopSession session;
    if (::testing::GTEST_FLAG(list_tests)) {
        SessionFailure = "only listing";
        qputenv("QT_QPA_PLATFORM", "offscreen");
    } else {
        SessionFailure = session.Start(MB_SNI_WATCHER);
        Session = &session;
        qputenv("QT_QPA_PLATFORM", SessionFailure.empty() ? "xcb" : "offscreen");
    }
    QStandardPaths::setTestModeEnabled(true);
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Mailbeacon"));
    QApplication::setQuitOnLastWindowClosed(false);
    return RUN_ALL_TESTS();
}
