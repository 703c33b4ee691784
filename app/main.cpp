// The program's entry: the command-line modes (--help, --version, --check, --preview), decided
// before any window exists and run without a display; or the application object, the guard against
// a second copy, the store named on the command line, and the main window, which runs everything
// else from the event loop.
#include "app/CommandLine.h"
#include "config/FileKeyStore.h"
#include "config/StorePath.h"
#include "desktop/Icons.h"
#include "desktop/Installation.h"
#include "desktop/SingleInstance.h"
#include "desktop/StartupShortcut.h"
#include "desktop/TerminationSignals.h"
#include "gui/MainFrm.h"
#include "net/VersionFile.h"

#include <QApplication>
#include <QCoreApplication>

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char* argv[])
{
    // The command-line modes need Qt Core at most; a one-off check runs beside the copy in the
    // tray and does not take part in the guard.
    const std::vector<std::string> commandLine(argv + 1, argv + argc);
    if (const TCommandLineMode mode = CommandLineMode(commandLine);
        mode != TCommandLineMode::TrayProgram) {
        QCoreApplication application(argc, argv);
        return RunCommandLineMode(mode, commandLine, std::cout, std::cerr);
    }

    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Mailbeacon"));
    QApplication::setOrganizationName(QStringLiteral("Hollinway"));
    QApplication::setApplicationVersion(QString::fromLatin1(InstalledVersion));
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
    // A copy of the program killed while saving leaves its temporary file behind, a full copy
    // of the store with the enciphered passwords.
    store.RemoveStaleTemporaries();

    TMainForm mainForm(store);
    QObject::connect(&singleInstance, &TSingleInstance::ShowRequested, &mainForm,
                     &TMainForm::actFileOpenMailbeaconExecute);
    TTerminationSignals terminationSignals;
    QObject::connect(&terminationSignals, &TTerminationSignals::Received, &mainForm, [&mainForm] {
        mainForm.QueryEndSession();
        mainForm.close();
    });

    // Installed, the program repairs a start-up entry that would start another copy of it.
    if (mainForm.Configuration().ApplicationSettings.Startup && !Installation::Prefix().isEmpty())
        TStartupShortcut().Renew();

    // The application menu's launcher asks for the window; the start-up entry does not.
    if (QApplication::arguments().contains(QStringLiteral("--show")))
        mainForm.actFileOpenMailbeaconExecute();
    else
        mainForm.StartInTray();
    mainForm.OfferFirstAccount();
    return QApplication::exec();
}
