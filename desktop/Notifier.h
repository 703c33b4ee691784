#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

// One pop-up as the program asks for it.
struct TDesktopNotice
{
    // "3 new messages".
    QString Summary;
    // Plain text, one line each; the notifier escapes what the desktop would read as markup.
    QStringList Lines;
    // Offers "Start Mail Client" beside "Show".
    bool OfferMailClient = false;
};

// Shows the program's pop-ups on the desktop. A new pop-up replaces the one shown before
// instead of stacking; failing to show one is no error.
class TNotifier : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    virtual void Notify(const TDesktopNotice& notice) = 0;

Q_SIGNALS:
    // The user clicked the pop-up or chose its "Show".
    void ShowRequested();
    // The user chose the pop-up's "Start Mail Client".
    void MailClientRequested();
};
