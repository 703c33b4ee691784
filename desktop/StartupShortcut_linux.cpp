#include "desktop/Installation.h"
#include "desktop/StartupShortcut.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <utility>

namespace {

// A string value of a desktop entry holds no raw line breaks or tabs, and a backslash starts
// an escape.
QString EscapeValue(const QString& text)
{
    QString escaped;
    escaped.reserve(text.size());
    for (const QChar c : text) {
        if (c == u'\\')
            escaped += QStringLiteral("\\\\");
        else if (c == u'\n')
            escaped += QStringLiteral("\\n");
        else if (c == u'\t')
            escaped += QStringLiteral("\\t");
        else if (c == u'\r')
            escaped += QStringLiteral("\\r");
        else
            escaped += c;
    }
    return escaped;
}

// One argument of the Exec key, always quoted so that blanks and shell characters in the path
// stay part of it. Inside the quotes ", `, $ and \ are escaped, a literal % is doubled (it
// would start a field code), and the string escapes of the whole value come on top.
QString ExecArgument(const QString& argument)
{
    QString quoted = QStringLiteral("\"");
    for (const QChar c : argument) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += u'\\';
        if (c == u'%')
            quoted += u'%';
        quoted += c;
    }
    quoted += u'"';
    return EscapeValue(quoted);
}

// An installed program names its icon, so that the desktop's list of start-up programs shows it.
QString EntryText(const QString& program)
{
    const QString folder = QFileInfo(program).absolutePath();
    const QString icon = Installation::IconReference();
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=Mailbeacon\n"
                          "Comment=Tells you when mail waits on your POP3 servers\n"
                          "Exec=%1\n"
                          "Path=%2\n"
                          "%3"
                          "Terminal=false\n"
                          "X-GNOME-Autostart-enabled=true\n")
        .arg(ExecArgument(program), EscapeValue(folder),
             icon.isEmpty() ? QString() : QStringLiteral("Icon=%1\n").arg(EscapeValue(icon)));
}

} // namespace

TStartupShortcut::TStartupShortcut(QString folder, QString program)
    : FFolder(std::move(folder))
    , FProgram(std::move(program))
{}

QString TStartupShortcut::Folder() const
{
    if (!FFolder.isEmpty())
        return FFolder;
    // ${XDG_CONFIG_HOME:-~/.config}/autostart, where the desktop looks for such entries.
    return QStandardPaths::writableLocation(QStandardPaths::ConfigLocation) +
           QStringLiteral("/autostart");
}

QString TStartupShortcut::Program() const
{
    return FProgram.isEmpty() ? QCoreApplication::applicationFilePath() : FProgram;
}

QString TStartupShortcut::OptionText()
{
    return QStringLiteral("Start Mailbeacon when I log in");
}

QString TStartupShortcut::FileName() const
{
    return QDir(Folder()).filePath(QStringLiteral("Mailbeacon.desktop"));
}

QString TStartupShortcut::Create() const
{
    const QString program = QFileInfo(Program()).absoluteFilePath();
    if (!QDir().mkpath(Folder()))
        return QStringLiteral("the folder \"%1\" cannot be created").arg(Folder());
    // Written aside and renamed, so the desktop never starts from half an entry.
    QSaveFile file(FileName());
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    const QByteArray text = EntryText(program).toUtf8();
    if (file.write(text) != text.size())
        return file.errorString();
    if (!file.commit())
        return file.errorString();
    return {};
}

QString TStartupShortcut::Renew() const
{
    QFile file(FileName());
    if (!file.exists())
        return {};
    const QString program = QFileInfo(Program()).absoluteFilePath();
    if (file.open(QIODevice::ReadOnly) && file.readAll() == EntryText(program).toUtf8())
        return {};
    file.close();
    return Create();
}

QString TStartupShortcut::Delete() const
{
    QFile file(FileName());
    if (file.remove() || !file.exists())
        return {};
    return file.errorString();
}
