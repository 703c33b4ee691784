#pragma once

#include <QString>

#include <functional>
#include <memory>

// Plays one wave file at a time without waiting for it.
class IWavPlayer
{
public:
    virtual ~IWavPlayer() = default;
    // Starts the file and returns at once, replacing what plays; a file that cannot be played
    // and a machine without sound play nothing, silently.
    virtual void Play(const QString& fileName, bool loop) = 0;
    virtual void Stop() = 0;
};

// The notification sound: plays the user's wave file once, without waiting, when new mail is
// announced.
class TWavSound
{
public:
    // Plays through the desktop's sound output unless a test gives another player.
    TWavSound();
    explicit TWavSound(std::unique_ptr<IWavPlayer> player);
    ~TWavSound();
    TWavSound(const TWavSound&) = delete;
    TWavSound& operator=(const TWavSound&) = delete;

    QString SoundFile() const { return FSoundFile; }
    // Stops what plays; the new file plays at the next activation.
    void SetSoundFile(const QString& fileName);
    bool SoundLoop() const { return FSoundLoop; }
    void SetSoundLoop(bool loop) { FSoundLoop = loop; }
    bool Active() const { return FActive; }
    // True plays the sound file (never before one was set). Without looping, Active is false
    // again as soon as the sound has started; false stops a looped sound.
    void SetActive(bool active);

    std::function<void()> BeforePlay;
    std::function<void()> AfterPlay;

private:
    void Play();

    std::unique_ptr<IWavPlayer> FPlayer;
    QString FSoundFile;
    bool FSoundFileSet = false;
    bool FSoundLoop = true;
    bool FActive = false;
};
