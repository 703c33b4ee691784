#include "desktop/Icons.h"

#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

#include <array>

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

} // namespace Icons
