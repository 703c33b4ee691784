// Where an installed program finds its files, and the start-up entry it repairs.
#include "desktop/Installation.h"

#include "desktop/StartupShortcut.h"
#include "tests/support/TempDir.h"

#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

namespace {

// An install tree under dir: bin/ and, with a launcher, share/applications/<id>.desktop.
QString Tree(const TTempDir& dir, bool launcher)
{
    std::filesystem::create_directories(dir.File("usr/bin"));
    if (launcher) {
        std::filesystem::create_directories(dir.File("usr/share/applications"));
        WriteFile(dir.File("usr/share/applications/" + Installation::ApplicationId().toStdString() +
                           ".desktop"),
                  "[Desktop Entry]\n");
    }
    return QString::fromStdString(dir.File("usr/bin"));
}

TEST(InstallationTest, APrefixIsOneWithTheProgramInBinAndItsLauncherBesideIt)
{
    TTempDir installed;
    const QString bin = Tree(installed, true);
    EXPECT_EQ(Installation::PrefixOf(bin),
              QFileInfo(QString::fromStdString(installed.File("usr"))).canonicalFilePath());
    TTempDir bare;
    EXPECT_EQ(Installation::PrefixOf(Tree(bare, false)), QString()) << "no launcher";
    EXPECT_EQ(Installation::PrefixOf(QString::fromStdString(installed.File("usr/share"))),
              QString())
        << "not a bin folder";
    // The test program runs from the build tree.
    EXPECT_EQ(Installation::Prefix(), QString());
    EXPECT_EQ(Installation::IconReference(), QString());
}

TEST(InstallationTest, RenewRewritesOnlyAnEntryThatStartsAnotherProgram)
{
    TTempDir dir;
    const QString folder = QString::fromStdString(dir.File("autostart"));
    const TStartupShortcut installed(folder, QStringLiteral("/usr/bin/mailbeacon"));
    // No entry: the user has none, and none is made.
    ASSERT_EQ(installed.Renew(), QString());
    EXPECT_FALSE(QFileInfo::exists(installed.FileName()));

    const TStartupShortcut buildTree(folder,
                                     QStringLiteral("/home/ann/mailbeacon/build/app/mailbeacon"));
    ASSERT_EQ(buildTree.Create(), QString());
    ASSERT_EQ(installed.Renew(), QString());
    const std::string entry = ReadFile(installed.FileName().toStdString());
    EXPECT_NE(entry.find("Exec=\"/usr/bin/mailbeacon\""), std::string::npos) << entry;

    // The same entry again is left alone: the file is not even written afresh.
    const auto inode = [&] {
        struct stat status
        {};
        ::stat(installed.FileName().toLocal8Bit().constData(), &status);
        return status.st_ino;
    };
    const auto before = inode();
    EXPECT_EQ(installed.Renew(), QString());
    EXPECT_EQ(inode(), before);
}

} // namespace
