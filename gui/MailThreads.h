#pragma once

#include "mail/MailCheck.h"
#include "mail/MailDelete.h"
#include "mail/MailPreview.h"
#include "pop3/InterruptibleSocketApi.h"

#include <QMetaType>
#include <QString>
#include <QThread>

#include <atomic>
#include <memory>
#include <string>

class THeaderCaches;
class TWirePOP3;

// Base of the workers of the three mail operations. A worker gets a copy of everything its
// operation needs before it starts, runs the operation with a POP3 client of its own, and
// reports only through queued signals, so that the controller changes the window, the log,
// ErrorCount, LastTotal and Busy on its own thread. It frees itself when it has ended.
class TMailThread : public QThread
{
    Q_OBJECT

public:
    // A worker still running is aborted and waited for.
    ~TMailThread() override;

    // Stop: the operation notices it at its next check point, and the connection under way is
    // broken off at the socket, so that a wait on a silent server ends at once, whatever the
    // transport above the socket. The operation then reports no more status texts or errors:
    // what fails after Stop fails because of it. May be called from any thread.
    void Cancel();
    bool Cancelled() const { return FCancel; }
    // For the end of the program: cancels, breaks off the connection under way and waits
    // for the worker to end.
    void Abort();

    // Longest wait for a connection and for every read, in milliseconds.
    int Timeout = 60000;

Q_SIGNALS:
    // A status text of the POP3 client.
    void StatusText(const QString& text);
    // One error for ErrorCount; logLine goes to the action log, statusText is posted as a
    // status text; either may be empty.
    void ErrorCounted(const QString& logLine, const QString& statusText);
    // A line for the action log that counts no error (why a connection failed).
    void LogLine(const QString& text);
    // An account whose session failed, with the reason in the user's words.
    void AccountFailed(const QString& account, const QString& reason);

protected:
    explicit TMailThread(QObject* parent = nullptr);

    // The operation's body, on the worker's thread.
    virtual void Execute(TWirePOP3& client) = 0;
    const std::atomic<bool>& CancelFlag() const { return FCancel; }
    void PostStatus(const std::string& text);
    void PostFailure(const std::string& text, TFailureReport report);
    void PostAccountFailed(const std::string& account, const std::string& reason);

private:
    void run() final;

    std::atomic<bool> FCancel{false};
    TInterruptibleSocketApi FSockets;
};

// A worker whose operation reports through TEvents: the status texts and failures of the
// operation become the worker's signals here, the same for the three workers. A worker class
// keeps its request itself and aborts itself in its own destructor, so that its body never
// runs on a half-destroyed object.
template <class TEvents> class TMailThreadOf : public TMailThread, protected TEvents
{
protected:
    using TMailThread::TMailThread;

private:
    void Status(const std::string& text) final { PostStatus(text); }
    void LogEntry(const std::string& text) final
    {
        if (!Cancelled())
            Q_EMIT LogLine(QString::fromStdString(text));
    }
    void Failure(const std::string& text, TFailureReport report) final
    {
        PostFailure(text, report);
    }
    void AccountFailed(const std::string& account, const std::string& reason) final
    {
        PostAccountFailed(account, reason);
    }
};

// The worker of a mail check (CheckMail): lists the messages of every included account and
// posts each row as it arrives.
class TCheckMailThread : public TMailThreadOf<ICheckEvents>
{
    Q_OBJECT

public:
    // The caches are used by the check alone while it runs.
    TCheckMailThread(TCheckRequest request, std::shared_ptr<THeaderCaches> caches,
                     QObject* parent = nullptr);
    ~TCheckMailThread() override;

Q_SIGNALS:
    void RowReady(const TMessageRow& row);

private:
    void Execute(TWirePOP3& client) override;
    void ListRow(const TMessageRow& row) override;

    TCheckRequest FRequest;
    std::shared_ptr<THeaderCaches> FCaches;
};

// The worker of a message preview (RetrieveMessagePreview): fetches the beginning of one
// message and posts the pane's texts.
class TMsgInfoThread : public TMailThreadOf<IPreviewEvents>
{
    Q_OBJECT

public:
    explicit TMsgInfoThread(TPreviewRequest request, QObject* parent = nullptr);
    ~TMsgInfoThread() override;

Q_SIGNALS:
    void PreviewReady(const TMessagePreview& preview);

private:
    void Execute(TWirePOP3& client) override;
    void ShowPreview(const TMessagePreview& preview) override;

    const TPreviewRequest FRequest;
};

// The worker of a deletion (DeleteMessages): deletes the messages of the selected rows and
// posts each deletion the server accepted.
class TDeleteMsgThread : public TMailThreadOf<IDeleteEvents>
{
    Q_OBJECT

public:
    explicit TDeleteMsgThread(TDeleteRequest request, QObject* parent = nullptr);
    ~TDeleteMsgThread() override;

Q_SIGNALS:
    void MessageDeleted(const TMessageRow& row);

private:
    void Execute(TWirePOP3& client) override;
    void Deleted(const TMessageRow& row) override;

    const TDeleteRequest FRequest;
};

Q_DECLARE_METATYPE(TMessageRow)
Q_DECLARE_METATYPE(TMessagePreview)
