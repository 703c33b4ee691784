#include "gui/LogFrm.h"

#include "gui/LogList.h"
#include "tests/support/TempDir.h"
#include "tests/ui/UiSupport.h"

#include <QDate>
#include <QDir>
#include <QLayout>
#include <QPushButton>
#include <QStandardPaths>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <filesystem>

namespace {

class TLogFormTest : public ::testing::Test
{
protected:
    TLogFormTest()
        : FForm(FDialogs.Make())
    {}

    void Open()
    {
        FForm.AssignLog(FLog);
        FForm.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&FForm));
    }

    QPushButton* Button(const char* name)
    {
        return FForm.findChild<QPushButton*>(QString::fromLatin1(name));
    }
    QTreeWidget* Rows() { return FForm.findChild<QTreeWidget*>(QStringLiteral("lvLog")); }

    void SaveTo(const std::string& fileName)
    {
        FDialogs.SaveFileName = QString::fromStdString(fileName);
        QTest::mouseClick(Button("btnSave"), Qt::LeftButton);
    }

    TTempDir FDir;
    TScriptedDialogs FDialogs;
    TLogList FLog;
    TLogForm FForm;
};

TEST_F(TLogFormTest, EmptyLogDisablesSaveAndClear)
{
    Open();
    EXPECT_EQ(Rows()->topLevelItemCount(), 0);
    EXPECT_FALSE(Button("btnSave")->isEnabled());
    EXPECT_FALSE(Button("btnClear")->isEnabled());
    EXPECT_TRUE(Button("btnClose")->isEnabled());
    EXPECT_EQ(FForm.windowTitle(), QStringLiteral("Mailbeacon 2.0 - Action Log"));
    QTest::mouseClick(Button("btnClose"), Qt::LeftButton);
    EXPECT_FALSE(FForm.isVisible());
}

TEST_F(TLogFormTest, ShowsTheLogAsASnapshot)
{
    FLog.Add({QStringLiteral("06/12/2000 14:05:09"), QStringLiteral("Connected")});
    FLog.Add({QStringLiteral("06/12/2000 14:05:10"), QStringLiteral("User Account is valid")});
    Open();
    ASSERT_EQ(Rows()->topLevelItemCount(), 2);
    EXPECT_EQ(Rows()->topLevelItem(1)->text(0), QStringLiteral("06/12/2000 14:05:10"));
    EXPECT_EQ(Rows()->topLevelItem(1)->text(1), QStringLiteral("User Account is valid"));
    EXPECT_TRUE(Button("btnSave")->isEnabled());
    EXPECT_TRUE(Button("btnClear")->isEnabled());

    FLog.Add({QStringLiteral("06/12/2000 14:05:11"), QStringLiteral("Password is valid")});
    QCoreApplication::processEvents();
    EXPECT_EQ(Rows()->topLevelItemCount(), 2) << "entries added while open are not shown";
}

TEST_F(TLogFormTest, ClearEmptiesTheLogAndDisablesSaveAndClear)
{
    FLog.Add({QStringLiteral("t"), QStringLiteral("Connected")});
    Open();
    FLog.Add({QStringLiteral("t"), QStringLiteral("added while open")});
    QTest::mouseClick(Button("btnClear"), Qt::LeftButton);
    EXPECT_EQ(Rows()->topLevelItemCount(), 0);
    EXPECT_TRUE(FLog.Empty()) << "Clear removes what the window did not show as well";
    EXPECT_FALSE(Button("btnSave")->isEnabled());
    EXPECT_FALSE(Button("btnClear")->isEnabled());
    EXPECT_TRUE(FDialogs.Errors.isEmpty());

    FForm.hide();
    Open();
    EXPECT_EQ(Rows()->topLevelItemCount(), 0);
}

TEST_F(TLogFormTest, SaveWritesEveryEntryOfTheLogExactly)
{
    FLog.Add({QStringLiteral("06/12/2000 14:05:09"), QStringLiteral("Connected")});
    FLog.Add({QStringLiteral("06/12/2000 14:05:10"), QString()});
    Open();
    FLog.Add({QStringLiteral("06/12/2000 14:05:11"), QStringLiteral("Grüße, \"quoted\"")});
    const std::string fileName = FDir.File("activity.log");
    WriteFile(fileName, std::string(500, 'x'));

    SaveTo(fileName);

    EXPECT_EQ(ReadFile(fileName), "06/12/2000 14:05:09   Connected\r\n"
                                  "06/12/2000 14:05:10   \r\n"
                                  "06/12/2000 14:05:11   Gr\xc3\xbc\xc3\x9f"
                                  "e, \"quoted\"\r\n");
    ASSERT_EQ(FDialogs.SaveFilters.size(), 1);
    EXPECT_EQ(FDialogs.SaveFilters[0],
              QStringLiteral("Log files (*.log *.LOG);;Text files (*.txt *.TXT)"));
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    EXPECT_EQ(
        FDialogs.SaveProposals,
        QStringList{QDir(documents).filePath(
            QStringLiteral("mailbeacon-%1.log").arg(QDate::currentDate().toString(Qt::ISODate)))});
    EXPECT_EQ(Rows()->topLevelItemCount(), 2);
    EXPECT_EQ(FLog.Count(), 3u);
    EXPECT_TRUE(FDialogs.Errors.isEmpty());
    EXPECT_TRUE(FForm.isVisible());
}

TEST_F(TLogFormTest, CancelledSaveWritesNothing)
{
    FLog.Add({QStringLiteral("t"), QStringLiteral("Connected")});
    Open();
    SaveTo("");
    EXPECT_EQ(FDialogs.SaveFilters.size(), 1);
    EXPECT_TRUE(std::filesystem::is_empty(FDir.Path()));
    EXPECT_TRUE(FDialogs.Errors.isEmpty());
    EXPECT_TRUE(FForm.isVisible());
}

TEST_F(TLogFormTest, FailedSaveShowsTheSystemsTextAndKeepsTheLog)
{
    FLog.Add({QStringLiteral("t"), QStringLiteral("Connected")});
    Open();

    SaveTo(FDir.File("missing/activity.log"));
    ASSERT_EQ(FDialogs.Errors.size(), 1);
    EXPECT_TRUE(FDialogs.Errors[0].contains(QStringLiteral("No such file or directory")))
        << FDialogs.Errors[0].toStdString();
    EXPECT_TRUE(
        FDialogs.Errors[0].contains(QString::fromStdString(FDir.File("missing/activity.log"))));

    SaveTo("/dev/full");
    ASSERT_EQ(FDialogs.Errors.size(), 2);
    EXPECT_TRUE(FDialogs.Errors[1].contains(QStringLiteral("No space left on device")))
        << FDialogs.Errors[1].toStdString();

    EXPECT_EQ(FLog.Count(), 1u);
    EXPECT_EQ(Rows()->topLevelItemCount(), 1);
    EXPECT_TRUE(Button("btnSave")->isEnabled());
    EXPECT_TRUE(FForm.isVisible());
}

// Before, the window had a fixed size: a long action could only be read by scrolling sideways.
TEST_F(TLogFormTest, ALargerWindowWidensTheTableAndKeepsTheButtonsInTheCorner)
{
    Open();
    const QSize design = FForm.size();
    FForm.resize(design.width() + 200, design.height() + 100);
    ASSERT_TRUE(WaitFor([&] { return FForm.width() == design.width() + 200; }));
    FForm.layout()->activate();
    QPushButton* close = Button("btnClose");
    const QPoint corner = close->mapTo(&FForm, QPoint(close->width(), close->height()));
    EXPECT_GT(corner.x(), FForm.width() - 20);
    EXPECT_GT(corner.y(), FForm.height() - 20);
    EXPECT_GT(Rows()->width(), design.width());
    EXPECT_EQ(Button("btnSave")->y(), close->y());
    EXPECT_LT(Button("btnSave")->x(), close->x());
}

} // namespace
