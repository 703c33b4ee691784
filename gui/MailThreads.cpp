#include "gui/MailThreads.h"

#include "pop3/Pop3Wire.h"

#include <exception>
#include <utility>

TMailThread::TMailThread(QObject* parent)
    : QThread(parent)
{
    connect(this, &QThread::finished, this, &QObject::deleteLater);
}

TMailThread::~TMailThread()
{
    if (isRunning())
        Abort();
}

void TMailThread::Cancel()
{
    FCancel = true;
    FSockets.Interrupt();
}

void TMailThread::Abort()
{
    Cancel();
    wait();
}

void TMailThread::PostStatus(const std::string& text)
{
    if (FCancel)
        return;
    Q_EMIT StatusText(QString::fromStdString(text));
}

void TMailThread::PostFailure(const std::string& text, TFailureReport report)
{
    if (FCancel)
        return;
    const QString message = QString::fromStdString(text);
    switch (report) {
    case TFailureReport::LogLine:
        Q_EMIT ErrorCounted(message, {});
        break;
    case TFailureReport::StatusText:
        Q_EMIT ErrorCounted({}, message);
        break;
    case TFailureReport::AlreadyPosted:
        Q_EMIT ErrorCounted({}, {});
        break;
    }
}

void TMailThread::PostAccountFailed(const std::string& account, const std::string& reason)
{
    // A stopped operation reports nothing more, so a session broken off by Stop fails no one.
    if (FCancel)
        return;
    Q_EMIT AccountFailed(QString::fromStdString(account), QString::fromStdString(reason));
}

void TMailThread::run()
{
    TWirePOP3 client;
    client.SetWinsock(FSockets);
    client.ConnectTimeout = Timeout;
    client.ReadTimeout = Timeout;
    try {
        Execute(client);
    } catch (const std::exception& error) {
        // The operation ends here; the window still gets its error and its end.
        PostFailure(error.what(), TFailureReport::StatusText);
    }
}

TCheckMailThread::TCheckMailThread(TCheckRequest request, std::shared_ptr<THeaderCaches> caches,
                                   QObject* parent)
    : TMailThreadOf(parent)
    , FRequest(std::move(request))
    , FCaches(std::move(caches))
{
    FRequest.Caches = FCaches.get();
    qRegisterMetaType<TMessageRow>();
}

TCheckMailThread::~TCheckMailThread()
{
    if (isRunning())
        Abort();
}

void TCheckMailThread::Execute(TWirePOP3& client)
{
    CheckMail(client, FRequest, *this, CancelFlag());
}

void TCheckMailThread::ListRow(const TMessageRow& row)
{
    Q_EMIT RowReady(row);
}

TMsgInfoThread::TMsgInfoThread(TPreviewRequest request, QObject* parent)
    : TMailThreadOf(parent)
    , FRequest(std::move(request))
{
    qRegisterMetaType<TMessagePreview>();
}

TMsgInfoThread::~TMsgInfoThread()
{
    if (isRunning())
        Abort();
}

void TMsgInfoThread::Execute(TWirePOP3& client)
{
    RetrieveMessagePreview(client, FRequest, *this, CancelFlag());
}

void TMsgInfoThread::ShowPreview(const TMessagePreview& preview)
{
    Q_EMIT PreviewReady(preview);
}

TDeleteMsgThread::TDeleteMsgThread(TDeleteRequest request, QObject* parent)
    : TMailThreadOf(parent)
    , FRequest(std::move(request))
{
    qRegisterMetaType<TMessageRow>();
}

TDeleteMsgThread::~TDeleteMsgThread()
{
    if (isRunning())
        Abort();
}

void TDeleteMsgThread::Execute(TWirePOP3& client)
{
    DeleteMessages(client, FRequest, *this, CancelFlag());
}

void TDeleteMsgThread::Deleted(const TMessageRow& row)
{
    Q_EMIT MessageDeleted(row);
}
