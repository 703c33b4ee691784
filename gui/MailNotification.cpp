#include "gui/MailNotification.h"

#include "mail/CheckOutcome.h"

#include <QCoreApplication>

#include <algorithm>

namespace {

QString Tr(const char* text)
{
    return QCoreApplication::translate("MailNotification", text);
}

// A message without a sender name shows its address; one without either, or without a
// subject, says so rather than leave a gap.
QString MessageLine(const TMessageRow& row)
{
    QString sender = QString::fromStdString(row.From).trimmed();
    if (sender.isEmpty())
        sender = QString::fromStdString(row.Address).trimmed();
    if (sender.isEmpty())
        sender = Tr("(unknown sender)");
    QString subject = QString::fromStdString(row.Subject).trimmed();
    if (subject.isEmpty())
        subject = Tr("(no subject)");
    return sender + QStringLiteral(" \u2014 ") + subject;
}

} // namespace

TDesktopNotice DesktopNoticeOf(const TMailNotice& notice, bool offerMailClient)
{
    TDesktopNotice desktop;
    const int count = notice.Count;
    if (notice.New)
        desktop.Summary = count == 1 ? Tr("1 new message") : Tr("%1 new messages").arg(count);
    else
        desktop.Summary =
            count == 1 ? Tr("1 message waiting") : Tr("%1 messages waiting").arg(count);
    const int listed = static_cast<int>(notice.Messages.size());
    const int shown = std::min(listed, MaxNoticeLines);
    for (int index = 0; index < shown; ++index)
        desktop.Lines.append(MessageLine(notice.Messages[static_cast<std::size_t>(index)]));
    if (listed > shown)
        desktop.Lines.append(Tr("and %1 more").arg(listed - shown));
    desktop.OfferMailClient = offerMailClient;
    return desktop;
}
