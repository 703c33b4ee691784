#include "desktop/DesktopNotifier.h"

#include "desktop/Icons.h"
#include "desktop/Installation.h"
#include "desktop/TrayIcon.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QImage>
#include <QVariantMap>

namespace {

const QString Service = QStringLiteral("org.freedesktop.Notifications");
const QString ObjectPath = QStringLiteral("/org/freedesktop/Notifications");
const QString Interface = QStringLiteral("org.freedesktop.Notifications");
const QString DefaultAction = QStringLiteral("default");
const QString ShowAction = QStringLiteral("show");
const QString MailClientAction = QStringLiteral("mailclient");
// A service that does not answer within this many milliseconds is taken as absent.
constexpr int CallTimeout = 5000;
// The size of the program's image in a pop-up, for services that take the pixels.
constexpr int ImageSize = 48;

// The "image-data" hint: raw RGBA pixels with their layout, the notification service's (iiibiiay).
struct TImageData
{
    int Width = 0;
    int Height = 0;
    int RowStride = 0;
    bool HasAlpha = true;
    int BitsPerSample = 8;
    int Channels = 4;
    QByteArray Data;
};

} // namespace

Q_DECLARE_METATYPE(TImageData)

namespace {

QDBusArgument& operator<<(QDBusArgument& argument, const TImageData& image)
{
    argument.beginStructure();
    argument << image.Width << image.Height << image.RowStride << image.HasAlpha
             << image.BitsPerSample << image.Channels << image.Data;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, TImageData& image)
{
    argument.beginStructure();
    argument >> image.Width >> image.Height >> image.RowStride >> image.HasAlpha >>
        image.BitsPerSample >> image.Channels >> image.Data;
    argument.endStructure();
    return argument;
}

TImageData ProgramImage()
{
    const QImage image = Icons::ProgramIcon()
                             .pixmap(ImageSize, ImageSize)
                             .toImage()
                             .convertToFormat(QImage::Format_RGBA8888);
    TImageData data;
    data.Width = image.width();
    data.Height = image.height();
    data.RowStride = static_cast<int>(image.bytesPerLine());
    data.Data = QByteArray(reinterpret_cast<const char*>(image.constBits()),
                           static_cast<qsizetype>(image.sizeInBytes()));
    return data;
}

// The body markup of the service is a small XML subset: the three characters that would start
// markup or an entity are written as entities.
QString EscapeMarkup(const QString& text)
{
    QString escaped;
    escaped.reserve(text.size());
    for (const QChar c : text) {
        if (c == u'&')
            escaped += QStringLiteral("&amp;");
        else if (c == u'<')
            escaped += QStringLiteral("&lt;");
        else if (c == u'>')
            escaped += QStringLiteral("&gt;");
        else
            escaped += c;
    }
    return escaped;
}

} // namespace

TDesktopNotifier::TDesktopNotifier(TTrayIcon* tray, const QDBusConnection& bus, QObject* parent)
    : TNotifier(parent)
    , FTray(tray)
    , FBus(bus)
{
    qDBusRegisterMetaType<TImageData>();
    if (FTray) {
        connect(FTray, &TTrayIcon::MessageClicked, this, [this] {
            if (FRoute == TRoute::Balloon)
                Q_EMIT ShowRequested();
        });
    }
    if (FBus.isConnected()) {
        FBus.connect(Service, ObjectPath, Interface, QStringLiteral("ActionInvoked"), this,
                     SLOT(ActionInvoked(uint, QString)));
        FBus.connect(Service, ObjectPath, Interface, QStringLiteral("NotificationClosed"), this,
                     SLOT(NotificationClosed(uint, uint)));
    }
}

TDesktopNotifier::TDesktopNotifier(TTrayIcon* tray, QObject* parent)
    : TDesktopNotifier(tray, QDBusConnection::sessionBus(), parent)
{}

// The service is asked what it can do each time: it may have been replaced since the last
// pop-up, and one that reads markup needs the texts escaped.
void TDesktopNotifier::Notify(const TDesktopNotice& notice)
{
    const std::uint64_t sequence = ++FSequence;
    if (!FBus.isConnected()) {
        ShowBalloon(notice);
        return;
    }
    const QDBusMessage question = QDBusMessage::createMethodCall(Service, ObjectPath, Interface,
                                                                 QStringLiteral("GetCapabilities"));
    auto* watcher = new QDBusPendingCallWatcher(FBus.asyncCall(question, CallTimeout), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, notice, sequence] {
        watcher->deleteLater();
        if (!Current(sequence))
            return;
        const QDBusPendingReply<QStringList> reply = *watcher;
        if (reply.isError())
            ShowBalloon(notice);
        else
            Send(notice, sequence, reply.value().contains(QStringLiteral("body-markup")));
    });
}

void TDesktopNotifier::Send(const TDesktopNotice& notice, std::uint64_t sequence, bool markup)
{
    QStringList lines = notice.Lines;
    if (markup) {
        for (QString& line : lines)
            line = EscapeMarkup(line);
    }
    QStringList actions = {DefaultAction, tr("Show"), ShowAction, tr("Show")};
    if (notice.OfferMailClient)
        actions << MailClientAction << tr("Start Mail Client");
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), Installation::ApplicationId());
    hints.insert(QStringLiteral("category"), QStringLiteral("email.arrived"));
    const QString icon = Installation::IconReference();
    if (icon.isEmpty())
        hints.insert(QStringLiteral("image-data"), QVariant::fromValue(ProgramImage()));

    QDBusMessage message =
        QDBusMessage::createMethodCall(Service, ObjectPath, Interface, QStringLiteral("Notify"));
    // Replacing the pop-up shown before keeps one pop-up of the program on the desktop.
    message << QStringLiteral("Mailbeacon") << static_cast<uint>(FId) << icon << notice.Summary
            << lines.join(u'\n') << actions << hints << static_cast<qint32>(-1);
    auto* watcher = new QDBusPendingCallWatcher(FBus.asyncCall(message, CallTimeout), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, notice, sequence] {
        watcher->deleteLater();
        if (!Current(sequence))
            return;
        const QDBusPendingReply<uint> reply = *watcher;
        if (reply.isError()) {
            ShowBalloon(notice);
            return;
        }
        FId = reply.value();
        Finish(TRoute::Service);
    });
}

void TDesktopNotifier::ShowBalloon(const TDesktopNotice& notice)
{
    const bool shown = FTray && FTray->ShowMessage(notice.Summary, notice.Lines.join(u'\n'));
    Finish(shown ? TRoute::Balloon : TRoute::None);
}

void TDesktopNotifier::Finish(TRoute route)
{
    FRoute = route;
    Q_EMIT Routed(route);
}

void TDesktopNotifier::ActionInvoked(uint id, const QString& action)
{
    if (id == 0 || id != FId)
        return;
    if (action == DefaultAction || action == ShowAction)
        Q_EMIT ShowRequested();
    else if (action == MailClientAction)
        Q_EMIT MailClientRequested();
}

void TDesktopNotifier::NotificationClosed(uint id, uint)
{
    if (id != 0 && id == FId)
        FId = 0;
}
