#include "app/MailClient.h"

#include "desktop/ShellOpen.h"

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

std::string TrimControls(const std::string& text)
{
    const auto isBlank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
    std::size_t first = 0;
    while (first < text.size() && isBlank(text[first]))
        ++first;
    std::size_t last = text.size();
    while (last > first && isBlank(text[last - 1]))
        --last;
    return text.substr(first, last - first);
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
    shell.Open(QString::fromStdString(TrimControls(command.Program)),
               QString::fromStdString(TrimControls(command.Parameters)));
    return true;
}
