// The program's entry: the command-line check, which needs no display; or the application
// object, the guard against a second copy, the store named on the command line, and the main
// window, which runs everything else from the event loop.
#include "gui/MainFrm.h"

#include "app/CheckCommand.h"
#include "config/FileKeyStore.h"
#include "config/StorePath.h"
#include "desktop/Icons.h"
#include "desktop/SingleInstance.h"
#include "desktop/TerminationSignals.h"

#include <QApplication>
#include <QCoreApplication>

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char* argv[])
{
    // A one-off check runs beside the copy in the tray and does not take part in the guard.
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

    // A second copy hands over to the first before it reads the store or shows anything.
    TSingleInstance singleInstance;
    if (!singleInstance.Start())
        return singleInstance.PreviousAnswered() ? 0 : 1;

    std::vector<std::string> arguments;
    const QStringList given = QApplication::arguments();
    for (qsizetype index = 1; index < given.size(); ++index)
        arguments.push_back(given[index].toStdString());
    TFileKeyStore store(StoreFileName(arguments));

    TMainForm mainForm(store);
    QObject::connect(&singleInstance, &TSingleInstance::ShowRequested, &mainForm,
                     &TMainForm::actFileOpenMailbeaconExecute);
    TTerminationSignals terminationSignals;
    QObject::connect(&terminationSignals, &TTerminationSignals::Received, &mainForm, [&mainForm] {
        mainForm.QueryEndSession();
        mainForm.close();
    });

    mainForm.StartInTray();
    return QApplication::exec();
}
