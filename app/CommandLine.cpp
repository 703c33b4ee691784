#include "app/CommandLine.h"

#include "app/CheckCommand.h"
#include "app/PreviewCommand.h"
#include "config/StorePath.h"
#include "net/VersionFile.h"

#include <ostream>

TCommandLineMode CommandLineMode(const std::vector<std::string>& arguments)
{
    bool help = false;
    bool version = false;
    for (std::size_t index = 0; index < arguments.size(); ++index) {
        const std::string& argument = arguments[index];
        if (argument == "--config")
            ++index;
        else if (argument == "--preview")
            index += 2;
        else if (argument == "--help" || argument == "-h")
            help = true;
        else if (argument == "--version")
            version = true;
    }
    if (help)
        return TCommandLineMode::Help;
    if (version)
        return TCommandLineMode::Version;
    if (IsPreviewCommand(arguments))
        return TCommandLineMode::Preview;
    return IsCheckCommand(arguments) ? TCommandLineMode::Check : TCommandLineMode::TrayProgram;
}

std::string UsageText()
{
    // The settings file this run would use without --config, so that the text names the real
    // one when MAILBEACON_CONFIG or XDG_CONFIG_HOME is set.
    const std::string defaultStore = StoreFileName({});
    return "Usage: mailbeacon [--show] [--config FILE]\n"
           "       mailbeacon --check [--json] [--verbose] [--config FILE]\n"
           "       mailbeacon --preview ACCOUNT NUMBER [--json] [--config FILE]\n"
           "       mailbeacon --help\n"
           "       mailbeacon --version\n"
           "\n"
           "Without --check or --preview, Mailbeacon starts in the system tray and checks the\n"
           "POP3 accounts of its settings file; a second start brings the running copy\n"
           "forward.\n"
           "\n"
           "Options:\n"
           "  --check        check every included account once, without a window, and exit:\n"
           "                 one tab-separated line per message (account, from, subject,\n"
           "                 date, size) and the summary line\n"
           "  --preview ACCOUNT NUMBER\n"
           "                 show what the preview pane shows of message NUMBER of the\n"
           "                 account (From, To, Subject, Attachments and the text), without a\n"
           "                 window, and exit\n"
           "  --json         with --check: print one JSON document instead (summary, total,\n"
           "                 new, errors, rows, log); with --preview: summary, errors,\n"
           "                 account, number, preview (from, to, subject, attachments,\n"
           "                 message_id, text; null when it failed) and log\n"
           "  --verbose      with --check: write the status texts to standard error as they\n"
           "                 happen\n"
           "  --config FILE  the settings file to use (also --config=FILE); without it\n"
           "                 $MAILBEACON_CONFIG, else\n"
           "                 ${XDG_CONFIG_HOME:-~/.config}/Hollinway/Mailbeacon 2.0.reg\n"
           "                 (here: " +
           defaultStore +
           ")\n"
           "  --show         open the window at start (as the application menu's launcher\n"
           "                 does) instead of starting hidden in the system tray\n"
           "  --help         show this text and exit\n"
           "  --version      show the version and exit\n"
           "\n"
           "Exit status of --check: 0 when every included account answered, 1 otherwise,\n"
           "2 for a bad command line or a settings file that cannot be read. Of --preview:\n"
           "0 when the message was shown, 1 when the account or the message could not be\n"
           "reached, 2 for a bad command line, a settings file that cannot be read or an\n"
           "account it does not hold.\n";
}

std::string VersionText()
{
    return std::string("Mailbeacon ") + InstalledVersion + "\n";
}

int RunCommandLineMode(TCommandLineMode mode, const std::vector<std::string>& arguments,
                       std::ostream& out, std::ostream& err)
{
    switch (mode) {
    case TCommandLineMode::Help:
        out << UsageText() << std::flush;
        return 0;
    case TCommandLineMode::Version:
        out << VersionText() << std::flush;
        return 0;
    case TCommandLineMode::Check:
        return RunCheckCommand(arguments, out, err);
    case TCommandLineMode::Preview:
        return RunPreviewCommand(arguments, out, err);
    case TCommandLineMode::TrayProgram:
        break;
    }
    err << "mailbeacon: the tray program does not run from the command-line modes\n";
    return 2;
}
