#include "desktop/StartupShortcut.h"

#include "tests/support/TempDir.h"

#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>

#include <gtest/gtest.h>

namespace {

QString Folder(const TTempDir& dir)
{
    return QString::fromStdString(dir.File("autostart"));
}

QStringList EntryLines(const TStartupShortcut& shortcut)
{
    return QString::fromStdString(ReadFile(shortcut.FileName().toStdString()))
        .split(u'\n', Qt::SkipEmptyParts);
}

TEST(StartupShortcutTest, EntryStartsTheProgramByItsPathFromItsFolder)
{
    TTempDir dir;
    const TStartupShortcut shortcut(Folder(dir), QStringLiteral("/opt/Mail Beacon/bin/mailbeacon"));
    EXPECT_EQ(shortcut.FileName(), Folder(dir) + QStringLiteral("/Mailbeacon.desktop"));
    ASSERT_EQ(shortcut.Create(), QString());
    const QStringList lines = EntryLines(shortcut);
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_EQ(lines[0], QStringLiteral("[Desktop Entry]"));
    EXPECT_TRUE(lines.contains(QStringLiteral("Type=Application")));
    EXPECT_TRUE(lines.contains(QStringLiteral("Exec=\"/opt/Mail Beacon/bin/mailbeacon\"")));
    EXPECT_TRUE(lines.contains(QStringLiteral("Path=/opt/Mail Beacon/bin")));

    // Written again over the old one; removed, and removing it twice is no failure.
    EXPECT_EQ(shortcut.Create(), QString());
    EXPECT_EQ(shortcut.Delete(), QString());
    EXPECT_FALSE(QFileInfo::exists(shortcut.FileName()));
    EXPECT_EQ(shortcut.Delete(), QString());
}

// Quotes, dollars, backquotes and backslashes are escaped inside the quoted argument, a percent
// is doubled, and the value's own escaping doubles every backslash once more.
TEST(StartupShortcutTest, ExecArgumentEscapesWhatTheDesktopWouldReadOtherwise)
{
    TTempDir dir;
    const TStartupShortcut shortcut(Folder(dir),
                                    QStringLiteral("/tmp/a b/100% \"x\"$y`z`\\w/mailbeacon"));
    ASSERT_EQ(shortcut.Create(), QString());
    EXPECT_TRUE(EntryLines(shortcut).contains(QStringLiteral(
        "Exec=\"/tmp/a b/100%% \\\\\"x\\\\\"\\\\$y\\\\`z\\\\`\\\\\\\\w/mailbeacon\"")))
        << EntryLines(shortcut).join(u'\n').toStdString();
}

TEST(StartupShortcutTest, EntryPassesTheDesktopFileValidator)
{
    const QString validator =
        QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
    if (validator.isEmpty())
        GTEST_SKIP() << "desktop-file-validate is missing (package desktop-file-utils)";
    TTempDir dir;
    for (const QString& program :
         {QStringLiteral("/usr/bin/mailbeacon"),
          QStringLiteral("/opt/My Apps/100% \"odd\" $dir\\name/mailbeacon")}) {
        const TStartupShortcut shortcut(Folder(dir), program);
        ASSERT_EQ(shortcut.Create(), QString());
        QProcess process;
        process.start(validator, {shortcut.FileName()});
        ASSERT_TRUE(process.waitForFinished(10000));
        EXPECT_EQ(process.exitCode(), 0)
            << program.toStdString() << ": " << process.readAllStandardOutput().toStdString();
        EXPECT_TRUE(process.readAllStandardOutput().trimmed().isEmpty());
    }
}

TEST(StartupShortcutTest, FolderThatCannotBeMadeIsReported)
{
    TTempDir dir;
    WriteFile(dir.File("file"), "");
    const TStartupShortcut shortcut(QString::fromStdString(dir.File("file/autostart")),
                                    QStringLiteral("/usr/bin/mailbeacon"));
    EXPECT_FALSE(shortcut.Create().isEmpty());
    EXPECT_EQ(shortcut.Delete(), QString()) << "nothing there to remove";
}

} // namespace
