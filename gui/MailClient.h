#pragma once

#include <functional>
#include <string>

class IShellOpen;

// The program and the parameter text that the MailClient option names: a program path alone,
// or a path in double quotes followed by the parameters.
struct TMailClientCommand
{
    // As taken from the option: the existence test uses it before any trimming.
    std::string Program;
    std::string Parameters;
};

TMailClientCommand ParseMailClient(const std::string& setting);

// Starts the mail client through the shell when the program file exists, after calling
// beforeStart (the window hides itself there). A program that does not exist starts nothing
// and shows nothing. True when the client was handed to the shell.
bool StartMailClient(const std::string& setting, IShellOpen& shell,
                     const std::function<void()>& beforeStart);
