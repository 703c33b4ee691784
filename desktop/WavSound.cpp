#include "desktop/WavSound.h"

#include <QAudioDevice>
#include <QMediaDevices>
#include <QSoundEffect>
#include <QUrl>

namespace {

// Plays through the desktop's default sound output. The sound effect is made at the first
// sound and kept, since destroying it would cut the sound short; it loads and plays on Qt's
// own threads, so nothing here waits. Without a sound output nothing plays: the effect would
// report itself playing forever there.
class TSoundEffectPlayer : public IWavPlayer
{
public:
    void Play(const QString& fileName, bool loop) override
    {
        const QAudioDevice output = QMediaDevices::defaultAudioOutput();
        if (output.isNull()) {
            Stop();
            return;
        }
        if (!FEffect)
            FEffect = std::make_unique<QSoundEffect>(output);
        else if (FEffect->audioDevice() != output)
            FEffect->setAudioDevice(output);
        FEffect->stop();
        const QUrl source = QUrl::fromLocalFile(fileName);
        // The same file again is not read again, unless it could not be read before (it may
        // have been put in place since).
        if (FEffect->source() != source || FEffect->status() == QSoundEffect::Error) {
            FEffect->setSource(QUrl());
            FEffect->setSource(source);
        }
        FEffect->setLoopCount(loop ? QSoundEffect::Infinite : 1);
        FEffect->play();
    }

    void Stop() override
    {
        if (FEffect)
            FEffect->stop();
    }

private:
    std::unique_ptr<QSoundEffect> FEffect;
};

} // namespace

TWavSound::TWavSound()
    : TWavSound(std::make_unique<TSoundEffectPlayer>())
{}

TWavSound::TWavSound(std::unique_ptr<IWavPlayer> player)
    : FPlayer(std::move(player))
{}

TWavSound::~TWavSound() = default;

void TWavSound::SetSoundFile(const QString& fileName)
{
    FSoundFile = fileName;
    FSoundFileSet = true;
    FPlayer->Stop();
}

void TWavSound::SetActive(bool active)
{
    if (active) {
        if (!FSoundFileSet)
            return;
        FActive = true;
        Play();
        if (!FSoundLoop) {
            FActive = false;
            if (AfterPlay)
                AfterPlay();
        }
    } else if (FActive) {
        FActive = false;
        FPlayer->Stop();
        if (AfterPlay)
            AfterPlay();
    }
}

// An empty file name silences what plays.
void TWavSound::Play()
{
    if (BeforePlay)
        BeforePlay();
    if (FSoundFile.isEmpty())
        FPlayer->Stop();
    else
        FPlayer->Play(FSoundFile, FSoundLoop);
}
