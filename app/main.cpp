// The program's entry: the application object, the store named on the command line, and the
// main window, which runs everything else from the event loop; or the command-line check,
// which needs no display.
#include "app/CheckCommand.h"
#include "app/MainFrm.h"
#include "config/FileKeyStore.h"
#include "config/StorePath.h"
#include "desktop/Icons.h"
#include "desktop/TerminationSignals.h"

#include <QApplication>
#include <QCoreApplication>

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char* argv[])
{
    const std::vector<std::string> commandLine(argv + 1, argv + argc);
    if (IsCheckCommand(commandLine)) {
        QCoreApplication application(argc, argv);
        return RunCheckCommand(commandLine, std::cout, std::cerr);
    }

    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Mailbeacon"));
    QApplication::setOrganizationName(QStringLiteral("Hollinway"));
    QApplication::setApplicationVersion(QStringLiteral("2.0"));
    QApplication::setWindowIcon(Icons::ProgramIcon());
    // Closing the window hides the program; it ends only by Exit or with the session.
    QApplication::setQuitOnLastWindowClosed(false);

    std::vector<std::string> arguments;
    const QStringList given = QApplication::arguments();
    for (qsizetype index = 1; index < given.size(); ++index)
        arguments.push_back(given[index].toStdString());
    TFileKeyStore store(StoreFileName(arguments));

    TMainForm mainForm(store);
    TTerminationSignals terminationSignals;
    QObject::connect(&terminationSignals, &TTerminationSignals::Received, &mainForm, [&mainForm] {
        mainForm.QueryEndSession();
        mainForm.close();
    });

    // Until a tray icon is on the desktop, the window is the program's only way in.
    mainForm.actFileOpenMailbeaconExecute();
    return QApplication::exec();
}
