#include "desktop/Installation.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStringList>

namespace Installation {

QString ApplicationId()
{
    return QStringLiteral(MB_APPLICATION_ID);
}

QString PrefixOf(const QString& programFolder)
{
    const QDir bin(programFolder);
    if (bin.dirName() != QStringLiteral("bin"))
        return {};
    const QString prefix =
        QFileInfo(bin.absoluteFilePath(QStringLiteral(".."))).canonicalFilePath();
    if (prefix.isEmpty())
        return {};
    const QString launcher = prefix + QStringLiteral("/share/applications/") + ApplicationId() +
                             QStringLiteral(".desktop");
    return QFileInfo::exists(launcher) ? prefix : QString();
}

QString Prefix()
{
    return PrefixOf(QCoreApplication::applicationDirPath());
}

QString IconReference()
{
    const QString prefix = Prefix();
    if (prefix.isEmpty())
        return {};
    // The XDG default when the variable is unset or empty.
    QString dataDirs = qEnvironmentVariable("XDG_DATA_DIRS");
    if (dataDirs.isEmpty())
        dataDirs = QStringLiteral("/usr/local/share:/usr/share");
    const QString share = prefix + QStringLiteral("/share");
    for (const QString& folder : dataDirs.split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        if (QDir::cleanPath(folder) == share)
            return ApplicationId();
    }
    const QString drawing = share + QStringLiteral("/icons/hicolor/scalable/apps/") +
                            ApplicationId() + QStringLiteral(".svg");
    return QFileInfo::exists(drawing) ? drawing : QString();
}

} // namespace Installation
