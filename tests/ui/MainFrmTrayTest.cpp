#include "config/FileKeyStore.h"
#include "desktop/Icons.h"
#include "desktop/TrayIcon.h"
#include "gui/MailOperations.h"
#include "gui/MainFrm.h"
#include "tests/support/FakeConnectionProbes.h"
#include "tests/support/TempDir.h"
#include "tests/ui/FakeTrayArea.h"
#include "tests/ui/UiSupport.h"

#include <QAction>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>

using namespace std::chrono_literals;

namespace {

// The main window with its tray icon in a fake notification area.
class TMainFormTrayTest : public ::testing::Test
{
protected:
    TMainFormTrayTest()
        : FStore(FDir.File("store.reg"))
        , FProbes(std::make_shared<TFakeConnectionProbes>())
    {
        FProbes->DialUpIsAvailable = true;
        FProbes->DialUpIsConnected = true;
        FProbes->QueryIsAvailable = true;
        FProbes->Flags = ConnectedState::Lan | ConnectedState::Modem;
    }

    std::unique_ptr<TMainForm> MakeForm(bool trayAvailable)
    {
        auto form = std::make_unique<TMainForm>(FStore, FDialogs.Make(), FShell);
        form->ConnectionDetector().SetProbes(FProbes);
        TMailOperations operations;
        operations.StartCheck = [this] { ++FChecks; };
        form->MailOperationsController().SetOperations(operations);
        auto area = std::make_unique<TFakeTrayArea>();
        area->IsAvailable = trayAvailable;
        FArea = area.get();
        form->TrayIcon->SetArea(std::move(area));
        return form;
    }

    TTempDir FDir;
    TFileKeyStore FStore;
    TScriptedDialogs FDialogs;
    std::shared_ptr<TFakeConnectionProbes> FProbes;
    std::shared_ptr<TRecordingShell> FShell = std::make_shared<TRecordingShell>();
    TFakeTrayArea* FArea = nullptr;
    int FChecks = 0;
};

TEST_F(TMainFormTrayTest, IconShowsTheProgramAndTheLatestStatus)
{
    auto form = MakeForm(true);
    EXPECT_TRUE(FArea->Shown);
    EXPECT_EQ(FArea->Tip, QStringLiteral("Mailbeacon"));
    EXPECT_EQ(FArea->Menu, form->pmTrayIcon);
    EXPECT_FALSE(FArea->Image.isNull());

    form->WirePOP3Status(QStringLiteral("Retrieving headers"));
    EXPECT_EQ(FArea->Tip, QStringLiteral("Retrieving headers"));

    // Mail waiting: two frames of their own, and the still icon again at the next check.
    const QIcon still = FArea->Image;
    form->TrayIcon->SetAnimated(true);
    ASSERT_EQ(form->TrayIcon->Icons().size(), 2);
    EXPECT_NE(FArea->Image.cacheKey(), still.cacheKey());
    const QImage first = form->TrayIcon->Icons()[0].pixmap(16, 16).toImage();
    const QImage second = form->TrayIcon->Icons()[1].pixmap(16, 16).toImage();
    EXPECT_NE(first, second) << "the two frames must differ to blink";
    form->TrayIcon->SetAnimated(false);
    EXPECT_EQ(FArea->Image.cacheKey(), still.cacheKey());

    // A check that announces mail starts the blinking; the next check stops it.
    Q_EMIT form->TrayAnimationChanged(true);
    EXPECT_TRUE(form->TrayIcon->Animated());
    Q_EMIT form->TrayAnimationChanged(false);
    EXPECT_FALSE(form->TrayIcon->Animated());
}

TEST_F(TMainFormTrayTest, DoubleClickRunsTheChosenActionOnce)
{
    auto form = MakeForm(true);
    TApplicationSettings& settings = form->Configuration().ApplicationSettings;
    // The mail client must name a file that exists before it is started.
    WriteFile(FDir.File("mail-client"), "#!/bin/sh\n");
    form->Configuration().Notification.MailClient = FDir.File("mail-client");
    const auto& clientStarts = FShell->Opened;

    settings.DoubleClick = TApplicationSettings::CheckMail;
    FArea->DoubleClick();
    EXPECT_EQ(FChecks, 1) << "the plain click before the double click must not check again";

    settings.DoubleClick = TApplicationSettings::StartMailClient;
    FArea->DoubleClick();
    EXPECT_EQ(clientStarts.size(), 1);
    EXPECT_FALSE(form->isVisible());

    for (const int ignored : {3, -1}) {
        settings.DoubleClick = ignored;
        FArea->DoubleClick();
    }
    EXPECT_EQ(FChecks, 1);
    EXPECT_EQ(clientStarts.size(), 1);
    EXPECT_FALSE(form->isVisible());

    settings.DoubleClick = TApplicationSettings::ShowMailbeacon;
    FArea->Click(QSystemTrayIcon::Trigger);
    EXPECT_FALSE(form->isVisible()) << "a plain click does nothing";
    FArea->Click(QSystemTrayIcon::DoubleClick);
    EXPECT_TRUE(form->isVisible());
}

// Start-up and closing with and without a tray

TEST_F(TMainFormTrayTest, WithATrayTheProgramStartsHiddenAndClosingHides)
{
    auto form = MakeForm(true);
    form->StartInTray(100ms);
    QTest::qWait(300);
    EXPECT_FALSE(form->isVisible());

    form->actFileOpenMailbeacon->trigger();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    EXPECT_FALSE(form->close());
    EXPECT_FALSE(form->isVisible());
}

TEST_F(TMainFormTrayTest, WithoutATrayTheWindowComesAfterTheGracePeriodAndClosingMinimises)
{
    auto form = MakeForm(false);
    QElapsedTimer clock;
    clock.start();
    form->StartInTray(300ms);
    EXPECT_FALSE(form->isVisible()) << "a tray may still come up";
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->isVisible(); }, 3000));
    EXPECT_GE(clock.elapsed(), 250);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));

    EXPECT_FALSE(form->close()) << "closing must not end the program";
    EXPECT_TRUE(form->isVisible());
    EXPECT_TRUE(form->isMinimized());
    EXPECT_FALSE(form->ExitRequested);

    form->actFileOpenMailbeacon->trigger();
    EXPECT_FALSE(form->isMinimized());
}

TEST_F(TMainFormTrayTest, TrayThatComesUpWithinTheGracePeriodKeepsTheWindowHidden)
{
    auto form = MakeForm(false);
    form->StartInTray(300ms);
    QTest::qWait(100);
    FArea->SetAvailable(true);
    QTest::qWait(400);
    EXPECT_FALSE(form->isVisible());

    form->actFileOpenMailbeacon->trigger();
    EXPECT_FALSE(form->close());
    EXPECT_FALSE(form->isVisible()) << "with the tray there, closing hides";
}

TEST_F(TMainFormTrayTest, TrayThatGoesAwayBringsTheHiddenWindowBack)
{
    auto form = MakeForm(true);
    EXPECT_FALSE(form->isVisible());
    FArea->SetAvailable(false);
    EXPECT_TRUE(form->isVisible());
    EXPECT_TRUE(form->isMinimized());
    EXPECT_FALSE(form->close());
    EXPECT_TRUE(form->isVisible());
}

} // namespace
