#include "gui/MailClient.h"

#include "desktop/ShellOpen.h"
#include "pop3/StrUtils.h"

#include <QString>

#include <filesystem>
#include <system_error>

TMailClientCommand ParseMailClient(const std::string& setting)
{
    TMailClientCommand command{setting, setting};
    const std::size_t opening = command.Program.find('"');
    if (opening == std::string::npos) {
        command.Parameters.clear();
        return command;
    }
    command.Program.erase(opening, 1);
    const std::size_t closing = command.Program.find('"');
    if (closing == std::string::npos) {
        // An unclosed quote leaves the whole option as the program name, quote and all.
        command.Program = setting;
        command.Parameters.clear();
        return command;
    }
    // The program keeps any text before the opening quote; the parameters lose the quoted
    // part with both its quotes, and keep the rest around it.
    command.Program.resize(closing);
    command.Parameters.erase(opening, closing - opening + 2);
    return command;
}

bool StartMailClient(const std::string& setting, IShellOpen& shell,
                     const std::function<void()>& beforeStart)
{
    const TMailClientCommand command = ParseMailClient(setting);
    std::error_code error;
    if (command.Program.empty() || !std::filesystem::is_regular_file(command.Program, error))
        return false;
    if (beforeStart)
        beforeStart();
    shell.Open(QString::fromStdString(std::string(Trim(command.Program))),
               QString::fromStdString(std::string(Trim(command.Parameters))));
    return true;
}
