#include "desktop/Icons.h"

#include <QList>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

#include <algorithm>
#include <array>
#include <utility>

// Outside any namespace, as the resource initialiser requires.
static void InitIconResources()
{
    Q_INIT_RESOURCE(Icons);
}

namespace {

// Each icon is rendered from its drawing at every size the toolbar, menus, window and tray ask
// for, so none is a scaled bitmap.
QIcon LoadIcon(const QString& name)
{
    InitIconResources();
    QSvgRenderer renderer(QStringLiteral(":/icons/%1.svg").arg(name));
    QIcon icon;
    if (renderer.isValid()) {
        for (const int size : {16, 22, 32, 48}) {
            QPixmap pixmap(size, size);
            pixmap.fill(Qt::transparent);
            QPainter painter(&pixmap);
            renderer.render(&painter);
            painter.end();
            icon.addPixmap(pixmap);
        }
    }
    return icon;
}

} // namespace

namespace Icons {

QIcon ToolBarImage(int index)
{
    static const std::array<const char*, ToolBarImageCount> names = {
        "check", "delete", "settings", "stop",   "log",  "preview", "mailclient",
        "help",  "about",  "home",     "update", "exit", "open"};
    if (index < 0 || index >= ToolBarImageCount)
        return {};
    return LoadIcon(QString::fromLatin1(names[static_cast<std::size_t>(index)]));
}

QIcon ProgramIcon()
{
    return LoadIcon(QStringLiteral("mailbeacon"));
}

QIcon MailWaitingFrame(int frame)
{
    return LoadIcon(frame == 0 ? QStringLiteral("tray-mail-1") : QStringLiteral("tray-mail-2"));
}

QIcon OptionImage(const char* name)
{
    return LoadIcon(QString::fromLatin1(name));
}

QIcon CloseImage()
{
    return LoadIcon(QStringLiteral("close"));
}

// Drawn without text, so that the mark looks the same whatever fonts the desktop has.
QIcon WithErrorBadge(const QIcon& image)
{
    QList<QSize> sizes = image.availableSizes();
    if (sizes.isEmpty())
        sizes = {QSize(16, 16), QSize(22, 22), QSize(32, 32), QSize(48, 48)};
    QIcon badged;
    for (const QSize& size : std::as_const(sizes)) {
        QPixmap pixmap = image.pixmap(size);
        pixmap.setDevicePixelRatio(1.0);
        pixmap = pixmap.scaled(size);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        const qreal diameter = std::max(7.0, size.width() * 0.56);
        const QRectF mark(size.width() - diameter, size.height() - diameter, diameter, diameter);
        painter.setPen(QPen(Qt::white, std::max(1.0, diameter / 9)));
        painter.setBrush(QColor(0xd0, 0x1c, 0x1c));
        painter.drawEllipse(mark.adjusted(0.5, 0.5, -0.5, -0.5));
        // The exclamation mark: a bar and a dot.
        painter.setPen(Qt::NoPen);
        painter.setBrush(Qt::white);
        const qreal stroke = std::max(1.5, diameter / 6);
        const qreal x = mark.center().x() - stroke / 2;
        painter.drawRect(QRectF(x, mark.top() + diameter * 0.2, stroke, diameter * 0.38));
        painter.drawRect(QRectF(x, mark.top() + diameter * 0.66, stroke, stroke));
        painter.end();
        badged.addPixmap(pixmap);
    }
    return badged;
}

} // namespace Icons
