#pragma once

#include <iosfwd>
#include <string>
#include <vector>

// "mailbeacon --check [--json] [--verbose] [--config FILE]": one mail check over the stored
// accounts without a window, with the window's check code.

// Whether the arguments (without the program's name) ask for the command-line check rather
// than the tray program.
bool IsCheckCommand(const std::vector<std::string>& arguments);

// Runs the check and prints its rows and summary, or one JSON document, to out; usage errors,
// store errors and, with --verbose, the status texts and log lines go to err. Returns the
// exit status: 0 when every included account answered, 1 otherwise, 2 for a bad command line
// or a store that cannot be read.
int RunCheckCommand(const std::vector<std::string>& arguments, std::ostream& out,
                    std::ostream& err);
