#include "desktop/ShellOpen.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QUrl>

#include <utility>

namespace {

// "C:\..." and "/usr/bin/x" are paths; a scheme has at least two characters before its colon.
bool IsAddress(const QString& text)
{
    static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]+:"));
    return scheme.match(text).hasMatch();
}

} // namespace

TShellOpen::TShellOpen(TUrlHandler urlHandler)
    : FUrlHandler(std::move(urlHandler))
{
    if (!FUrlHandler)
        FUrlHandler = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
}

void TShellOpen::Open(const QString& file, const QString& parameters)
{
    if (file.isEmpty())
        return;
    if (IsAddress(file)) {
        FUrlHandler(QUrl(file, QUrl::TolerantMode));
        return;
    }
    const QFileInfo info(file);
    const QString program = info.isFile() ? (info.isExecutable() ? file : QString())
                                          : QStandardPaths::findExecutable(file);
    if (!program.isEmpty()) {
        QProcess::startDetached(program, QProcess::splitCommand(parameters));
        return;
    }
    FUrlHandler(QUrl::fromLocalFile(info.absoluteFilePath()));
}
