#include "gui/AboutFrm.h"

#include "config/FileKeyStore.h"
#include "gui/LinkLabel.h"
#include "gui/MainFrm.h"
#include "net/VendorHost.h"
#include "tests/support/TempDir.h"
#include "tests/ui/UiSupport.h"

#include <QAction>
#include <QApplication>
#include <QEnterEvent>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

namespace {

void Enter(QWidget* widget)
{
    QEnterEvent event(QPointF(2, 2), QPointF(2, 2), widget->mapToGlobal(QPointF(2, 2)));
    QCoreApplication::sendEvent(widget, &event);
}

void Leave(QWidget* widget)
{
    QEvent event(QEvent::Leave);
    QCoreApplication::sendEvent(widget, &event);
}

QColor TextColor(const QWidget* widget)
{
    return widget->palette().color(QPalette::WindowText);
}

class TShellLinkTest : public ::testing::Test
{
protected:
    TShellLinkTest()
        : FShell(std::make_shared<TRecordingShell>())
        , FLink(FShell)
    {
        FLink.setText(QStringLiteral("www.hollinway.com"));
        FLink.resize(150, 20);
        FLink.show();
    }

    std::shared_ptr<TRecordingShell> FShell;
    TShellLink FLink;
};

TEST_F(TShellLinkTest, FocusFontWhileTheMouseIsOverAndTheNormalOneRestoredExactly)
{
    QFont normal = FLink.font();
    normal.setPointSize(10);
    FLink.setFont(normal);
    const QColor normalColor = TextColor(&FLink);
    QFont focus = normal;
    focus.setUnderline(true);
    FLink.SetFocusFont(focus);
    FLink.SetFocusColor(Qt::blue);
    focus.setItalic(true); // the label keeps its own copy
    EXPECT_FALSE(FLink.FocusFont().italic());

    // Each notification comes after the switch it announces.
    QList<std::pair<bool, QColor>> seen;
    const auto record = [&] { seen.append({FLink.font().underline(), TextColor(&FLink)}); };
    QObject::connect(&FLink, &TShellLink::OnMouseEnter, record);
    QObject::connect(&FLink, &TShellLink::OnMouseLeave, record);

    Enter(&FLink);
    EXPECT_TRUE(FLink.font().underline());
    EXPECT_EQ(TextColor(&FLink), QColor(Qt::blue));
    Enter(&FLink); // a second enter must not take the focus font for the normal one
    Leave(&FLink);
    EXPECT_EQ(FLink.font(), normal);
    EXPECT_EQ(TextColor(&FLink), normalColor);
    Leave(&FLink);
    ASSERT_EQ(seen.size(), 2);
    EXPECT_EQ(seen[0], std::make_pair(true, QColor(Qt::blue)));
    EXPECT_EQ(seen[1], std::make_pair(false, normalColor));

    // A font given while the mouse is over the label is lost when it leaves.
    Enter(&FLink);
    QFont bold = FLink.font();
    bold.setBold(true);
    FLink.setFont(bold);
    Leave(&FLink);
    EXPECT_EQ(FLink.font(), normal);
}

TEST_F(TShellLinkTest, ClickHandsTheLinkToTheShell)
{
    QTest::mouseClick(&FLink, Qt::LeftButton);
    EXPECT_TRUE(FShell->Opened.empty()) << "an empty link opens nothing";

    FLink.SetLink(QStringLiteral("http://www.hollinway.com/"));
    QTest::mouseClick(&FLink, Qt::RightButton);
    QTest::mousePress(&FLink, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseRelease(&FLink, Qt::LeftButton, {}, QPoint(500, 5)); // released elsewhere
    EXPECT_TRUE(FShell->Opened.empty());
    QTest::mouseClick(&FLink, Qt::LeftButton);
    ASSERT_EQ(FShell->Opened.size(), 1u);
    EXPECT_EQ(FShell->Opened[0],
              std::make_pair(QStringLiteral("http://www.hollinway.com/"), QString()));

    FLink.SetLink(QString(300, QLatin1Char('a')));
    EXPECT_EQ(FLink.Link().size(), TShellLink::MaxLinkLength);
}

class TAboutFormTest : public ::testing::Test
{
protected:
    std::shared_ptr<TRecordingShell> FShell = std::make_shared<TRecordingShell>();
};

TEST_F(TAboutFormTest, ShowsTheProgramAndOpensItsLinks)
{
    TAboutForm form(FShell);
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Mailbeacon 2.0"));
    EXPECT_EQ(form.lblMailbeacon->text(), QStringLiteral("Mailbeacon"));
    EXPECT_EQ(form.lblVersion->text(), QStringLiteral("Version 2.0"));
    EXPECT_FALSE(form.lblCopyright->text().isEmpty());
    EXPECT_FALSE(form.imgLogo->pixmap().isNull());
    EXPECT_EQ(form.ShellLinkURL->text(), QString::fromStdString(VendorHost()));
    EXPECT_EQ(form.ShellLinkSupport->text(), QString::fromStdString(SupportAddress()));

    Enter(form.ShellLinkSupport);
    EXPECT_TRUE(form.ShellLinkSupport->font().underline());
    EXPECT_EQ(TextColor(form.ShellLinkSupport), QColor(0, 0, 255));
    Leave(form.ShellLinkSupport);
    EXPECT_FALSE(form.ShellLinkSupport->font().underline());

    QTest::mouseClick(form.ShellLinkURL, Qt::LeftButton);
    QTest::mouseClick(form.ShellLinkSupport, Qt::LeftButton);
    ASSERT_EQ(FShell->Opened.size(), 2u);
    EXPECT_EQ(FShell->Opened[0].first, QString::fromStdString(VendorUrl("/")));
    EXPECT_EQ(FShell->Opened[1].first,
              QStringLiteral("mailto:") + QString::fromStdString(SupportAddress()));

    QTest::mouseClick(form.btnClose, Qt::LeftButton);
    EXPECT_FALSE(form.isVisible());
}

TEST_F(TAboutFormTest, MainWindowOpensItCentredAndModal)
{
    TTempDir dir;
    TFileKeyStore store(dir.File("store.reg"));
    TScriptedDialogs dialogs;
    TMainForm main(store, dialogs.Make(), FShell);
    main.setGeometry(100, 120, 600, 400);

    QPointer<TAboutForm> seen;
    QRect placed;
    QTimer::singleShot(0, [&] {
        seen = qobject_cast<TAboutForm*>(QApplication::activeModalWidget());
        if (seen.isNull())
            return;
        placed = seen->geometry();
        QTest::mouseClick(seen->ShellLinkURL, Qt::LeftButton);
        seen->close();
    });
    main.actHelpAboutMailbeacon->trigger();
    ASSERT_FALSE(placed.isNull()) << "no modal About box was shown";
    EXPECT_TRUE(seen.isNull()) << "the About box outlived its opening";
    EXPECT_EQ(placed.left(), 100 + (600 - placed.width()) / 2);
    EXPECT_EQ(placed.top(), 120 + (400 - placed.height()) / 2);
    ASSERT_EQ(FShell->Opened.size(), 1u) << "the main window's shell opens the links";
    main.ExitRequested = true;
}

} // namespace
