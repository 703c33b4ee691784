#include "desktop/TrayIcon.h"

#include "tests/ui/FakeTrayArea.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QPixmap>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace {

QIcon Filled(Qt::GlobalColor color)
{
    QPixmap pixmap(16, 16);
    pixmap.fill(color);
    return QIcon(pixmap);
}

class TTrayIconTest : public ::testing::Test
{
protected:
    TTrayIconTest()
    {
        auto area = std::make_unique<TFakeTrayArea>();
        FArea = area.get();
        FTray.SetArea(std::move(area));
        FTray.SetIcon(FNormal);
        FTray.OnDblClick = [this] { ++FDoubleClicks; };
    }

    const QIcon FNormal = Filled(Qt::blue);
    const QIcon FLit = Filled(Qt::yellow);
    const QIcon FDark = Filled(Qt::darkGray);
    TTrayIcon FTray;
    TFakeTrayArea* FArea;
    int FDoubleClicks = 0;
};

// Hint

TEST_F(TTrayIconTest, TooltipIsTheTextBeforeTheBarCutTo63Characters)
{
    const QString long80 = QString(80, QLatin1Char('x'));
    FTray.SetHint(long80);
    EXPECT_EQ(FArea->Tip, QString(63, QLatin1Char('x')));
    EXPECT_EQ(FTray.Hint(), long80) << "the hint itself is kept whole";

    FTray.SetHint(QStringLiteral("Mail Check completed|3 new"));
    EXPECT_EQ(FArea->Tip, QStringLiteral("Mail Check completed"));
    FTray.SetHint(QStringLiteral("|hidden"));
    EXPECT_EQ(FArea->Tip, QString());

    // A character outside the basic plane is never cut in half.
    const QString face = QString::fromUtf8("\xF0\x9F\x98\x80");
    FTray.SetHint(QString(62, QLatin1Char('a')) + face + QStringLiteral("tail"));
    EXPECT_EQ(FArea->Tip, QString(62, QLatin1Char('a')));
}

TEST_F(TTrayIconTest, SameHintAgainLeavesTheAreaAlone)
{
    FTray.SetHint(QStringLiteral("Connected"));
    const int modifies = FArea->Modifies;
    FTray.SetHint(QStringLiteral("Connected"));
    EXPECT_EQ(FArea->Modifies, modifies);
    FTray.SetHint(QStringLiteral("Checking for messages"));
    EXPECT_EQ(FArea->Modifies, modifies + 1);
    EXPECT_EQ(FArea->Tip, QStringLiteral("Checking for messages"));
}

// Registration

TEST_F(TTrayIconTest, IconIsPlacedWhenItHasAnImageAndRemovedWhenItLosesIt)
{
    TTrayIcon tray;
    auto area = std::make_unique<TFakeTrayArea>();
    TFakeTrayArea* fake = area.get();
    tray.SetArea(std::move(area));
    EXPECT_EQ(fake->Adds, 0) << "nothing to show without an image";
    tray.SetHint(QStringLiteral("Mailbeacon"));
    tray.SetIcon(FNormal);
    EXPECT_TRUE(fake->Shown);
    EXPECT_EQ(fake->Tip, QStringLiteral("Mailbeacon"));

    tray.SetIcon(QIcon());
    EXPECT_FALSE(fake->Shown);
    EXPECT_FALSE(tray.Registered());

    tray.SetIcon(FNormal);
    tray.SetActive(false);
    EXPECT_FALSE(fake->Shown);
    tray.SetHint(QStringLiteral("Connected"));
    EXPECT_FALSE(fake->Shown) << "an inactive icon stays away";
    tray.SetActive(true);
    EXPECT_TRUE(fake->Shown);
    EXPECT_EQ(fake->Tip, QStringLiteral("Connected"));
}

TEST_F(TTrayIconTest, RefusedIconIsPlacedAgainAtTheNextChange)
{
    FArea->Accepts = false;
    FTray.HideIcon();
    FTray.ShowIcon();
    EXPECT_FALSE(FTray.Registered());
    FTray.SetIcons({FLit, FDark});
    FTray.SetAnimated(true);
    QTest::qWait(400);
    EXPECT_EQ(FTray.FrameIndex(), 0) << "no animation without an icon to show it on";

    FArea->Accepts = true;
    const int adds = FArea->Adds;
    FTray.SetHint(QStringLiteral("Connected"));
    EXPECT_EQ(FArea->Adds, adds + 1);
    EXPECT_TRUE(FTray.Registered());
    EXPECT_TRUE(QTest::qWaitFor([&] { return FTray.FrameIndex() == 1; }, 1000));
}

TEST_F(TTrayIconTest, DestroyingTheIconRemovesItFromTheArea)
{
    auto tray = std::make_unique<TTrayIcon>();
    auto area = std::make_unique<TFakeTrayArea>();
    TFakeTrayArea* fake = area.get();
    tray->SetArea(std::move(area));
    tray->SetIcon(FNormal);
    ASSERT_TRUE(fake->Shown);
    const std::shared_ptr<int> removes = fake->RemovesSeen;
    tray.reset();
    EXPECT_EQ(*removes, 1);
}

// Animation

TEST_F(TTrayIconTest, AnimationNeedsFrames)
{
    FTray.SetAnimated(true);
    EXPECT_FALSE(FTray.Animated()) << "no frames, no animation";

    FTray.SetIcons({FLit, FDark});
    FTray.SetAnimated(true);
    EXPECT_TRUE(FTray.Animated());
    FTray.SetIcons({});
    EXPECT_FALSE(FTray.Animated()) << "losing the frames ends the animation";
    EXPECT_EQ(FArea->Image.cacheKey(), FNormal.cacheKey());
}

TEST_F(TTrayIconTest, FrameIndexStartsAtMinusOneAndRestartsWithEveryChange)
{
    EXPECT_EQ(FTray.FrameIndex(), -1);
    FTray.SetIcons({FLit, FDark, FNormal});
    FTray.SetInterval(60000);
    FTray.SetAnimated(true);
    EXPECT_EQ(FTray.FrameIndex(), 0);
    EXPECT_EQ(FArea->Image.cacheKey(), FLit.cacheKey());
    FTray.NextFrame();
    FTray.NextFrame();
    EXPECT_EQ(FTray.FrameIndex(), 2);
    FTray.NextFrame();
    EXPECT_EQ(FTray.FrameIndex(), 0) << "wraps after the last frame";
    FTray.NextFrame();
    FTray.SetAnimated(false);
    EXPECT_EQ(FTray.FrameIndex(), 0);
    EXPECT_EQ(FArea->Image.cacheKey(), FNormal.cacheKey());
    FTray.NextFrame();
    EXPECT_EQ(FTray.FrameIndex(), 0) << "a still icon has no frames to advance";
}

TEST_F(TTrayIconTest, FramesAlternateAboutEvery150Milliseconds)
{
    FTray.SetIcons({FLit, FDark});
    EXPECT_EQ(FTray.Interval(), 150);
    FArea->Images.clear();
    FTray.SetAnimated(true);
    QTest::qWait(1000);
    FTray.SetAnimated(false);

    // The first image comes at once, then one every 150 ms: about six to seven changes.
    ASSERT_GE(FArea->Images.size(), 2);
    const QList<qint64> frames = FArea->Images.mid(0, FArea->Images.size() - 1);
    EXPECT_GE(frames.size(), 4);
    EXPECT_LE(frames.size(), 8);
    for (qsizetype index = 0; index < frames.size(); ++index) {
        const qint64 expected = index % 2 == 0 ? FLit.cacheKey() : FDark.cacheKey();
        EXPECT_EQ(frames[index], expected) << "frame " << index;
    }
    EXPECT_EQ(FArea->Images.last(), FNormal.cacheKey()) << "the still icon comes back";

    const qsizetype changes = FArea->Images.size();
    QTest::qWait(400);
    EXPECT_EQ(FArea->Images.size(), changes) << "no frame after the animation ended";
}

TEST_F(TTrayIconTest, HiddenIconPausesTheAnimation)
{
    FTray.SetIcons({FLit, FDark});
    FTray.SetAnimated(true);
    FTray.HideIcon();
    const int frame = FTray.FrameIndex();
    QTest::qWait(400);
    EXPECT_EQ(FTray.FrameIndex(), frame);
    FTray.ShowIcon();
    EXPECT_TRUE(QTest::qWaitFor([&] { return FTray.FrameIndex() != frame; }, 1000));
}

// Clicks and menu

TEST_F(TTrayIconTest, DoubleClickRunsTheHandlerOnceAndAPlainClickNothing)
{
    FArea->Click(QSystemTrayIcon::Trigger);
    EXPECT_EQ(FDoubleClicks, 0);
    QTest::qWait(QApplication::doubleClickInterval() + 100);
    FArea->DoubleClick();
    EXPECT_EQ(FDoubleClicks, 1) << "the plain click that comes first does not count twice";
    FArea->Click(QSystemTrayIcon::MiddleClick);
    FArea->Click(QSystemTrayIcon::Context);
    EXPECT_EQ(FDoubleClicks, 1);
}

TEST_F(TTrayIconTest, TwoQuickPlainClicksCountAsADoubleClick)
{
    // What a tray that has no double click of its own reports.
    FArea->Click(QSystemTrayIcon::Trigger);
    FArea->Click(QSystemTrayIcon::Trigger);
    EXPECT_EQ(FDoubleClicks, 1);
    FArea->Click(QSystemTrayIcon::Trigger);
    EXPECT_EQ(FDoubleClicks, 1) << "a third click starts afresh";

    QTest::qWait(QApplication::doubleClickInterval() + 100);
    FArea->Click(QSystemTrayIcon::Trigger);
    EXPECT_EQ(FDoubleClicks, 1) << "two clicks far apart are two plain clicks";
}

TEST_F(TTrayIconTest, DisabledIconIgnoresClicksAndOpensNoMenu)
{
    QMenu menu;
    FTray.SetPopupMenu(&menu);
    EXPECT_EQ(FArea->Menu, &menu);
    FTray.SetEnabled(false);
    EXPECT_EQ(FArea->Menu, nullptr);
    FArea->DoubleClick();
    EXPECT_EQ(FDoubleClicks, 0);
    FTray.SetEnabled(true);
    EXPECT_EQ(FArea->Menu, &menu);
    FTray.SetActive(false);
    EXPECT_EQ(FArea->Menu, nullptr);
}

TEST_F(TTrayIconTest, EnabledDefaultMenuItemRunsInsteadOfTheHandler)
{
    QMenu menu;
    QAction* item = menu.addAction(QStringLiteral("Open"));
    int opened = 0;
    QObject::connect(item, &QAction::triggered, [&] { ++opened; });
    FTray.SetPopupMenu(&menu);

    FArea->DoubleClick();
    EXPECT_EQ(FDoubleClicks, 1) << "no default item";

    menu.setDefaultAction(item);
    FArea->DoubleClick();
    EXPECT_EQ(opened, 1);
    EXPECT_EQ(FDoubleClicks, 1);

    item->setEnabled(false);
    FArea->DoubleClick();
    EXPECT_EQ(opened, 1);
    EXPECT_EQ(FDoubleClicks, 2);
}

} // namespace
