#pragma once

#include <QObject>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>

class QLocalServer;
class QLocalSocket;
class QLockFile;

// Keeps one copy of the program running per user: the first copy holds a lock and listens for
// later ones; a later copy asks the first to show its window and then ends.
class TSingleInstance : public QObject
{
    Q_OBJECT

public:
    // How long a later copy waits for the first one to answer.
    static constexpr std::chrono::milliseconds HandOverTime{1500};

    // The lock and the listening socket are named after name, in folder (the user's runtime
    // folder when empty).
    explicit TSingleInstance(const QString& name = QStringLiteral("Mailbeacon"),
                             const QString& folder = {}, QObject* parent = nullptr);
    ~TSingleInstance() override;

    // Asks the copy already running to show its window (default true).
    bool SwitchToPrevious = true;
    // Runs when another copy is found to be running.
    std::function<void()> AlreadyExist;

    // True when this copy may run: it is the first, or the lock could not be made at all (a
    // broken runtime folder must not keep the program from starting). False when another copy
    // runs: that copy has been asked to show itself and this one should end.
    bool Start();
    // Whether the copy running before answered the hand-over of Start.
    bool PreviousAnswered() const { return FPreviousAnswered; }

    QString LockFileName() const;
    QString ServerName() const;

Q_SIGNALS:
    // A later copy asked this one to show its window.
    void ShowRequested();

private:
    void Listen();
    void ServeConnection();
    void ReadRequest(QLocalSocket* socket);
    bool AskPreviousToShow();

    QString FFolder;
    QString FName;
    std::unique_ptr<QLockFile> FLock;
    QLocalServer* FServer = nullptr;
    bool FPreviousAnswered = false;
};
