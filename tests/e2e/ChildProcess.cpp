#include "tests/e2e/ChildProcess.h"

#include "tests/ui/UiSupport.h"

#include <QDir>
#include <QFile>

TChildProcess::~TChildProcess()
{
    if (Running()) {
        FProcess.kill();
        FProcess.waitForFinished(3000);
    }
}

bool TChildProcess::Start(const QString& program, const QStringList& arguments,
                          const QProcessEnvironment& environment)
{
    FProcess.setProcessEnvironment(environment);
    FProcess.setProcessChannelMode(QProcess::MergedChannels);
    FProcess.start(program, arguments);
    return FProcess.waitForStarted(5000);
}

QString TChildProcess::Output()
{
    FOutput += QString::fromLocal8Bit(FProcess.readAll());
    return FOutput;
}

bool TChildProcess::WaitForOutput(const QString& text, int milliseconds)
{
    return WaitFor([&] { return Output().contains(text); }, milliseconds);
}

bool TChildProcess::WaitForFinished(int milliseconds)
{
    const bool finished = WaitFor([&] { return !Running(); }, milliseconds);
    Output();
    return finished;
}

TCommandResult RunCommand(const QString& program, const QStringList& arguments,
                          const QProcessEnvironment& environment, int milliseconds)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    TCommandResult result;
    if (!process.waitForFinished(milliseconds)) {
        process.kill();
        process.waitForFinished(1000);
        return result;
    }
    result.Succeeded = process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    result.Output = QString::fromLocal8Bit(process.readAllStandardOutput());
    return result;
}

QProcessEnvironment PrivateEnvironment(const std::string& folder)
{
    const QDir root(QString::fromStdString(folder));
    root.mkpath(QStringLiteral("runtime"));
    root.mkpath(QStringLiteral("config"));
    QFile::setPermissions(root.filePath(QStringLiteral("runtime")),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), root.filePath(QStringLiteral("runtime")));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), root.filePath(QStringLiteral("config")));
    const QString store = root.filePath(QStringLiteral("store.reg"));
    QFile file(store);
    if (!file.exists() && file.open(QIODevice::WriteOnly)) {
        file.write("REGEDIT4\r\n\r\n"
                   "[HKEY_CURRENT_USER\\Software\\Hollinway\\Mailbeacon 2.0\\Accounts\\Local]\r\n"
                   "\"Host\"=\"127.0.0.1\"\r\n"
                   "\"Include\"=dword:00000000\r\n");
    }
    environment.insert(QStringLiteral("MAILBEACON_CONFIG"), store);
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("disabled:"));
    environment.insert(QStringLiteral("QT_LOGGING_RULES"),
                       QStringLiteral("mailbeacon.instance.info=true"));
    return environment;
}

QString ProgramPath()
{
    return QStringLiteral(MB_PROGRAM);
}
