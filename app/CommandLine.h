#pragma once

#include <iosfwd>
#include <string>
#include <vector>

// The program's modes as the command line selects them. Everything but the tray program is
// decided and run before any window exists, without a display.
enum class TCommandLineMode
{
    TrayProgram,
    Help,
    Version,
    Check,
    Preview,
};

// The mode the arguments (without the program's name) ask for: --help (or -h) before
// --version before --preview before --check; the name after --config is a file name, and the
// two words after --preview its account and number, whatever they look like.
TCommandLineMode CommandLineMode(const std::vector<std::string>& arguments);

// "--help": every option of the program.
std::string UsageText();
// "--version": the program's name and version.
std::string VersionText();

// Runs a command-line mode (not the tray program) and returns its exit status: 0 for --help
// and --version, the check's status for --check (0, 1 or 2, see RunCheckCommand), the
// preview's for --preview (see RunPreviewCommand).
int RunCommandLineMode(TCommandLineMode mode, const std::vector<std::string>& arguments,
                       std::ostream& out, std::ostream& err);
