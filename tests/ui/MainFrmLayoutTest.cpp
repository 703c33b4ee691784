// The main window's controls, actions and menus under the names, captions and hints the rest of
// the program and its users rely on.
#include "config/FileKeyStore.h"
#include "gui/MainFrm.h"
#include "tests/support/TempDir.h"
#include "tests/ui/UiSupport.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <memory>

namespace {

class TMainFormLayoutTest : public ::testing::Test
{
protected:
    TMainFormLayoutTest()
        : FStore(FDir.File("store.reg"))
        , FForm(FStore, FDialogs.Make(), std::make_shared<TRecordingShell>())
    {}

    QAction* Action(const char* name)
    {
        return FForm.findChild<QAction*>(QString::fromLatin1(name));
    }

    // The object names of a menu's items in order; a separator shows as "-name".
    static QStringList ItemNames(const QMenu* menu)
    {
        QStringList names;
        for (const QAction* item : menu->actions())
            names.append((item->isSeparator() ? QStringLiteral("-") : QString()) +
                         item->objectName());
        return names;
    }

    TTempDir FDir;
    TFileKeyStore FStore;
    TScriptedDialogs FDialogs;
    TMainForm FForm;
};

struct TActionRow
{
    const char* Name;
    const char* Category;
    const char* Caption;
    const char* Hint;
    int Image;
};

TEST_F(TMainFormLayoutTest, ActionsCarryTheirCaptionsHintsCategoriesAndImages)
{
    const TActionRow rows[] = {
        {"actNotificationCheckNow", "Notification", "Check Now", "Check now", 0},
        {"actNotificationStop", "Notification", "Stop", "Stop", 3},
        {"actNotificationDeleteMessages", "Notification", "Delete Message(s)", "Delete", 1},
        {"actNotificationStartMailClient", "Notification", "Start Mail Client", "", 6},
        {"actNotificationSelectAll", "Notification", "Select All", "Select All", -1},
        {"actViewMessagePreview", "View", "Message Preview", "", 5},
        {"actViewActionLog", "View", "Action Log...", "", 4},
        {"actViewSettings", "View", "Settings...", "Settings", 2},
        {"actFileOpenMailbeacon", "File", "Open Mailbeacon", "", 12},
        {"actFileClose", "File", "Close", "Close", -1},
        {"actFileExit", "File", "Exit", "Exit", 11},
        {"actHelpOnlineHelp", "Help", "Online help", "", 7},
        {"actHelpHomePage", "Help", "Home page", "", 9},
        {"actHelpCheckForNewVersion", "Help", "Check For New Version...", "", 10},
        {"actHelpAboutMailbeacon", "Help", "About Mailbeacon...", "", 8},
    };
    ASSERT_EQ(FForm.ActionList.size(), static_cast<qsizetype>(std::size(rows)));
    for (const TActionRow& row : rows) {
        SCOPED_TRACE(row.Name);
        QAction* action = Action(row.Name);
        ASSERT_NE(action, nullptr);
        EXPECT_EQ(action->text(), QString::fromLatin1(row.Caption));
        EXPECT_EQ(action->property("Hint").toString(), QString::fromLatin1(row.Hint));
        EXPECT_EQ(action->property("Category").toString(), QString::fromLatin1(row.Category));
        EXPECT_EQ(action->property("ImageIndex").toInt(), row.Image);
        EXPECT_EQ(action->icon().isNull(), row.Image < 0);
    }
}

// With no row, no operation and no mail client, what needs one of them waits for it; each key
// is on its action.
TEST_F(TMainFormLayoutTest, ActionsStartWithTheStateAndTheirKeys)
{
    QStringList states;
    for (const QAction* action : FForm.ActionList) {
        states.append(action->objectName() +
                      (action->isEnabled() ? QString() : QStringLiteral(" off")) +
                      (action->shortcut().isEmpty()
                           ? QString()
                           : u' ' + action->shortcut().toString(QKeySequence::PortableText)));
    }
    EXPECT_EQ(
        states,
        (QStringList{"actNotificationCheckNow F5", "actNotificationStop off",
                     "actNotificationDeleteMessages off Del", "actNotificationStartMailClient off",
                     "actNotificationSelectAll off", "actViewMessagePreview off Return",
                     "actViewActionLog", "actViewSettings Ctrl+,", "actFileOpenMailbeacon",
                     "actFileClose", "actFileExit Ctrl+Q", "actHelpOnlineHelp", "actHelpHomePage",
                     "actHelpCheckForNewVersion", "actHelpAboutMailbeacon"}));
}

TEST_F(TMainFormLayoutTest, MenusHoldTheirItemsInOrder)
{
    const QMenuBar* bar = FForm.menuBar();
    EXPECT_EQ(bar->objectName(), QStringLiteral("mmMainForm"));
    QStringList titles;
    for (const QAction* menu : bar->actions())
        titles.append(menu->menu()->objectName() + u'=' + menu->text().remove(u'&'));
    EXPECT_EQ(titles, (QStringList{"mmiFile=File", "mmiView=View", "mmiNtification=Notification",
                                   "mmiHelp=Help"}));

    const auto menu = [&](const char* name) {
        return FForm.findChild<QMenu*>(QString::fromLatin1(name));
    };
    EXPECT_EQ(ItemNames(menu("mmiFile")),
              (QStringList{"mmiFileClose", "-mmiFileSep1", "mmiFileExit"}));
    EXPECT_EQ(ItemNames(menu("mmiView")), (QStringList{"mmiViewMessageDetails", "-mmiViewSep1",
                                                       "mmiViewActionlog", "mmiViewSettings"}));
    EXPECT_EQ(
        ItemNames(menu("mmiNtification")),
        (QStringList{"mmiNotificationCheckNow", "mmiNotificationCancel", "-mmiNotificationSep1",
                     "mmiNotificationDelete", "-mmiNotificationSep2", "mmiStartmailclient",
                     "-mmiNotificationSep3", "mmiNotificationSelectAll"}));
    EXPECT_EQ(ItemNames(menu("mmiHelp")),
              (QStringList{"mmiHelpOnlineHelp", "mmiHelpHomePage", "-mmiHelpSep1",
                           "mmiHelpCheckForNewVersion", "-mmiHelpSep2", "mmiHelpAbout"}));
    EXPECT_EQ(ItemNames(FForm.pmTrayIcon),
              (QStringList{"pmiOpen", "-pmiSep1", "pmiCheckNow", "pmiStartmailclient", "-pmiSep2",
                           "pmiExit"}));
    EXPECT_EQ(ItemNames(FForm.pmNotification),
              (QStringList{"pmiNotificationMessageDetails", "pmiNotificationDelete",
                           "-pmiNotificationSep1", "pmiNotificationSelectAll"}));

    // An item shows its action's caption, with a letter to underline, and image and runs it.
    QAction* item = Action("mmiNotificationCancel");
    EXPECT_EQ(item->text(), QStringLiteral("&Stop"));
    EXPECT_FALSE(item->icon().isNull());
    EXPECT_FALSE(item->isEnabled()) << "as its action";
    bool ran = false;
    QObject::connect(FForm.actHelpHomePage, &QAction::triggered, [&] { ran = true; });
    Action("mmiHelpHomePage")->trigger();
    EXPECT_TRUE(ran);
}

TEST_F(TMainFormLayoutTest, ToolBarButtonsShowTheirHints)
{
    QStringList buttons;
    for (QAction* action : FForm.tbMainForm->actions()) {
        if (action->isSeparator()) {
            buttons.append(QStringLiteral("-"));
            continue;
        }
        auto* button = qobject_cast<QToolButton*>(FForm.tbMainForm->widgetForAction(action));
        ASSERT_NE(button, nullptr);
        buttons.append(button->objectName() + u'=' + button->defaultAction()->objectName() + u'=' +
                       button->toolTip());
    }
    EXPECT_EQ(
        buttons,
        (QStringList{"tbtnCheckMail=actNotificationCheckNow=Check now",
                     "tbtnCancel=actNotificationStop=Stop", "-",
                     "tbtnMessagePreview=actViewMessagePreview=Message Preview",
                     "tbtnDelete=actNotificationDeleteMessages=Delete Message(s)", "-",
                     "tbtnStartMailClient=actNotificationStartMailClient=No mail client is set: "
                     "choose one in Settings, on the Notification page",
                     "-", "tbtnLog=actViewActionLog=Log", "tbtnSettings=actViewSettings=Settings",
                     "-", "tbtnHelp=actHelpAboutMailbeacon=About Mailbeacon"}));
    // An action that changes does not take its own hint back onto a button with its own.
    FForm.actNotificationDeleteMessages->setEnabled(false);
    FForm.actNotificationDeleteMessages->setEnabled(true);
    EXPECT_EQ(FForm.findChild<QToolButton*>(QStringLiteral("tbtnDelete"))->toolTip(),
              QStringLiteral("Delete Message(s)"));
}

TEST_F(TMainFormLayoutTest, WindowListPreviewAndStatusBar)
{
    EXPECT_EQ(FForm.windowTitle(), QStringLiteral("Mailbeacon 2.0"));
    EXPECT_EQ(FForm.size(), QSize(550, 390));
    EXPECT_FALSE(FForm.isVisible()) << "the window is created hidden";

    QStringList columns;
    for (int column = 0; column < FForm.lvNotification->columnCount(); ++column) {
        columns.append(FForm.lvNotification->headerItem()->text(column) + u'=' +
                       QString::number(FForm.lvNotification->columnWidth(column)));
    }
    EXPECT_EQ(columns,
              (QStringList{"Account=60", "From=150", "Subject=150", "Date=100", "Size=55"}));
    EXPECT_EQ(FForm.lvNotification->selectionMode(), QAbstractItemView::ExtendedSelection);

    for (const char* name :
         {"pnlTopSpacer", "pnlMainForm", "pnlNotification", "splMessage", "pnlMessage", "pnlheader",
          "pnlMessagePreviewTitle", "sbtnMessagePreviewClose", "memMessage", "tmOnlineDetection"}) {
        EXPECT_NE(FForm.findChild<QObject*>(QString::fromLatin1(name)), nullptr) << name;
    }
    const auto label = [&](const char* name) {
        return FForm.findChild<QLabel*>(QString::fromLatin1(name))->text();
    };
    EXPECT_EQ(label("lblFromTitle"), QStringLiteral("From: "));
    EXPECT_EQ(label("lblToTitle"), QStringLiteral("To: "));
    EXPECT_EQ(label("lblSubjectTitle"), QStringLiteral("Subject: "));
    EXPECT_EQ(label("lblAttachmentsTitle"), QStringLiteral("Attachments:"));
    EXPECT_EQ(FForm.pnlheader->height(), 40);
    EXPECT_EQ(FForm.sbtnMessagePreviewClose->size(), QSize(16, 15));

    QList<int> widths;
    for (int panel = 0; panel < TMainForm::StatusPanelCount; ++panel) {
        widths.append(FForm.statusBar()
                          ->findChild<QLabel*>(QStringLiteral("stbMainFormPanel%1").arg(panel))
                          ->minimumWidth());
    }
    EXPECT_EQ(widths, (QList<int>{70, 70, 150}));
    EXPECT_EQ(FForm.tmOnlineDetection->interval(), 1000);
    EXPECT_TRUE(FForm.tmOnlineDetection->isActive());
    EXPECT_EQ(FForm.TrayHint(), QStringLiteral("Mailbeacon"));
}

} // namespace
