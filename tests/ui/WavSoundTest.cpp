#include "desktop/WavSound.h"

#include "tests/support/TempDir.h"

#include <QElapsedTimer>
#include <QStringList>

#include <gtest/gtest.h>

#include <memory>

namespace {

// Records what it is asked to play into a list the test shares, together with the events.
class TFakePlayer : public IWavPlayer
{
public:
    explicit TFakePlayer(QStringList& calls)
        : FCalls(calls)
    {}

    void Play(const QString& fileName, bool loop) override
    {
        FCalls.append(
            QStringLiteral("play %1%2").arg(fileName, loop ? QStringLiteral(" loop") : QString()));
    }
    void Stop() override { FCalls.append(QStringLiteral("stop")); }

private:
    QStringList& FCalls;
};

class TWavSoundTest : public ::testing::Test
{
protected:
    TWavSoundTest()
        : FSound(std::make_unique<TFakePlayer>(FCalls))
    {
        FSound.BeforePlay = [this] { FCalls.append(QStringLiteral("before")); };
        FSound.AfterPlay = [this] { FCalls.append(QStringLiteral("after")); };
    }

    QStringList FCalls;
    TWavSound FSound;
};

TEST_F(TWavSoundTest, NothingPlaysBeforeASoundFileIsSet)
{
    EXPECT_FALSE(FSound.Active());
    FSound.SetActive(true);
    EXPECT_FALSE(FSound.Active());
    EXPECT_TRUE(FCalls.isEmpty());
}

TEST_F(TWavSoundTest, SoundWithoutLoopPlaysOnceAndIsInactiveAtOnce)
{
    FSound.SetSoundLoop(false);
    FSound.SetSoundFile(QStringLiteral("/sounds/mail.wav"));
    EXPECT_EQ(FCalls, QStringList{QStringLiteral("stop")}) << "setting the file only stops";
    FCalls.clear();

    FSound.SetActive(true);
    EXPECT_FALSE(FSound.Active());
    EXPECT_EQ(FCalls,
              (QStringList{QStringLiteral("before"), QStringLiteral("play /sounds/mail.wav"),
                           QStringLiteral("after")}));

    FCalls.clear();
    FSound.SetActive(false);
    EXPECT_TRUE(FCalls.isEmpty()) << "nothing is active to stop";
}

TEST_F(TWavSoundTest, LoopedSoundPlaysUntilDeactivated)
{
    EXPECT_TRUE(FSound.SoundLoop()) << "the player's own default";
    FSound.SetSoundFile(QStringLiteral("/sounds/alarm.wav"));
    FCalls.clear();
    FSound.SetActive(true);
    EXPECT_TRUE(FSound.Active());
    EXPECT_EQ(FCalls, (QStringList{QStringLiteral("before"),
                                   QStringLiteral("play /sounds/alarm.wav loop")}));

    FCalls.clear();
    FSound.SetActive(false);
    EXPECT_FALSE(FSound.Active());
    EXPECT_EQ(FCalls, (QStringList{QStringLiteral("stop"), QStringLiteral("after")}));
}

TEST_F(TWavSoundTest, NewFileStopsTheSoundAndAnEmptyOneOnlySilences)
{
    FSound.SetSoundFile(QStringLiteral("/sounds/alarm.wav"));
    FSound.SetActive(true);
    FCalls.clear();
    FSound.SetSoundFile(QStringLiteral("/sounds/other.wav"));
    EXPECT_EQ(FCalls, QStringList{QStringLiteral("stop")}) << "stopped at once, not replayed";

    FSound.SetSoundLoop(false);
    FSound.SetSoundFile(QString());
    FCalls.clear();
    FSound.SetActive(true);
    EXPECT_EQ(FCalls, (QStringList{QStringLiteral("before"), QStringLiteral("stop"),
                                   QStringLiteral("after")}));
}

// The desktop's own player: a file it cannot play, or a machine without sound, costs nothing
// and is not reported.
TEST(TWavSoundPlayerTest, UnplayableFilesReturnAtOnce)
{
    TTempDir dir;
    WriteFile(dir.File("garbage.wav"), "RIFF this is no wave data");
    TWavSound sound;
    sound.SetSoundLoop(false);
    QElapsedTimer clock;
    clock.start();
    for (const std::string& name : {dir.File("missing.wav"), dir.File("garbage.wav")}) {
        sound.SetSoundFile(QString::fromStdString(name));
        sound.SetActive(true);
        EXPECT_FALSE(sound.Active());
    }
    sound.SetSoundFile(QString());
    EXPECT_LT(clock.elapsed(), 1000);
}

} // namespace
