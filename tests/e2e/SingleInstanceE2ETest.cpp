// Two real copies of the program in one private runtime folder: the later one hands over to
// the first and ends; a copy killed outright leaves nothing that keeps the next one away.
#include "tests/e2e/ChildProcess.h"
#include "tests/support/TempDir.h"
#include "tests/ui/UiSupport.h"

#include <QElapsedTimer>
#include <QFile>

#include <gtest/gtest.h>

namespace {

const QString Runs = QStringLiteral("this copy runs");
const QString AskedToShow = QStringLiteral("asked this copy to show its window");

class TSingleInstanceE2ETest : public ::testing::Test
{
protected:
    TSingleInstanceE2ETest()
        : FEnvironment(PrivateEnvironment(FDir.Path()))
    {
        FEnvironment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    }

    QString RuntimeFile(const char* name) const
    {
        return QString::fromStdString(FDir.File("runtime/")) + QString::fromLatin1(name);
    }

    // Starts a copy that is to stay, and waits until it listens for later ones.
    void StartFirst(TChildProcess& copy)
    {
        ASSERT_TRUE(copy.Start(ProgramPath(), {}, FEnvironment));
        ASSERT_TRUE(copy.WaitForOutput(Runs, 10000)) << copy.Output().toStdString();
        ASSERT_TRUE(WaitFor([&] { return QFile::exists(RuntimeFile("Mailbeacon.socket")); }));
    }

    // Starts a later copy and expects it to hand over and end within two seconds.
    void ExpectHandOver(TChildProcess& first)
    {
        TChildProcess second;
        QElapsedTimer clock;
        clock.start();
        ASSERT_TRUE(second.Start(ProgramPath(), {}, FEnvironment));
        ASSERT_TRUE(second.WaitForFinished(5000));
        EXPECT_LT(clock.elapsed(), 2000) << "the later copy must end at once";
        EXPECT_EQ(second.Process().exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(second.Process().exitCode(), 0) << second.Output().toStdString();
        EXPECT_FALSE(second.Output().contains(Runs)) << "it must never take over";
        EXPECT_TRUE(first.WaitForOutput(AskedToShow, 3000)) << first.Output().toStdString();
    }

    TTempDir FDir;
    QProcessEnvironment FEnvironment;
};

TEST_F(TSingleInstanceE2ETest, LaterCopyHandsOverAndAKilledCopyDoesNotBlockTheNext)
{
    {
        TChildProcess first;
        StartFirst(first);
        ExpectHandOver(first);

        first.Process().kill();
        ASSERT_TRUE(first.WaitForFinished(5000));
    }
    ASSERT_TRUE(QFile::exists(RuntimeFile("Mailbeacon.lock"))) << "a killed copy leaves its lock";

    TChildProcess next;
    StartFirst(next);
    ExpectHandOver(next);

    // Ended politely, it takes its lock away.
    next.Process().terminate();
    ASSERT_TRUE(next.WaitForFinished(5000));
    EXPECT_EQ(next.Process().exitCode(), 0);
    EXPECT_FALSE(QFile::exists(RuntimeFile("Mailbeacon.lock")));
}

TEST_F(TSingleInstanceE2ETest, OneOffCheckDoesNotTakePart)
{
    TChildProcess first;
    StartFirst(first);
    TChildProcess check;
    ASSERT_TRUE(check.Start(ProgramPath(), {QStringLiteral("--check")}, FEnvironment));
    check.WaitForFinished(800);
    EXPECT_FALSE(check.Output().contains(QStringLiteral("already running")))
        << check.Output().toStdString();
    EXPECT_FALSE(first.Output().contains(AskedToShow));
}

} // namespace
