#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <string>

// A program started by a test, its output (both channels) collected as it comes; it is killed
// when the test ends, if it still runs.
class TChildProcess
{
public:
    TChildProcess() = default;
    ~TChildProcess();
    TChildProcess(const TChildProcess&) = delete;
    TChildProcess& operator=(const TChildProcess&) = delete;

    bool Start(const QString& program, const QStringList& arguments,
               const QProcessEnvironment& environment);
    // Whether the output holds text within the time.
    bool WaitForOutput(const QString& text, int milliseconds);
    bool WaitForFinished(int milliseconds);
    bool Running() const { return FProcess.state() != QProcess::NotRunning; }
    // All the output so far.
    QString Output();
    QProcess& Process() { return FProcess; }

private:
    QProcess FProcess;
    QString FOutput;
};

// Runs a command to its end; its standard output, or nothing when it did not end well in time.
struct TCommandResult
{
    bool Succeeded = false;
    QString Output;
};
TCommandResult RunCommand(const QString& program, const QStringList& arguments,
                          const QProcessEnvironment& environment, int milliseconds = 5000);

// The environment of a program that keeps everything of its own in folder: the store (made here
// with one account that is not checked, so that the program starts in the tray rather than on
// its first-run dialog), the configuration folder and the runtime folder (made here, mode 0700).
// No session bus, and the single-instance guard reports what it does.
QProcessEnvironment PrivateEnvironment(const std::string& folder);

// The program under test.
QString ProgramPath();
