#include "desktop/SingleInstance.h"

#include "tests/support/TempDir.h"
#include "tests/ui/UiSupport.h"

#include <QElapsedTimer>
#include <QFile>
#include <QLocalSocket>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

class TSingleInstanceTest : public ::testing::Test
{
protected:
    QString Folder() const { return QString::fromStdString(FDir.Path()); }

    TTempDir FDir;
};

TEST_F(TSingleInstanceTest, LaterCopyAsksTheFirstToShowItselfAndEnds)
{
    TSingleInstance first(QStringLiteral("Mailbeacon"), Folder());
    ASSERT_TRUE(first.Start());
    EXPECT_TRUE(QFile::exists(first.LockFileName()));
    QSignalSpy shows(&first, &TSingleInstance::ShowRequested);

    // The later copy waits for the answer, so it runs beside this thread's event loop.
    std::atomic<bool> done = false;
    bool secondRuns = true;
    bool answered = false;
    bool existed = false;
    std::thread secondCopy([&] {
        TSingleInstance second(QStringLiteral("Mailbeacon"), Folder());
        second.AlreadyExist = [&] { existed = true; };
        secondRuns = second.Start();
        answered = second.PreviousAnswered();
        done = true;
    });
    const bool finished = WaitFor([&] { return done.load(); }, 5000);
    secondCopy.join();
    ASSERT_TRUE(finished);
    EXPECT_FALSE(secondRuns);
    EXPECT_TRUE(existed);
    EXPECT_TRUE(answered);
    EXPECT_EQ(shows.size(), 1);
}

TEST_F(TSingleInstanceTest, LaterCopyEndsWhenTheFirstDoesNotAnswer)
{
    TSingleInstance first(QStringLiteral("Mailbeacon"), Folder());
    ASSERT_TRUE(first.Start());
    // This thread never returns to its event loop while the later copy waits: a frozen copy.
    TSingleInstance second(QStringLiteral("Mailbeacon"), Folder());
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(second.Start());
    EXPECT_FALSE(second.PreviousAnswered());
    EXPECT_LT(clock.elapsed(), 2000);
}

TEST_F(TSingleInstanceTest, AnythingButTheRequestIsDropped)
{
    TSingleInstance first(QStringLiteral("Mailbeacon"), Folder());
    ASSERT_TRUE(first.Start());
    QSignalSpy shows(&first, &TSingleInstance::ShowRequested);
    QLocalSocket socket;
    socket.connectToServer(first.ServerName());
    ASSERT_TRUE(socket.waitForConnected(1000));
    socket.write(QByteArray(200, 'x'));
    socket.flush();
    EXPECT_TRUE(WaitFor([&] { return socket.state() == QLocalSocket::UnconnectedState; }, 3000));
    EXPECT_EQ(shows.size(), 0);
}

TEST_F(TSingleInstanceTest, StartsWhenTheLockCannotBeMadeAtAll)
{
    TSingleInstance instance(QStringLiteral("Mailbeacon"), Folder() + QStringLiteral("/missing"));
    EXPECT_TRUE(instance.Start()) << "a broken runtime folder must not keep the program away";
}

TEST_F(TSingleInstanceTest, LockEndsWithItsHolder)
{
    {
        TSingleInstance first(QStringLiteral("Mailbeacon"), Folder());
        ASSERT_TRUE(first.Start());
    }
    TSingleInstance next(QStringLiteral("Mailbeacon"), Folder());
    EXPECT_TRUE(next.Start());
}

} // namespace
