#include "desktop/SingleInstance.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QLoggingCategory>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>

#include <algorithm>

namespace {

// Quiet unless asked for (QT_LOGGING_RULES="mailbeacon.instance.info=true"): which copy holds
// the lock and what the others asked of it.
Q_LOGGING_CATEGORY(lcInstance, "mailbeacon.instance", QtWarningMsg)

const QByteArray ShowRequest = QByteArrayLiteral("SHOW\n");
const QByteArray ShowAnswer = QByteArrayLiteral("OK\n");
constexpr int MaxRequestLength = 64;
// A caller that connects and says nothing is dropped after this.
constexpr int RequestTimeout = 5000;
constexpr int ConnectRetryPause = 50;

int Remaining(const QDeadlineTimer& deadline)
{
    return static_cast<int>(std::max<qint64>(0, deadline.remainingTime()));
}

} // namespace

TSingleInstance::TSingleInstance(const QString& name, const QString& folder, QObject* parent)
    : QObject(parent)
    , FFolder(folder)
    , FName(name)
{
    if (FFolder.isEmpty())
        FFolder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (FFolder.isEmpty())
        FFolder = QDir::tempPath();
}

TSingleInstance::~TSingleInstance() = default;

QString TSingleInstance::LockFileName() const
{
    return QDir(FFolder).filePath(FName + QStringLiteral(".lock"));
}

QString TSingleInstance::ServerName() const
{
    return QDir(FFolder).filePath(FName + QStringLiteral(".socket"));
}

bool TSingleInstance::Start()
{
    FLock = std::make_unique<QLockFile>(LockFileName());
    // Never stale by age: a lock whose process has gone is taken over all the same.
    FLock->setStaleLockTime(0);
    if (FLock->tryLock(0)) {
        qCInfo(lcInstance) << "this copy runs; lock" << LockFileName();
        Listen();
        return true;
    }
    if (FLock->error() != QLockFile::LockFailedError) {
        qCWarning(lcInstance).noquote()
            << "cannot create the lock" << LockFileName()
            << "- starting without the check for a copy already running";
        FLock.reset();
        return true;
    }
    qint64 pid = 0;
    QString host;
    QString application;
    FLock->getLockInfo(&pid, &host, &application);
    FLock.reset();
    qCInfo(lcInstance) << "already running as process" << pid;
    if (AlreadyExist)
        AlreadyExist();
    if (SwitchToPrevious) {
        FPreviousAnswered = AskPreviousToShow();
        if (!FPreviousAnswered) {
            qCWarning(lcInstance).noquote()
                << QStringLiteral("Mailbeacon is already running (process %1) but did not "
                                  "answer; this copy ends.")
                       .arg(pid);
        }
    }
    return false;
}

// Only this user may connect; a socket left behind by a copy that was killed is replaced.
void TSingleInstance::Listen()
{
    FServer = new QLocalServer(this);
    FServer->setSocketOptions(QLocalServer::UserAccessOption);
    QLocalServer::removeServer(ServerName());
    if (!FServer->listen(ServerName())) {
        qCWarning(lcInstance).noquote()
            << "cannot listen on" << ServerName() << "-" << FServer->errorString();
        return;
    }
    connect(FServer, &QLocalServer::newConnection, this, &TSingleInstance::ServeConnection);
}

void TSingleInstance::ServeConnection()
{
    while (QLocalSocket* socket = FServer->nextPendingConnection()) {
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { ReadRequest(socket); });
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        QTimer::singleShot(RequestTimeout, socket, [socket] {
            socket->abort();
            socket->deleteLater();
        });
        ReadRequest(socket);
    }
}

void TSingleInstance::ReadRequest(QLocalSocket* socket)
{
    if (!socket->canReadLine()) {
        if (socket->bytesAvailable() > MaxRequestLength)
            socket->abort();
        return;
    }
    if (socket->readLine(MaxRequestLength + 1) != ShowRequest) {
        socket->abort();
        return;
    }
    qCInfo(lcInstance) << "another start asked this copy to show its window";
    Q_EMIT ShowRequested();
    socket->write(ShowAnswer);
    socket->disconnectFromServer();
}

// Runs before the event loop of a copy that is about to end, so it may wait. The first copy
// may hold the lock and not listen yet while it starts; the connection is tried again until
// the time is up.
bool TSingleInstance::AskPreviousToShow()
{
    const QDeadlineTimer deadline(HandOverTime);
    QLocalSocket socket;
    for (;;) {
        socket.connectToServer(ServerName());
        if (socket.waitForConnected(Remaining(deadline)))
            break;
        if (deadline.hasExpired())
            return false;
        QThread::msleep(std::min(ConnectRetryPause, Remaining(deadline)));
    }
    socket.write(ShowRequest);
    if (!socket.waitForBytesWritten(Remaining(deadline)))
        return false;
    while (!socket.canReadLine()) {
        if (deadline.hasExpired() || !socket.waitForReadyRead(Remaining(deadline)))
            return false;
    }
    return socket.readLine(MaxRequestLength) == ShowAnswer;
}
